#!/usr/bin/env bash
# The ledger walks a table of the private cluster record by record: option
# RUN with PrcExec, the connection remembered in sqlusrprm.dat (what a
# program run with RUN connects with when no parent handed one over), the
# structure from
# the application's dictionary. Exit 77 (skipped) without a cluster.
set -u
ledger=$1
fixtures=$(cd "$(dirname "$0")" && pwd)/fixtures
if [ -z "${PGHOST:-}" ] || [ -z "${PGPORT:-}" ] || [ -z "${PGUSER:-}" ]; then
  echo "skipped: no private cluster (eval \"\$(scripts/pgcluster.sh start)\")"; exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/qvrec.XXXXXX")
db="qve_walk_$$"
trap 'rm -rf "$work"; psql -X -q -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" >/dev/null 2>&1' EXIT
psql -X -q -v ON_ERROR_STOP=1 -d postgres \
  -c "CREATE DATABASE $db ENCODING 'WIN1252' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0" || exit 1
psql -X -q -v ON_ERROR_STOP=1 -d "$db" <<'SQL' || exit 1
CREATE TABLE items ("CODE" varchar(6), "NAME" varchar(20), "PRICE" numeric(10,2));
INSERT INTO items VALUES ('B2','second',2.5),('A1','first',1),('B2','second too',3),('C3','it''s third',12.75);
SQL
cp -r "$fixtures/rec_app" "$work/app"
(umask 077 && printf "%s,%s,%s," "$PGHOST" "$db" "$PGUSER" > "$work/app/sqlusrprm.dat")
(cd "$work" && "$ledger" "/DPATH:'app'" "/RUN:'PrcExec walk.prx'" </dev/null >"$work/.out" 2>"$work/.err")
rc=$?
want="A1:first:1/B2:second:2.5/B2:second too:3/C3:it's third:12.75/end 2"
got=$(cat "$work/out.txt" 2>/dev/null)
if [ $rc -ne 0 ] || [ "$got" != "$want" ]; then
  echo "FAIL walk: exit $rc"; echo " got: $got"; echo "want: $want"; cat "$work/.err"; exit 1
fi
echo "ok   walk"

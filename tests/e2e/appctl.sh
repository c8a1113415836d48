#!/usr/bin/env bash
# appctl headless against the private cluster, driven by an answer file:
# every list and Accept window takes its answer from /INPUT, passwords
# (never kept in an answer file) come from the key script, and /OUTPUT
# records the same answers again, without a password.
set -u
appctl=$(realpath "$1")
fixtures=$(cd "$(dirname "$0")/../../apps/appctl/tests/fixtures" && pwd)
export QV_UI=headless
[ -n "${PGHOST:-}" ] && [ -n "${PGPORT:-}" ] || { echo "no private cluster: skipped"; exit 77; }
fails=0
work=$(mktemp -d "${TMPDIR:-/tmp}/qvapp.XXXXXX")
tag=$$
ann=ann_$tag bob=bob_$tag co=acme_$tag
q() { psql -X -q -At -h "$PGHOST" -U "$PGUSER" -d "${2:-postgres}" -c "$1" 2>&1; }
cleanup() {
  q "DROP DATABASE IF EXISTS \"$co\" WITH (FORCE)" >/dev/null
  for r in "$ann" "$bob" management admins trusts externs; do q "DROP ROLE IF EXISTS \"$r\"" >/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
cleanup; mkdir -p "$work"   # an empty server: no groups yet
# The host field of the connection dialogs holds 30 characters: the socket
# folder goes in by a short name.
host=$(mktemp -u /tmp/qvs.XXXXXX)
ln -s "$PGHOST" "$host"
trap 'cleanup; rm -f "$host"' EXIT
fail() { echo "FAIL $*"; fails=$((fails+1)); }
check() {  # name got wanted
  if [ "$2" = "$3" ]; then echo "ok   $1"; else fail "$1: '$2', wanted '$3'"; fi
}

mkdir -p "$work/docs"
cp "$fixtures"/*.DAT "$fixtures"/*.SQL "$work/docs/"
# The answers in the order appctl asks: lists by the item chosen ('' closes
# a list), Accept windows by their values.
printf '%s\r\n' "'Users'" "'$host','$PGUSER',''" "'New User'" "'$ann','',''" "'New User'" "'$bob','',''" "''" \
  "'Company Selection'" "'New Company'" "'$host','$co','$PGUSER',''" "'$co'" "''" \
  "'Company Users'" "'$bob'" "'W','R','N','N'" "''" \
  "'Company Groups'" "'trusts'" "'R','R','W','N'" "''" "''" > "$work/answers.txt"
# The passwords, window by window: the administrator's (none), ann's and
# bob's (typed twice), the company dialog's.
cat > "$work/keys.txt" <<KEYS
Enter
"pw1" Enter "pw1" Enter
"pw2" Enter "pw2" Enter
"x" Enter
KEYS
(cd "$work/docs" && QV_KEYS="$work/keys.txt" "$appctl" "/INPUT:'$work/answers.txt'" "/OUTPUT:'$work/rec.txt'" \
   </dev/null >"$work/out.txt" 2>"$work/err.txt")
check exit $? 0
check groups "$(q "SELECT string_agg(rolname, ',' ORDER BY rolname) FROM pg_roles WHERE rolname IN ('management','admins','trusts','externs')")" \
  "admins,externs,management,trusts"
check users_file "$(cat "$work/data/APUSRLIST.DAT")" "$ann,$bob"
check company_file "$(cat "$work/data/APCOLIST.DAT")" "$co"
check tables "$(q "SELECT string_agg(tablename || ':' || tableowner, ',' ORDER BY tablename) FROM pg_tables WHERE schemaname='public'" "$co")" \
  "clients:$ann,lines:$ann,moves:$ann"
check bob_grants "$(q "SELECT string_agg(table_name || ':' || privilege_type, ',' ORDER BY table_name, privilege_type) FROM information_schema.role_table_grants WHERE grantee='$bob'" "$co")" \
  "clients:DELETE,clients:INSERT,clients:SELECT,clients:UPDATE,lines:SELECT"
check trusts_moves "$(q "SELECT has_table_privilege('trusts', 'moves', 'INSERT')" "$co")" "t"
check bob_rights_file "$(grep "^$bob:" "$work/data/APUSRAUTH.$co.DAT" | tr -d '\r')" "$bob:WRN"
# The passwords work, and no file holds one.
PGPASSWORD=pw2 psql -X -q -At -h 127.0.0.1 -p "$PGPORT" -U "$bob" -d "$co" -c "SELECT 1" >/dev/null 2>&1
check bob_logs_in $? 0
if grep -rqE 'pw1|pw2' "$work/docs" "$work/data" "$work/rec.txt"; then fail "a password in a file"; else echo "ok   no_password_in_files"; fi
check recorded "$(tr -d '\r' < "$work/rec.txt")" "$(tr -d '\r' < "$work/answers.txt")"
if [ $fails -ne 0 ]; then echo "--- standard error"; cat "$work/err.txt"; echo "$fails case(s) failed"; exit 1; fi

#!/usr/bin/env bash
# The connection dialog of the ledger at start-up, headless, against the
# private cluster (PGHOST, PGPORT, PGUSER as the suite exports them): the
# command line names a database that does not exist, so the dialog asks; the
# key script answers it. Exit status 77 when no cluster is given.
set -u
ledger=$(realpath "$1")
src=$(cd "$(dirname "$0")" && pwd)/screens
[ -n "${PGHOST:-}" ] && [ -n "${PGUSER:-}" ] || { echo "no cluster (PGHOST, PGUSER)"; exit 77; }
export LC_ALL=C.UTF-8 QV_UI=headless
fails=0
work=$(mktemp -d "${TMPDIR:-/tmp}/qvscrpg.XXXXXX")
# The host field of the dialog holds 30 characters: the socket folder is
# typed by a short name.
host=$(mktemp -u /tmp/qvs.XXXXXX)
ln -s "$PGHOST" "$host"
trap 'rm -rf "$work" "$host"' EXIT

fail() { echo "FAIL $name: $*"; [ -f "$dir/.err" ] && cat "$dir/.err"; fails=$((fails+1)); }

run() {  # name keys
  name=$1; dir="$work/$name"; cp -r "$src" "$dir"
  printf '%s\n' "$2" > "$dir/keys.txt"
  (cd "$dir" && QV_KEYS="$dir/keys.txt" QV_SCREEN_DUMP="$dir/screen.txt" "$ledger" "/DPATH:'$dir'" \
     "/sqlhost:'$PGHOST'" /database:qv_no_such_db "/user:$PGUSER" \
     "/RUN:'ExpEval WRITE(\"conn.txt\";-3;FN\$TRIM(_AUXSTAT))'" </dev/null >/dev/null 2>"$dir/.err")
  rc=$?
}

# The user types the socket folder, a database that exists and the user.
run typed "Dump \"$host\" Enter \"postgres\" Enter \"$PGUSER\" Enter Enter \"N\" Enter"
if [ $rc != 0 ]; then fail "exit $rc"
elif [ $(( $(cat "$dir/conn.txt" 2>/dev/null || echo 0) & 2048 )) = 0 ]; then fail "not connected: '$(cat "$dir/conn.txt" 2>/dev/null)'"
elif ! grep -q "Database access" "$dir/screen.txt" || ! grep -q "Remember (Y/N):" "$dir/screen.txt"; then
  fail "no connection dialog"; cat "$dir/screen.txt"
else echo "ok   typed"; fi

# Escape leaves the dialog: the start-up ends cancelled, nothing runs.
run escape "Esc"
if [ -e "$dir/conn.txt" ]; then fail "the program ran without a connection"
elif ! grep -q "User Canceled" "$dir/.err"; then fail "no cancel reported"
else echo "ok   escape"; fi

[ $fails -eq 0 ] || { echo "$fails case(s) failed"; exit 1; }

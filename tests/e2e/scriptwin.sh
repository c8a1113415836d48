#!/usr/bin/env bash
# Script windows of procedures, headless: a key script in, the screen dump
# and standard output out. Each case runs in a fresh folder.
set -u
rtcli=$(realpath "$1") ledger=$(realpath "$2")
src=$(cd "$(dirname "$0")" && pwd)/windows
export LC_ALL=C.UTF-8 QV_UI=headless  # bash counts characters of the dump, not bytes
fails=0
work=$(mktemp -d "${TMPDIR:-/tmp}/qvwin.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL $name: $*"; [ -f "$dir/.err" ] && cat "$dir/.err"; fails=$((fails+1)); }

# Row r (from 0) of screen dump n in file f.
dump_row() {
  awk -v n="$2" -v r="$3" '/^# screen /{s++; i=-1; next} s==n{i++; if(i==r){print; exit}}' "$1"
}
# at FILE SCREEN ROW COL TEXT: the text stands at that cell of the dump.
at() {
  local line; line=$(dump_row "$1" "$2" "$3")
  [ "${line:$4:${#5}}" = "$5" ] || { fail "screen $2 row $3 col $4: '${line:$4:${#5}}', wanted '$5'"; return 1; }
}

run_case() {  # name keys program args...
  name=$1 keys=$2; shift 2
  dir="$work/$name"; cp -r "$src" "$dir"
  printf '%s\n' "$keys" > "$dir/keys.txt"
  out=$(cd "$dir" && QV_KEYS="$dir/keys.txt" QV_SCREEN_DUMP="$dir/screen.txt" QV_TREE_DUMP="$dir/tree.txt" \
        "$@" </dev/null 2>"$dir/.err")
  rc=$?
}

# WINOPEN 8,40 is centred in 80 x 24: the frame at row 7, column 19, the
# text area from row 8, column 20; LOCATE 2,5 is row 10, column 25.
run_case window "Dump Enter" "$rtcli" run window.prc
if [ $rc != 0 ]; then fail "exit $rc"
elif [ "$out" != "key Enter" ]; then fail "output '$out'"
elif at "$dir/screen.txt" 1 7 19 "┌─ Greeting ─" && at "$dir/screen.txt" 1 10 25 "Hello, world" &&
     at "$dir/screen.txt" 1 12 25 "Press a key" && at "$dir/screen.txt" 1 16 19 "└" &&
     grep -q '^  text 4000 ' "$dir/tree.txt"; then
  # at the exit the window is gone
  if dump_row "$dir/screen.txt" 2 10 | grep -q "Hello"; then fail "the window is still on the screen at the exit"
  else echo "ok   window"; fi
fi

# The same procedure as the ledger's program: option RUN with PrcExec.
run_case ledger_run "Dump F3" "$ledger" "/DPATH:'$work/ledger_run'" "/RUN:'PrcExec window.prc'"
if [ $rc != 0 ]; then fail "exit $rc"
elif at "$dir/screen.txt" 1 7 19 "┌─ Greeting ─" && at "$dir/screen.txt" 1 10 25 "Hello, world"; then
  echo "ok   ledger_run"
fi

# No key can come: WAIT KEY ends the procedure with the cancel status.
run_case window_nokey "" "$rtcli" run window.prc
if [ $rc != 0 ] || [ -n "$out" ]; then fail "exit $rc, output '$out'"; else echo "ok   window_nokey"; fi

# WINMENU takes Down and Enter; the question is answered No.
run_case choose "Down Enter No" "$rtcli" run choose.prc
if [ $rc != 0 ] || [ "$out" != "chosen 2 answer No" ]; then fail "exit $rc, output '$out'"
elif ! grep -q "Keep going?" "$dir/.err"; then fail "no question on standard error"
else echo "ok   choose"; fi

# Thirty items: the list shows what fits and scrolls to the one chosen.
run_case thirty "Dump PgDn Dump Enter" "$rtcli" run thirty.prc
if [ $rc != 0 ] || [ "$out" != "chosen 23" ]; then fail "exit $rc, output '$out'"
elif ! grep -q "1000 Cash" "$dir/screen.txt"; then fail "no list on the screen"
else echo "ok   thirty"; fi

[ $fails -eq 0 ] || { echo "$fails case(s) failed"; exit 1; }

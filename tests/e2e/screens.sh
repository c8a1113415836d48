#!/usr/bin/env bash
# Accept windows end to end, headless: a run recorded with a key script and
# option OUTPUT, then replayed from the answer file with option INPUT and no
# key script. Each case runs in a fresh folder.
set -u
rtcli=$(realpath "$1") ledger=$(realpath "$2")
src=$(cd "$(dirname "$0")" && pwd)/screens
export LC_ALL=C.UTF-8 QV_UI=headless
fails=0
work=$(mktemp -d "${TMPDIR:-/tmp}/qvscr.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL $name: $*"; [ -f "$dir/.err" ] && cat "$dir/.err"; fails=$((fails+1)); }

fresh() { name=$1; dir="$work/$name"; cp -r "$src" "$dir"; }
# A file's text without its CR characters.
lines() { tr -d '\r' < "$1" 2>/dev/null; }

# run KEYS PROGRAM ARGS...: KEYS empty means no key script at all.
run() {
  local keys=$1; shift
  rm -f "$dir/screen.txt" "$dir/tree.txt"
  if [ -n "$keys" ]; then
    printf '%s\n' "$keys" > "$dir/keys.txt"
    out=$(cd "$dir" && QV_KEYS="$dir/keys.txt" QV_SCREEN_DUMP="$dir/screen.txt" QV_TREE_DUMP="$dir/tree.txt" \
          "$@" </dev/null 2>"$dir/.err")
  else
    out=$(cd "$dir" && env -u QV_KEYS QV_SCREEN_DUMP="$dir/screen.txt" QV_TREE_DUMP="$dir/tree.txt" \
          "$@" </dev/null 2>"$dir/.err")
  fi
  rc=$?
}

want='customer=Smith & Co qty=12 note=it'"'"'s done'

# 1. ACCEPT and READ in a procedure, recorded.
fresh record
run '"Smith & Co" Enter "12" Enter Dump "it'"'"'s done" Enter' "$rtcli" run /OUTPUT:answers.txt order.prc
if [ $rc != 0 ] || [ "$out" != "$want" ]; then fail "exit $rc, output '$out'"
elif [ "$(lines "$dir/answers.txt")" != "'Smith & Co','12',\"it's done\"" ]; then fail "answers: $(cat -A "$dir/answers.txt")"
elif ! grep -q "Customer:Smith & Co" "$dir/screen.txt" || ! grep -q "\[    Ok    \]" "$dir/screen.txt"; then
  fail "no Accept window on the screen"; cat "$dir/screen.txt"
elif [ "$(tail -c 2 "$dir/answers.txt" | od -An -c | tr -d ' ')" != '\r\n' ]; then fail "the answer line does not end in CR LF"
else echo "ok   record"; fi

# 2. The same procedure replayed from the answers: the same variables, and
#    the window system is never started (no screen dump is written).
cp "$dir/answers.txt" "$work/order_answers.txt"
fresh replay
cp "$work/order_answers.txt" "$dir/answers.txt"
run "" "$rtcli" run /INPUT:answers.txt order.prc
if [ $rc != 0 ] || [ "$out" != "$want" ]; then fail "exit $rc, output '$out'"
elif [ -e "$dir/screen.txt" ]; then fail "a window was shown"; cat "$dir/screen.txt"
else echo "ok   replay"; fi

# 3. A password is recorded as an empty value and asked for on replay; the
#    window that asks shows the password field alone.
fresh password
run '"ann" Enter "s3cret!" Dump Enter' "$rtcli" run /OUTPUT:answers.txt login.prc
if [ $rc != 0 ] || [ "$out" != "user=ann password=s3cret!" ]; then fail "exit $rc, output '$out'"
elif grep -q "s3cret" "$dir/answers.txt"; then fail "the password is in the answer file"
elif grep -q "s3cret" "$dir/screen.txt" || ! grep -q "Password:\*\*\*\*\*\*\*" "$dir/screen.txt"; then
  fail "the password is shown"; cat "$dir/screen.txt"
elif [ "$(lines "$dir/answers.txt")" != "'ann',''" ]; then fail "answers: $(cat -A "$dir/answers.txt")"
else
  run 'Dump "again" Enter' "$rtcli" run /INPUT:answers.txt login.prc
  if [ $rc != 0 ] || [ "$out" != "user=ann password=again" ]; then fail "replay: exit $rc, output '$out'"
  elif ! grep -q "Password:" "$dir/screen.txt" || grep -q "User:" "$dir/screen.txt"; then
    fail "the replay window shows more than the password"; cat "$dir/screen.txt"
  else echo "ok   password"; fi
fi

# 4. The ledger's program AcceptRun, recorded; then an INPUT file of three
#    lines: the program command, its answer, and the next command, which
#    writes what the Accept window assigned.
fresh ledger
run '"Smith" Enter "7" Enter' "$ledger" "/DPATH:'$dir'" "/RUN:'AcceptRun ORDER,1'" /OUTPUT:answers.txt
if [ $rc != 0 ] || [ "$(lines "$dir/answers.txt")" != "'Smith','7'" ]; then
  fail "exit $rc, answers '$(cat "$dir/answers.txt" 2>/dev/null)'"
else
  { printf 'AcceptRun ORDER,1\r\n'; cat "$dir/answers.txt";
    printf "ExpEval WRITE('shown.txt',-3,CUST\$+'|'+FN\$TRIM(QTY#))\r\n"; } > "$dir/replay.txt"
  run "" "$ledger" "/DPATH:'$dir'" /INPUT:replay.txt "/RUN:'ExpEval 1'"
  if [ $rc != 0 ]; then fail "replay exit $rc"
  elif [ "$(cat "$dir/shown.txt" 2>/dev/null)" != "Smith|7" ]; then fail "shown '$(cat "$dir/shown.txt" 2>/dev/null)'"
  elif grep -q "Order" "$dir/screen.txt" 2>/dev/null; then fail "the Accept window was shown"
  else echo "ok   ledger"; fi
fi

# 5. rtcli exec with option INPUT and no run string runs the file's lines as
#    program commands, the answers included.
fresh exec
{ printf 'AcceptRun ORDER,1\r\n'; printf "'Jones','3'\r\n";
  printf "ExpEval WRITE('shown.txt',-3,CUST\$+'|'+FN\$TRIM(QTY#))\r\n"; } > "$dir/replay.txt"
run "" "$rtcli" exec /INPUT:replay.txt
if [ $rc != 0 ] || [ "$(cat "$dir/shown.txt" 2>/dev/null)" != "Jones|3" ]; then
  fail "exit $rc, shown '$(cat "$dir/shown.txt" 2>/dev/null)'"
elif [ -e "$dir/screen.txt" ]; then fail "a window was shown"
else echo "ok   exec"; fi

# 6. Escape: status 122 ends the procedure before PRINT; nothing recorded.
fresh escape
run '"Smith" Enter Esc' "$rtcli" run /OUTPUT:answers.txt order.prc
if [ $rc != 0 ] || [ -n "$out" ]; then fail "exit $rc, output '$out'"
elif [ -s "$dir/answers.txt" ]; then fail "a cancel was recorded"
else echo "ok   escape"; fi

[ $fails -eq 0 ] || { echo "$fails case(s) failed"; exit 1; }

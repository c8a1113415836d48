#!/usr/bin/env bash
# End-to-end cases for the three programs. Each case runs one program in a
# fresh folder and checks its exit status, what its message boxes said on
# standard error, and the files it left.
set -u
ledger=$1 billing=$2 appctl=$3
fixtures=$(cd "$(dirname "$0")" && pwd)/fixtures
fails=0
work=$(mktemp -d "${TMPDIR:-/tmp}/qve2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

# case NAME WANT_EXIT WANT_STDERR(grep -F, may be empty) -- PROGRAM ARGS...
case_() {
  local name=$1 want=$2 text=$3; shift 4
  local dir="$work/$name"; mkdir -p "$dir"
  [ -n "${SETUP:-}" ] && (cd "$dir" && eval "$SETUP")
  (cd "$dir" && "$@" </dev/null >"$dir/.out" 2>"$dir/.err")
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: exit $got, wanted $want"; cat "$dir/.err"; fails=$((fails+1)); return
  fi
  if [ -n "$text" ] && ! grep -qF -- "$text" "$dir/.err"; then
    echo "FAIL $name: standard error lacks '$text'"; cat "$dir/.err"; fails=$((fails+1)); return
  fi
  [ -n "${CHECK:-}" ] && ! (cd "$dir" && eval "$CHECK") && { echo "FAIL $name: $CHECK"; fails=$((fails+1)); return; }
  echo "ok   $name"
}

# The log start: nothing runs, exit 0, a fresh log.txt with one line.
SETUP='printf "stale\r\nlines\r\n" > log.txt' \
CHECK='[ "$(wc -l < log.txt)" = 1 ] && grep -q "trace 273" log.txt && [ ! -s .err ]' \
  case_ trace273 0 "" -- "$ledger" /TRACE:273

# Without application files the message says what is missing.
case_ no_dictionary 164 "File Not Found(DataFile): CODICC.DAT" -- "$ledger"
case_ billing_no_dictionary 164 "GADICC.DAT" -- "$billing"

# Application files are found whatever their case, with either separator in
# the names given: the folder is App, the option says app\DATA, the file is
# codicc.dat.
SETUP='mkdir -p App/Data && : > App/Data/codicc.dat && : > App/Data/coclcfix.dat' \
  case_ missing_start 163 "no start program COMENU.PMT or COMENU.PPN" -- "$ledger" "/DPATH:'app\\DATA'"
SETUP='mkdir -p apps && : > apps/GADICC.DAT && : > apps/GACLCFIX.DAT' \
  case_ dpath_slashes 163 "GAMENU.PMT" -- "$billing" "-DPATH:'$work/dpath_slashes/APPS'"

# A program command of a type the runtime does not run is answered as undefined.
SETUP=': > CODICC.DAT && : > COCLCFIX.DAT' \
  case_ run_unknown 163 "Error BADINPUTDATA: Process not defined" -- "$ledger" "/RUN:'WizzSelect x'"

# The settings files: missing optional ones are passed over, a missing
# required one ends the start with its name; the language variables are set
# from the message texts, and a failing line does not stop the next ones. The
# program command is substituted before it runs, which lets it report.
SETUP='cp -r "$fixtures/settings_app" app' \
CHECK='[ "$(cat out.txt)" = "fix+qv|Process not defined|No data Found|42|4" ]' \
  case_ settings 163 "Process not defined" -- "$ledger" "/DPATH:'app'" \
    "/RUN:\"[WRITE('out.txt';-3;B\$+'|'+T\$+'|'+U\$+'|'+FN\$TRIM(M)+'|'+FN\$TRIM(N))]\""
SETUP='mkdir -p app && : > app/CODICC.DAT' \
  case_ settings_required 164 "File Not Found(Streams): COCLCFIX.DAT" -- "$ledger" "/DPATH:'app'"

# A procedure as a program, and program commands from an answer file: run in
# order, stopping at the first that fails.
SETUP='cp -r "$fixtures/program_app" app' \
CHECK='[ "$(cat out.txt)" = "answer 42" ]' \
  case_ run_procedure 0 "" -- "$ledger" "/DPATH:'app'" "/RUN:'PrcExec main.prx,Start'"
SETUP='cp -r "$fixtures/program_app" app' \
CHECK='[ -f one.txt ] && [ ! -f two.txt ]' \
  case_ input_commands 147 "SINTAXERROR" -- "$ledger" "/DPATH:'app'" "/INPUT:'app/commands.txt'"

# appctl probing with TRACE 0x100 writes one line and ends.
CHECK='grep -q "^0,EN" APlog.txt && [ "$(wc -l < APlog.txt)" = 1 ]' \
  case_ appctl_probe 0 "About Box" -- "$appctl" -TRACE:256
# appctl has no menu file: its selection list is the program, and with
# nothing to answer it the list closes and appctl ends.
case_ appctl_start 0 "" -- "$appctl"

[ $fails -eq 0 ] || { echo "$fails case(s) failed"; exit 1; }

#!/usr/bin/env bash
# Procedures through `rtcli run` and `rtcli compile`, each case in a fresh
# copy of the fixture folder.
set -u
rtcli=$1
src=$(cd "$(dirname "$0")" && pwd)/procs
fails=0
work=$(mktemp -d "${TMPDIR:-/tmp}/qvprocs.XXXXXX")
trap 'rm -rf "$work"' EXIT

# case NAME WANT_EXIT WANT_STDOUT WANT_STDERR(grep -F or empty) -- ARGS...
case_() {
  local name=$1 want=$2 out_want=$3 err_want=$4; shift 5
  local dir="$work/$name"; cp -r "$src" "$dir"
  local out; out=$(cd "$dir" && "$rtcli" "$@" 2>"$dir/.err"); local rc=$?
  if [ "$rc" != "$want" ] || [ "$out" != "$out_want" ]; then
    echo "FAIL $name: exit $rc (wanted $want), output '$out' (wanted '$out_want')"; cat "$dir/.err"
    fails=$((fails+1)); return
  fi
  if [ -n "$err_want" ] && ! grep -qF -- "$err_want" "$dir/.err"; then
    echo "FAIL $name: standard error lacks '$err_want'"; cat "$dir/.err"; fails=$((fails+1)); return
  fi
  [ -n "${CHECK:-}" ] && ! (cd "$dir" && eval "$CHECK") && { echo "FAIL $name: $CHECK"; fails=$((fails+1)); return; }
  echo "ok   $name"
}

case_ compile_ifelse 0 "0 10 3 c
1 0 0 X=1
2 9 5 
3 0 0 X=2
4 5 2 " "" -- compile ifelse.prc
case_ label_missing 1 "" "Label 'next' in line 2 (+ remmarks) not found" -- compile nolabel.prc
case_ nest_17 1 "" "OUTOFMEMORY" -- compile nest17.prc
case_ labels_129 1 "" "OUTOFMEMORY" -- compile labels129.prc
case_ missing_file 1 "" "File Not Found" -- run nosuch.prc
case_ compute 0 "55 1024" "" -- run compute.prc
case_ call_library 0 "<box>10" "" -- run usecall.prc
case_ localvars_extra 1 "" "LOCALVARS" -- run extraarg.prc
CHECK='[ "$(wc -l < PrcLog.txt)" = 11 ] && head -1 PrcLog.txt | grep -q "^1	 I=0"' \
  case_ trace_9 0 "" "" -- run -t 9 traced.prc

[ $fails -eq 0 ] || { echo "$fails case(s) failed"; exit 1; }

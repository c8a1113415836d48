#!/usr/bin/env bash
# Runs the procedure loop of bench/proc/loop.prc through `rtcli run` and the
# same loop in Lua 5.4 and Python 3, and prints statements per second for
# each and the ratios. Usage: bench/proc_loop.sh [path/to/rtcli]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rtcli=${1:-$here/../build-bench/tools/rtcli}
[ -x "$rtcli" ] || { echo "no rtcli at $rtcli (build with -DQV_BENCH=ON, or give its path)"; exit 2; }
rtcli=$(realpath "$rtcli")
stmts=$((1000000 * 8))  # eight statements per pass, the same shape in every language

seconds() {  # command... -> elapsed seconds of the fastest of three runs
  local best=""
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }; t1=$(date +%s.%N)
    local d; d=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
  done
  echo "$best"
}

cd "$here/proc"
ours=$(seconds "$rtcli" run loop.prc)
printf "%-10s %8.3f s  %12.0f statements/s\n" procedure "$ours" "$(echo "$stmts / $ours" | bc -l)"
# The ratio is the other language's time over ours: below 1, the other is faster.
for lang in lua5.4 python3; do
  if ! command -v "$lang" >/dev/null; then echo "$lang: not installed"; continue; fi
  file=loop.lua; [ "$lang" = python3 ] && file=loop.py
  t=$(seconds "$lang" "$file")
  printf "%-10s %8.3f s  %12.0f statements/s   procedure/%s = %.2f\n" "$lang" "$t" \
    "$(echo "$stmts / $t" | bc -l)" "$lang" "$(echo "$t / $ours" | bc -l)"
done

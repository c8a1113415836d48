#!/usr/bin/env bash
# Runs every row of eval_cases.tsv through `rtcli eval` and compares what it
# prints.
set -u
rtcli=$1 cases=$2
fails=0 rows=0
while IFS= read -r line; do
  case "$line" in ''|'#'*) continue ;; esac
  IFS=$'\t' read -r -a f <<<"$line"
  want=${f[0]} opts=${f[1]}
  exprs=("${f[@]:2}")
  args=()
  [ "$opts" != "-" ] && read -r -a args <<<"$opts"
  [ "$opts" = "--" ] || args+=(--)
  out=$("$rtcli" eval "${args[@]}" "${exprs[@]}" 2>/tmp/rtcli.err.$$)
  rc=$?
  err=$(cat /tmp/rtcli.err.$$)
  rows=$((rows+1))
  if [[ $want == error:* ]]; then
    name=${want#error:}
    if [ $rc -ne 1 ] || [[ $err != *"$name"* ]]; then
      echo "FAIL ${exprs[*]}: wanted exit 1 with '$name', got exit $rc: $err"; fails=$((fails+1))
    fi
    continue
  fi
  got=$(printf '%s' "$out" | paste -sd'|')
  # A row whose last value is empty prints an empty last line.
  if [ $rc -ne 0 ] || [ "$got" != "$want" ]; then
    echo "FAIL ${exprs[*]} ($opts): got '$got' (exit $rc), wanted '$want'"; [ -n "$err" ] && echo "  $err"
    fails=$((fails+1))
  fi
done <"$cases"
rm -f /tmp/rtcli.err.$$
echo "$rows rows, $fails failed"
[ $fails -eq 0 ]

#!/usr/bin/env bash
# Dictionaries through `rtcli dict`: every structure printed as loaded.
set -u
rtcli=$1
app=$(cd "$(dirname "$0")" && pwd)/fixtures/dict_app
fails=0
err=$(mktemp "${TMPDIR:-/tmp}/qvdict.XXXXXX")
trap 'rm -f "$err"' EXIT

# case NAME PREFIX WANT_EXIT WANT_STDOUT WANT_STDERR(grep -F or empty)
case_() {
  local name=$1 prefix=$2 want=$3 out_want=$4 err_want=$5
  local out; out=$(cd / && "$rtcli" dict "$app" "$prefix" 2>"$err"); local rc=$?
  if [ "$rc" != "$want" ] || [ "$out" != "$out_want" ]; then
    echo "FAIL $name: exit $rc (wanted $want)"; diff <(echo "$out_want") <(echo "$out"); cat "$err"
    fails=$((fails+1)); return
  fi
  if [ -n "$err_want" ] && ! grep -qF -- "$err_want" "$err"; then
    echo "FAIL $name: standard error lacks '$err_want'"; cat "$err"; fails=$((fails+1)); return
  fi
  echo "ok   $name"
}

# QVSHARED is included first, so its structure is number 1; the keys of
# XXREL.DAT come before any default key; line 31 names XX's first structure.
case_ include_keys_relations XX 0 'structure 1 counters class 2 width 10 folder SHARED
  field 1 SERIES offset 0 width 4 type A
  field 2 VALUE offset 4 width 6 type N
  key 1 0+4(field 1)
structure 2 clients class 5 width 23 folder C:\DATA
  field 1 CODE offset 0 width 10 type A
  field 2 QTY offset 10 width 5 type N
  field 3 WHEN offset 15 width 8 type D
  key 1 0+10(field 1) 10+5(field 2)
  key 2 15+8(field 3)
  relations ORDERS,1
structure 3 orders class 7 width 16 folder DATA
  field 1 N_LINE offset 0 width 6 type N
  field 2 AMOUNT offset 6 width 10 type 2
  key 1 0+6(field 1)
  relations CLIENTS,2:NOTES,3
structure 4 notes class 0 width 40 folder DATA
  field 1 TEXT offset 0 width 40 type A
  key 1 0+40(field 1)' ""
case_ bad_width BB 1 'structure 1 bad class 0 width 0 folder DATA' "BADINPUTDATA(DataFile): BBDICC.DAT: line 2"
case_ missing QQ 1 '' "File Not Found(DataFile): QQDICC.DAT"

# A procedure reaches the fields by name and number; FILESTRUCT makes its
# structure the current file.
out=$(cd "$app" && "$rtcli" run use.prc 2>"$err")
if [ "$out" = "7 12.5 [abc  ] 5" ]; then echo "ok   procedure_fields"
else echo "FAIL procedure_fields: '$out'"; cat "$err"; fails=$((fails+1)); fi

[ $fails -eq 0 ] || { echo "$fails case(s) failed"; exit 1; }

#!/usr/bin/env bash
# examples/scan reports a row it cannot read, with its line, and goes on with
# the next one:
#   scan_example_test.sh SCAN_PROGRAM
set -euo pipefail
scan=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/rowkit-scan.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf 'name,age,city\nann,34,Oslo\n"bob,40,Rome\ncy,50,"Lima, PE"\ndee,20,Pune\n"eve,31,Kyiv\n' >"$work/bad.csv"
status=0
"$scan" "$work/bad.csv" >"$work/out" 2>"$work/err" || status=$?
want=$(printf 'name\tcity\tage\nann\tOslo\t34\ncy\tLima, PE\t50')
err_want=$(printf 'scan: %s:3: next failed: UnterminatedQuote\nscan: %s:6: next failed: UnterminatedQuote' "$work/bad.csv" "$work/bad.csv")
[ "$(cat "$work/out")" = "$want" ] || { echo "stdout:"; cat "$work/out"; exit 1; }
[ "$(cat "$work/err")" = "$err_want" ] || { echo "stderr:"; cat "$work/err"; exit 1; }
[ $status -eq 1 ] || { echo "exit status $status, wanted 1"; exit 1; }
status=0
"$scan" "$work/none.csv" 2>"$work/err" || status=$?
[ "$(cat "$work/err")" = "scan: open failed: FileNotFound (file \"$work/none.csv\")" ] || { echo "stderr:"; cat "$work/err"; exit 1; }
[ $status -eq 1 ] || { echo "exit status $status, wanted 1"; exit 1; }
echo "scan reported both bad rows with their lines and went on"

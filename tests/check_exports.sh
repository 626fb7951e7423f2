#!/usr/bin/env bash
# Compares the dynamic symbols a shared library defines with a list, and checks
# that it needs no library beyond libc, libm, libpthread and the loader.
set -euo pipefail
lib=$1
list=$2
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u)
expected=$(grep -v '^#' "$list" | grep -v '^$' | sort -u)
status=0
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from $list:"
  diff <(echo "$expected") <(echo "$actual") || true
  status=1
fi
needed=$(readelf -d "$lib" | awk '/NEEDED/ {print $5}' | tr -d '[]')
for n in $needed; do
  case "$n" in
    libc.so.*|libm.so.*|libpthread.so.*|ld-linux*.so.*) ;;
    lib*san.so.*|libasan*|libubsan*|libtsan*) ;;  # sanitizer builds only
    *) echo "unexpected NEEDED entry: $n"; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "exports and dependencies ok"
exit $status

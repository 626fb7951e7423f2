#!/usr/bin/env bash
# Compares the dynamic symbols a shared library defines with a list, checks
# that it needs no library beyond libc, libm, libpthread and the loader, and
# that none of the test hooks (namespaces alloc_hook, file_hook,
# collect_hook, ...) was compiled into it.
set -euo pipefail
lib=$1
list=$2
actual=$(${NM:-nm} -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u)
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
# Every symbol, local ones included: the hooks' functions and state are
# hidden, so only the full symbol table shows them.
all_symbols=$(${NM:-nm} -C "$lib" 2>/dev/null || true)
if [ -z "$all_symbols" ]; then
  echo "no symbol table in $lib: cannot check for test hooks"
  status=1
elif hooks=$(grep '_hook::' <<<"$all_symbols"); then
  echo "test hooks in the shipped library:"
  echo "$hooks"
  status=1
fi
[ $status -eq 0 ] && echo "exports, dependencies and hooks ok"
exit $status

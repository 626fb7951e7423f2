#!/usr/bin/env bash
# Compiles and runs every C example of the README, so none of them can rot:
#   readme_snippets_test.sh SOURCE_DIR LIBRARY_DIR C_COMPILER [SANITIZE]
# A block fenced as ```c that defines main is compiled as it stands; any other
# is the body of main, with its #include lines moved to the top after
# <stdio.h> and "rowkit.h". Each is compiled as strict C99 against the build
# tree, the way the README tells a user to, and run from the source directory;
# it must exit with 0 and write nothing to stderr.
set -euo pipefail
source=$1 libdir=$2 cc=$3 sanitize=${4:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/rowkit-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
flags=(-std=c99 -pedantic -Wall -Wextra -Werror)
[ -n "$sanitize" ] && flags+=("-fsanitize=$sanitize")

# Every ```c block into its own file, numbered in order.
awk -v dir="$work" '
  /^```c[ \t]*$/ { n++; file = sprintf("%s/snippet%02d.txt", dir, n); inside = 1; next }
  /^```/ && inside { inside = 0; close(file); next }
  inside { print > file }
' "$source/README.md"

status=0 count=0
for body in "$work"/snippet*.txt; do
  [ -e "$body" ] || { echo "no C examples in README.md"; exit 1; }
  count=$((count + 1))
  name=$(basename "$body" .txt)
  program=$work/$name.c
  if grep -q '\bmain *(' "$body"; then
    cp "$body" "$program"
  else
    {
      echo '#include <stdio.h>'
      echo '#include "rowkit.h"'
      grep '^#include' "$body" || true
      echo 'int main(void) {'
      grep -v '^#include' "$body"
      echo 'return 0;'
      echo '}'
    } >"$program"
  fi
  if ! "$cc" "${flags[@]}" -I "$source/include" "$program" -L "$libdir" -lrowkit \
      -Wl,-rpath,"$libdir" -o "$work/$name" 2>"$work/$name.err"; then
    echo "README C example $count does not compile:"; cat "$work/$name.err"; cat -n "$program"
    status=1
    continue
  fi
  if ! (cd "$source" && "$work/$name" >"$work/$name.out" 2>"$work/$name.err") || [ -s "$work/$name.err" ]; then
    echo "README C example $count fails when run:"; cat "$work/$name.err"; cat -n "$program"
    status=1
  fi
done
[ $status -eq 0 ] && echo "$count C examples of README.md compile and run"
exit $status

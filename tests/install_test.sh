#!/usr/bin/env bash
# Installs the build into a fresh temporary prefix and builds and runs a
# client against it, found the way a user finds it:
#   install_test.sh pkg-config|find-package BUILD_DIR SOURCE_DIR C_COMPILER CMAKE GENERATOR [SANITIZE]
# The client checks that the installed header and the installed library carry
# the same version, and counts the rows of examples/people.csv.
set -euo pipefail
mode=$1 build=$2 source=$3 cc=$4 cmake=$5 generator=$6 sanitize=${7:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/rowkit-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

# A sanitizer build's library needs its runtime in the client too.
flags=()
[ -n "$sanitize" ] && flags=("-fsanitize=$sanitize")

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
header_version=$(awk '/^#define ROWKIT_VERSION_(MAJOR|MINOR|PATCH) / {v = v sep $3; sep = "."} END {print v}' \
  "$prefix/include/rowkit.h")

case $mode in
pkg-config)
  pc=$(find "$prefix" -name rowkit.pc)
  [ -n "$pc" ] || { echo "no rowkit.pc under $prefix"; exit 1; }
  export PKG_CONFIG_PATH=$(dirname "$pc")
  pc_version=$(pkg-config --modversion rowkit)
  [ "$pc_version" = "$header_version" ] || { echo "rowkit.pc says $pc_version, rowkit.h $header_version"; exit 1; }
  libdir=$(pkg-config --variable=libdir rowkit)
  # shellcheck disable=SC2046 # pkg-config's output is meant to split
  "$cc" "${flags[@]}" -std=c99 -pedantic -Wall -Wextra -Werror \
    "$source/tests/install_client/client.c" -o "$work/client" \
    $(pkg-config --cflags --libs rowkit) -Wl,-rpath,"$libdir"
  ;;
find-package)
  "$cmake" -S "$source/tests/install_client" -B "$work/client-build" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="${flags[*]}" >/dev/null
  "$cmake" --build "$work/client-build" >/dev/null
  cp "$work/client-build/client" "$work/client"
  ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac

# The client must load the installed library, not the build tree's.
if ldd "$work/client" | grep -q "$build"; then echo "client loads the build tree's library"; exit 1; fi
got=$("$work/client" "$source/examples/people.csv")
[ "$got" = "$header_version 12" ] || { echo "client printed '$got', wanted '$header_version 12'"; exit 1; }
# The installed program finds the installed library through its run path.
if ldd "$prefix/bin/rowkit" | grep -q "$build"; then echo "rowkit loads the build tree's library"; exit 1; fi
got_cli=$("$prefix/bin/rowkit" --version)
[ "$got_cli" = "rowkit $header_version" ] || { echo "installed rowkit printed '$got_cli'"; exit 1; }
echo "installed and ran a client via $mode: $got"

#!/usr/bin/env bash
# `make test-arm`: cross-builds the library, its test suites and the program
# for 64-bit Arm Linux and runs the suites under qemu-aarch64 through CTest,
# once with the NEON kernels and once with the portable scalar ones.
#   scripts/check-aarch64.sh [vector] [scalar]    (both when none is named)
# Left out under emulation: the Python package and the command-line
# transcripts (they start host programs) and the install tests (skipped by
# CMake when cross-compiling). Installs the cross compiler, qemu-user and
# GoogleTest's sources (built for the target) when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
need=()
command -v aarch64-linux-gnu-g++ >/dev/null || need+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64 >/dev/null || need+=(qemu-user)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${need[@]}"
fi
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(vector scalar)
jobs=${JOBS:-$(nproc)}
for kind in "${kinds[@]}"; do
  case $kind in
    vector) build=build-aarch64 scalar=OFF ;;
    scalar) build=build-aarch64-scalar scalar=ON ;;
    *) echo "unknown kernel set: $kind (vector or scalar)" >&2; exit 2 ;;
  esac
  start=$SECONDS
  cmake -S . -B "$build" $(command -v ninja >/dev/null && echo -G Ninja) \
    -DCMAKE_BUILD_TYPE=Release -DROWKIT_WERROR=ON -DROWKIT_SCALAR="$scalar" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DROWKIT_GTEST_FROM_SOURCE=ON >/dev/null
  cmake --build "$build" -j "$jobs"
  built=$SECONDS
  (cd "$build" && QEMU_LD_PREFIX=/usr/aarch64-linux-gnu \
     ctest --output-on-failure -j "$jobs" -LE python -E '^cli_')
  echo "aarch64 $kind: built in $((built - start)) s, suites ran in $((SECONDS - built)) s"
done

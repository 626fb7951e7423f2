#!/usr/bin/env bash
# Cross-builds the library and its unit suites for aarch64 (NEON kernels)
# and runs them under qemu-aarch64. Not part of `make test`: it needs the
# cross compiler and qemu (apt: g++-aarch64-linux-gnu qemu-user).
# ROWKIT_SCALAR=ON checks the portable kernels on aarch64 instead.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64 >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q g++-aarch64-linux-gnu qemu-user
fi
scalar=${ROWKIT_SCALAR:-OFF}
build=build-aarch64
[ "$scalar" = ON ] && build=build-aarch64-scalar
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROWKIT_WERROR=ON \
  -DROWKIT_SCALAR="$scalar" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DROWKIT_GTEST_FROM_SOURCE=ON
cmake --build "$build" -j "$(nproc)" --target rowkit_tests
qemu-aarch64 -L /usr/aarch64-linux-gnu "$build/tests/rowkit_tests" "$@"

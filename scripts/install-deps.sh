#!/usr/bin/env bash
# Installs the build and test tools (Debian packages) when any is missing.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
command -v nm >/dev/null || need+=(binutils)
command -v pkg-config >/dev/null || need+=(pkg-config)
# The command line's progress check runs it on a pseudo-terminal.
command -v script >/dev/null || need+=(bsdutils)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# The fuzz targets: clang and its libFuzzer and sanitizer runtimes.
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1 ||
  need+=(libclang-rt-dev)
# The Python package's tests run with Debian's own interpreter and modules.
/usr/bin/python3 -c "import pytest, pandas, numpy" 2>/dev/null ||
  need+=(python3-pytest python3-pandas python3-numpy)
/usr/bin/python3 -c "import dask.dataframe, distributed" 2>/dev/null ||
  need+=(python3-dask python3-distributed)
/usr/bin/python3 -c "import pip, setuptools, wheel" 2>/dev/null ||
  need+=(python3-pip python3-setuptools python3-wheel)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${need[@]}"
fi

# Convenience front end over CMake. `make demo` and `make test` are the quick start.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE ?= cmake
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CTEST := ctest --output-on-failure -j $(JOBS)

.PHONY: all demo test test-release test-scalar test-asan test-tsan fuzz fuzz-smoke test-arm bench install clean
FUZZ_SECONDS ?= 60

all:
	$(CMAKE) -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=Release -DROWKIT_TESTS=OFF
	$(CMAKE) --build build -j $(JOBS)

# A short tour of the rowkit command line on the bundled examples.
demo: all
	@sh tools/demo.sh build/tools/rowkit

# Everything CI runs: warnings as errors, vector and scalar kernels, then the
# whole suite under AddressSanitizer + UndefinedBehaviorSanitizer and the
# threaded suites under ThreadSanitizer, and a short run of every fuzz target.
test: test-release test-scalar test-asan test-tsan fuzz-smoke

test-release:
	$(CMAKE) -S . -B build-test $(GEN) -DCMAKE_BUILD_TYPE=Release -DROWKIT_WERROR=ON
	$(CMAKE) --build build-test -j $(JOBS)
	cd build-test && $(CTEST)

test-scalar:
	$(CMAKE) -S . -B build-scalar $(GEN) -DCMAKE_BUILD_TYPE=Release -DROWKIT_WERROR=ON -DROWKIT_SCALAR=ON
	$(CMAKE) --build build-scalar -j $(JOBS)
	cd build-scalar && $(CTEST)

test-asan:
	$(CMAKE) -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROWKIT_SANITIZE=address,undefined
	$(CMAKE) --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 $(CTEST)

# Only the suites that start threads run under ThreadSanitizer.
test-tsan:
	@if ls tests/*_threaded_test.cpp >/dev/null 2>&1; then \
	  $(CMAKE) -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROWKIT_SANITIZE=thread && \
	  $(CMAKE) --build build-tsan -j $(JOBS) --target rowkit_threaded_tests && \
	  cd build-tsan && $(CTEST) -L threaded; \
	else echo "no threaded suites yet"; fi

# The whole suite cross-built for 64-bit Arm Linux and run under qemu-aarch64,
# with the NEON and with the scalar kernels.
test-arm:
	JOBS=$(JOBS) bash scripts/check-aarch64.sh

# Every libFuzzer target for FUZZ_SECONDS seconds (clang; see fuzz/).
fuzz:
	JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)

fuzz-smoke:
	JOBS=$(JOBS) bash scripts/fuzz.sh 10

bench:
	$(CMAKE) -S . -B build-bench $(GEN) -DCMAKE_BUILD_TYPE=Release -DROWKIT_TESTS=OFF -DROWKIT_BENCH=ON
	$(CMAKE) --build build-bench -j $(JOBS)
	./build-bench/bench/gen_data bench/data
	./build-bench/bench/rowkit_bench bench/data
	@if /usr/bin/python3 -c "import pandas" 2>/dev/null; then \
	  ROWKIT_LIBRARY=build-bench/librowkit.so /usr/bin/python3 bench/python_bench.py bench/data/rows.csv; \
	else echo "pandas is not installed: Python benchmark skipped"; fi
	@if /usr/bin/python3 -c "import dask.dataframe, distributed" 2>/dev/null; then \
	  ROWKIT_LIBRARY=build-bench/librowkit.so /usr/bin/python3 bench/dask_bench.py bench/data/rows.csv; \
	else echo "dask is not installed: Dask benchmark skipped"; fi

install: all
	$(CMAKE) --install build $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf build build-test build-scalar build-asan build-tsan build-bench build-fuzz build-aarch64 build-aarch64-scalar

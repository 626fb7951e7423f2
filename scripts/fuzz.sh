#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS defaults to 60 (FUZZ_SECONDS in the Makefile). The seed corpus is
# written afresh by fuzz_make_seeds into build-fuzz/seeds; what a run adds
# is kept in build-fuzz/corpus and used by the next run. A crash, a leak, a
# failed check or a timeout stops with a non-zero status and leaves the
# input in build-fuzz/artifacts. The last coverage line of every target is
# printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
jobs=${JOBS:-2}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" $(command -v ninja >/dev/null && echo -G Ninja) \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROWKIT_WERROR=ON -DROWKIT_TESTS=OFF \
  -DROWKIT_SANITIZE=address,undefined -DROWKIT_FUZZ=ON >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_targets
rm -rf "$build/seeds"
"$build/fuzz/fuzz_make_seeds" . ../shared/vectors "$build/seeds"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(csv_reader ndjson_reader json_object schema numeric validate_outcome)
mkdir -p "$build/artifacts" "$build/logs"
summary=()
status=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  log="$build/logs/$t.log"
  echo "fuzzing $t for ${seconds}s"
  if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
     "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -max_len=16384 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
       "$build/corpus/$t" "$build/seeds/$t" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
  summary+=("$t: $result, ${cov:-cov: ?} edges, ${runs:-?} runs in ${seconds}s")
done
printf '%s\n' "${summary[@]}"
exit $status

#!/usr/bin/env bash
# Fuzzing campaign: builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz (the libraries under test carry coverage
# instrumentation too), runs each target for SECONDS (default 60), and merges what it found
# into a minimised corpus under tests/fuzz/corpus/<target>/, which the normal test suite replays.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Targets are the tests/fuzz/<target>.cmake files (default: all of them). PARALLEL=1 runs the
# targets side by side instead of one after the other (run it under `nice -n 19` on a shared
# machine); SKIP_BUILD=1 reuses the fuzzers already built; FUZZ_BUILD_DIR chooses the build folder.
# An input that runs longer than TIMEOUT seconds (default 60, generous because a niced fuzzer on
# a busy machine can wait seconds for the processor) is reported as a hang.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$top"/tests/fuzz/*.cmake; do targets+=("$(basename "$f" .cmake)"); done
fi
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}

if [ "${SKIP_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTROLA_FUZZ=ON -DKESTROLA_SANITIZE=address,undefined -DKESTROLA_BENCH=OFF >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target $(printf '%s_fuzzer ' "${targets[@]}")
fi

# Runs one target; its log ends with libFuzzer's final statistics. A finding stops the target
# (its input is kept in artifacts/) and is reported after the merge.
run_target() {
  local t=$1 work="$build/fuzz-work/$1"
  mkdir -p "$work/new" "$work/artifacts" "$top/tests/fuzz/corpus/$t"
  # Leak checking stays on: a leak is a finding like a crash.
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/${t}_fuzzer" "$work/new" "$top/tests/fuzz/corpus/$t" \
    -max_total_time="$seconds" -max_len=8192 -timeout="${TIMEOUT:-60}" -rss_limit_mb=2048 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$work/log" 2>&1
}

# Keeps only the inputs that add coverage: the old corpus and the new finds, minimised.
merge_target() {
  local t=$1 work="$build/fuzz-work/$1" corpus="$top/tests/fuzz/corpus/$1"
  rm -rf "$work/merged" && mkdir -p "$work/merged"
  "$build/fuzz/${t}_fuzzer" -merge=1 -max_len=8192 "$work/merged" "$corpus" "$work/new" \
    >"$work/merge.log" 2>&1
  rm -rf "$corpus" && mv "$work/merged" "$corpus" && rm -rf "$work/new"
}

declare -A status
if [ "${PARALLEL:-0}" = 1 ]; then
  declare -A pids
  for t in "${targets[@]}"; do
    echo "== $t: ${seconds}s (side by side)"
    run_target "$t" &
    pids[$t]=$!
  done
  for t in "${targets[@]}"; do
    status[$t]=0
    wait "${pids[$t]}" || status[$t]=$?
  done
else
  for t in "${targets[@]}"; do
    echo "== $t: ${seconds}s"
    status[$t]=0
    run_target "$t" || status[$t]=$?
  done
fi

failed=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  echo "== $t"
  grep -E '^#[0-9]+.*(DONE|cov:)' "$work/log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$work/log" || true
  if [ "${status[$t]}" != 0 ]; then
    echo "!! $t found something (exit ${status[$t]}): $work/artifacts/"
    failed=1
  fi
  merge_target "$t"
  echo "corpus: $(ls "$top/tests/fuzz/corpus/$t" | wc -l) files"
done
exit "$failed"

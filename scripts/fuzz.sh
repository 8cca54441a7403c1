#!/usr/bin/env bash
# Fuzzing campaign: builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz, runs each target for SECONDS (default 60), and
# merges what it found into a minimised corpus under tests/fuzz/corpus/<target>/, which the
# normal test suite replays.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]     targets: jsonbag parsejson jsoneval printtext ini escpos
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(jsonbag parsejson jsoneval printtext ini escpos)
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}

# SKIP_BUILD=1 reuses the fuzzers already built (for campaigns run side by side).
if [ "${SKIP_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTROLA_FUZZ=ON -DKESTROLA_SANITIZE=address,undefined -DKESTROLA_BENCH=OFF >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target $(printf '%s_fuzzer ' "${targets[@]}")
fi

failed=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  mkdir -p "$work/new" "$work/artifacts"
  corpus="$top/tests/fuzz/corpus/$t"
  mkdir -p "$corpus"
  echo "== $t: ${seconds}s"
  # Leak checking stays on: a leak is a finding like a crash.
  # A finding stops this target (its input is kept in artifacts/); the campaign goes on.
  status=0
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/${t}_fuzzer" "$work/new" "$corpus" \
    -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$work/log" 2>&1 || status=$?
  tail -n 12 "$work/log"
  [ "$status" = 0 ] || { echo "!! $t found something (exit $status): $work/artifacts/"; failed=1; }
  # Keep only the inputs that add coverage.
  mkdir -p "$work/merged"
  "$build/fuzz/${t}_fuzzer" -merge=1 "$work/merged" "$corpus" "$work/new" >/dev/null 2>&1
  rm -rf "$corpus" && mv "$work/merged" "$corpus" && rm -rf "$work/new"
done
exit "$failed"

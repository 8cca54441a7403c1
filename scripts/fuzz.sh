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

for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  mkdir -p "$work/new" "$work/artifacts"
  corpus="$top/tests/fuzz/corpus/$t"
  mkdir -p "$corpus"
  echo "== $t: ${seconds}s"
  # Leak checking stays on: a leak is a finding like a crash.
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/${t}_fuzzer" "$work/new" "$corpus" \
    -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 2>&1 | tail -n 12
  # Keep only the inputs that add coverage.
  mkdir -p "$work/merged"
  "$build/fuzz/${t}_fuzzer" -merge=1 "$work/merged" "$corpus" "$work/new" >/dev/null 2>&1
  rm -rf "$corpus" && mv "$work/merged" "$corpus" && rm -rf "$work/new"
done

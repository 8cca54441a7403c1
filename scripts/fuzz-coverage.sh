#!/usr/bin/env bash
# Coverage a fuzzing build reaches from the committed corpus in a fixed number of runs, per
# target: the edges ("cov") and features ("ft") of libFuzzer's last status line. Used to compare
# builds (for instance one without coverage instrumentation of the libraries); changes nothing.
#
#   bash scripts/fuzz-coverage.sh BUILD_DIR [RUNS] [TARGET...]
#
# MAX_SECONDS caps each target (default 300); CORPUS_DIR reads the corpora from another folder
# with one subfolder per target (default tests/fuzz/corpus).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
runs=${2:-100000}
shift 2 || shift $#
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$top"/tests/fuzz/*.cmake; do targets+=("$(basename "$f" .cmake)"); done
fi
corpora=${CORPUS_DIR:-$top/tests/fuzz/corpus}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf '%-10s %8s %8s %8s %10s\n' target edges features corpus runs
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  log="$scratch/$t.log"
  ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/${t}_fuzzer" "$scratch/$t" "$corpora/$t" \
    -runs="$runs" -max_total_time="${MAX_SECONDS:-300}" -seed=1 -max_len=8192 -timeout=10 \
    -rss_limit_mb=2048 \
    -artifact_prefix="$scratch/" >"$log" 2>&1 || true
  last=$(grep -E '^#[0-9]+.* cov: ' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  n=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")
  printf '%-10s %8s %8s %8s %10s\n' "$t" "${cov:-?}" "${ft:-?}" "${corp:-?}" "${n:-?}"
done

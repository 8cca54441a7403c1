#!/usr/bin/env bash
# Runs every benchmark of the project and prints one table: each measurement, then the ratios
# against the peers (RapidJSON, nlohmann, simdjson, std::u16string).
#
#   bash bench/run-all.sh [MIN_TIME]     MIN_TIME per benchmark in seconds (default 0.5)
#   REPS=5 bash bench/run-all.sh         repeat each benchmark and report the medians, for
#                                        machines whose speed wanders
#   LOAD=1 bash bench/run-all.sh         also the load benchmark of many terminals on one
#                                        database (bench/load.py, about 7 minutes)
#
# The JSON benchmarks run pinned to one core (BENCH_CPU, default the last one) and repeat 11
# times (REPS overrides) for 0.2 s each (a MIN_TIME argument overrides); their table gives the
# medians. They fix glibc's heap thresholds so that a result does not depend on the benchmarks
# that ran before it; BENCH_DEFAULT_HEAP=1 keeps glibc's default policy instead.
#
# The database benchmarks start their own private PostgreSQL server.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
min_time=${1:-0.5}
cpu=${BENCH_CPU:-$(($(nproc) - 1))}
bash "$top/scripts/install-deps.sh"
BUILD_DIR="$build" bash "$top/scripts/build.sh" -DKESTROLA_BENCH=ON >/dev/null
out="$build/bench/results"
rm -rf "$out" && mkdir -p "$out"
for b in "$build"/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "running $name ..." >&2
  run=("$b") reps=${REPS:-1} t=$min_time
  case $name in
  *json*)
    run=()
    command -v taskset >/dev/null && run=(taskset -c "$cpu")
    # Repetitions in random order, so that a busy spell of the machine falls on all libraries.
    run+=("$b" --benchmark_enable_random_interleaving=true)
    reps=${REPS:-11} t=${1:-0.2}
    ;;
  esac
  "${run[@]}" --benchmark_min_time="$t" --benchmark_repetitions="$reps" --benchmark_format=json \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json >/dev/null 2>"$out/$name.err" ||
    echo "  $name failed (see $out/$name.err)" >&2
done
python3 "$top/bench/table.py" "$out"/*.json
if [ "${LOAD:-0}" = 1 ]; then
  echo "running load.py ..." >&2
  BUILD_DIR="$build" python3 "$top/bench/load.py"
fi

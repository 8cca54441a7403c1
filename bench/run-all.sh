#!/usr/bin/env bash
# Runs every benchmark of the project and prints one table: each measurement, then the ratios
# against the peers (RapidJSON, nlohmann, std::u16string).
#
#   bash bench/run-all.sh [MIN_TIME]     MIN_TIME per benchmark in seconds (default 0.5)
#   REPS=5 bash bench/run-all.sh         repeat each benchmark and report the medians, for
#                                        machines whose speed wanders
#   LOAD=1 bash bench/run-all.sh         also the load benchmark of many terminals on one
#                                        database (bench/load.py, about 7 minutes)
#
# The database benchmarks start their own private PostgreSQL server.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
min_time=${1:-0.5}
bash "$top/scripts/install-deps.sh"
BUILD_DIR="$build" bash "$top/scripts/build.sh" -DKESTROLA_BENCH=ON >/dev/null
out="$build/bench/results"
rm -rf "$out" && mkdir -p "$out"
for b in "$build"/bench/*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "running $name ..." >&2
  "$b" --benchmark_min_time="$min_time" --benchmark_repetitions="${REPS:-1}" --benchmark_format=json \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json >/dev/null 2>"$out/$name.err" ||
    echo "  $name failed (see $out/$name.err)" >&2
done
python3 "$top/bench/table.py" "$out"/*.json
if [ "${LOAD:-0}" = 1 ]; then
  echo "running load.py ..." >&2
  BUILD_DIR="$build" python3 "$top/bench/load.py"
fi

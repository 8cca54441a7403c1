#!/usr/bin/env bash
# Configures and builds Kestrola into BUILD_DIR (default: build) with Ninja.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"

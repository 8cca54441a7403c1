#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, and runs every test
# (unit, database, CUPS and window tests start their own servers).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh"
cd "$top/build"
ctest --output-on-failure -j2 --timeout 600

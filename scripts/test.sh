#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, and runs every test (unit, database,
# CUPS and window tests start their own servers). Then builds again with AddressSanitizer and
# UndefinedBehaviorSanitizer (any finding fails the run) and runs the tests once more.
#
#   bash scripts/test.sh              everything
#   SANITIZE=0 bash scripts/test.sh   skip the sanitizer pass
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"

BUILD_DIR="$top/build" bash "$top/scripts/build.sh"
(cd "$top/build" && ctest --output-on-failure -j2 --timeout 600)

if [ "${SANITIZE:-1}" != 0 ]; then
  echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
  BUILD_DIR="$top/build-asan" bash "$top/scripts/build.sh" \
    -DKESTROLA_SANITIZE=address,undefined -DKESTROLA_BENCH=OFF
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  # Leaks inside system libraries (Qt's platform plugin, ODBC drivers, fontconfig) are theirs.
  export LSAN_OPTIONS="suppressions=$top/scripts/lsan.supp:print_suppressions=0"
  # The package and install tests exercise cpack and an outside build, not our code.
  (cd "$top/build-asan" && ctest --output-on-failure -j2 --timeout 900 \
    -E '^(package_deb|install_toolkit)$')
fi

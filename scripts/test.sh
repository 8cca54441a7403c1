#!/usr/bin/env bash
# The whole test suite: installs what is missing, checks that every C++ file is formatted as
# .clang-format says, builds, and runs every test (unit, database,
# CUPS and window tests start their own servers). Then builds again with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer (any finding fails the run) and runs the
# tests once more. Both builds, one by GCC and one by clang, treat warnings as errors.
#
#   bash scripts/test.sh              everything
#   SANITIZE=0 bash scripts/test.sh   skip the sanitizer pass
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/check-format.sh"

BUILD_DIR="$top/build" bash "$top/scripts/build.sh" -DKESTROLA_WERROR=ON "$@"
(cd "$top/build" && ctest --output-on-failure -j2 --timeout 600)

if [ "${SANITIZE:-1}" != 0 ]; then
  echo "== clang, AddressSanitizer and UndefinedBehaviorSanitizer"
  BUILD_DIR="$top/build-asan" bash "$top/scripts/build.sh" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKESTROLA_WERROR=ON \
    -DKESTROLA_SANITIZE=address,undefined -DKESTROLA_BENCH=OFF "$@"
  # Full unwinding on allocation, so that leak reports (and the suppressions) see the frames
  # inside system libraries built without frame pointers.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0:fast_unwind_on_malloc=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  # Leaks inside system libraries (named one by one in the file) are theirs.
  export LSAN_OPTIONS="suppressions=$top/scripts/lsan.supp:print_suppressions=0"
  # The package and install tests exercise cpack and an outside build, not our code.
  (cd "$top/build-asan" && ctest --output-on-failure -j2 --timeout 900 \
    -E '^(package_deb|install_toolkit)$')
fi

#!/usr/bin/env bash
# Fails when clang-format would change any C++ source of the repository, and shows what it would
# change. Fix with: bash scripts/check-format.sh --fix
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build -prune -o -path './build-*' -prune -o \
    \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
fi
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  if ! clang-format "$f" | cmp -s - "$f"; then bad+=("$f"); fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "clang-format would change ${#bad[@]} file(s):" >&2
  for f in "${bad[@]}"; do
    clang-format "$f" | diff -u --label "$f" --label "$f (formatted)" "$f" - | head -40 >&2 || true
  done
  echo "Run: bash scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "clang-format: ${#files[@]} files formatted as .clang-format says"

#!/usr/bin/env bash
# Installs the JSON toolkit from the build tree into a scratch prefix, builds a tiny outside
# project against it with find_package(Kestrola), and runs it.
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" --component toolkit >/dev/null
test -f "$scratch/prefix/lib/cmake/Kestrola/KestrolaConfig.cmake"
test -f "$scratch/prefix/include/kestrola/json/JsonBag.h"
cmake -S "$source/tests/install/consumer" -B "$scratch/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$scratch/prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/consumer" >/dev/null
out=$("$scratch/consumer/consumer")
echo "$out"
expected='{"shop":"Kestrola","items":[1,2.5,true],"open":true}
hello from a script'
[ "$out" = "$expected" ] || { echo "unexpected output; wanted:"; echo "$expected"; exit 1; }

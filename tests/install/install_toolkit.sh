#!/usr/bin/env bash
# The JSON toolkit as an outside project meets it, with nothing but a C++ compiler, CMake and
# pkg-config:
#  1. the toolkit of the main build, installed into a scratch prefix, used through
#     find_package(Kestrola) with the default compiler and no C++ standard set by the user, and
#     through pkg-config; the README's own example is built from the README's own snippet;
#  2. a toolkit-only build (-DKESTROLA_TOOLKIT_ONLY=ON -DBUILD_SHARED_LIBS=ON) configured, built
#     and used while Qt, ODBC, CUPS and GoogleTest are hidden from the compiler and CMake (a
#     private mount namespace when run as root, else CMake told not to find them).
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
fail() { echo "FAIL: $*"; exit 1; }
expected='{"shop":"Kestrola","items":[1,2.5,true],"open":true}
hello from a script'
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# Uses the toolkit installed in prefix $1 (run inside the hidden environment for step 2).
use_toolkit() {
  local prefix=$1 work=$2
  test -f "$prefix/include/kestrola/json/JsonBag.h" || fail "headers not under include/kestrola"
  test -f "$prefix/lib/pkgconfig/kestrola.pc" || fail "no pkg-config file"
  cmake -S "$source/tests/install/consumer" -B "$work/consumer" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  cmake --build "$work/consumer" >/dev/null
  out=$(LD_LIBRARY_PATH="$prefix/lib" "$work/consumer/consumer")
  [ "$out" = "$expected" ] || fail "find_package consumer printed: $out"
  echo "find_package: ok"

  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  c++ -std=c++20 -o "$work/pc-consumer" "$source/tests/install/consumer/main.cpp" \
    $(pkg-config --cflags --libs kestrola)
  out=$(LD_LIBRARY_PATH="$prefix/lib" "$work/pc-consumer")
  [ "$out" = "$expected" ] || fail "pkg-config consumer printed: $out"
  echo "pkg-config ($(pkg-config --modversion kestrola)): ok"

  # The README's example, with the README's CMake snippet.
  mkdir -p "$work/readme"
  awk '/^## For C\+\+ developers/ {s=1} s && /^```cmake/ {c=1; next} c && /^```/ {exit} c' \
    "$source/README.md" >"$work/readme/snippet.cmake"
  awk '/^## For C\+\+ developers/ {s=1} s && /^```cpp/ {c=1; next} c && /^```/ {exit} c' \
    "$source/README.md" >"$work/readme/main.cpp"
  grep -q 'find_package(Kestrola' "$work/readme/snippet.cmake" || fail "README snippet not found"
  grep -q '#include <kestrola/json/JsonBag.h>' "$work/readme/main.cpp" || fail "README example"
  { echo 'cmake_minimum_required(VERSION 3.25)'
    echo 'project(ReadmeExample LANGUAGES CXX)'
    echo 'add_executable(app main.cpp)'
    cat "$work/readme/snippet.cmake"; } >"$work/readme/CMakeLists.txt"
  cmake -S "$work/readme" -B "$work/readme/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    "${launcher[@]}" >/dev/null
  cmake --build "$work/readme/build" >/dev/null || fail "the README example does not build"
  LD_LIBRARY_PATH="$prefix/lib" "$work/readme/build/app" >/dev/null || fail "README example run"
  echo "README example: ok"
}

echo "== 1. toolkit of the main build ($(c++ --version | head -1))"
cmake --install "$build" --prefix "$scratch/static" --component toolkit >/dev/null
test -f "$scratch/static/lib/cmake/Kestrola/KestrolaConfig.cmake"
test -f "$scratch/static/lib/libkestrola_json.a"
use_toolkit "$scratch/static" "$scratch/static-use"

echo "== 2. toolkit-only shared build without Qt, ODBC, CUPS, GoogleTest"
toolkit_build() {
  cmake -S "$source" -B "$scratch/tk-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESTROLA_TOOLKIT_ONLY=ON -DBUILD_SHARED_LIBS=ON "${launcher[@]}" "$@" \
    >"$scratch/tk-configure.log" || { cat "$scratch/tk-configure.log"; fail "configure"; }
  cmake --build "$scratch/tk-build" -j2 >/dev/null || fail "toolkit build"
  cmake --install "$scratch/tk-build" --prefix "$scratch/shared" --component toolkit >/dev/null
  for lib in runtime text json jsonscript; do
    test -L "$scratch/shared/lib/libkestrola_$lib.so" || fail "no link libkestrola_$lib.so"
    test -L "$scratch/shared/lib/libkestrola_$lib.so.1" || fail "no soname link for $lib"
    test -f "$scratch/shared/lib/libkestrola_$lib.so.1.1.0" || fail "no versioned $lib"
  done
  objdump -p "$scratch/shared/lib/libkestrola_json.so.1.1.0" | grep -q 'SONAME *libkestrola_json.so.1' ||
    fail "soname"
  use_toolkit "$scratch/shared" "$scratch/shared-use"
  # Nothing of the service's libraries reaches the users of the toolkit.
  ldd "$scratch/shared-use/consumer/consumer" | grep -Ei 'qt|odbc|cups|gtest' && fail "linked too much"
  true
}
hidden=(/usr/include/x86_64-linux-gnu/qt6 /usr/lib/x86_64-linux-gnu/cmake/Qt6
  /usr/lib/x86_64-linux-gnu/cmake/GTest /usr/include/gtest /usr/include/gmock /usr/include/cups)
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  export -f toolkit_build use_toolkit fail
  export source scratch expected
  unshare -m --propagation private bash -c '
    launcher=('"${launcher[*]}"')
    for d in '"${hidden[*]}"'; do [ -d "$d" ] && mount -t tmpfs none "$d"; done
    for f in /usr/include/sql.h /usr/include/sqlext.h /usr/include/cups/cups.h; do
      [ -f "$f" ] && mount --bind /dev/null "$f"; done
    for d in /usr/lib/x86_64-linux-gnu/cmake/Qt6*; do mount -t tmpfs none "$d"; done
    echo "hidden: Qt 6, GoogleTest, CUPS and ODBC headers and CMake packages"
    test ! -e /usr/include/x86_64-linux-gnu/qt6/QtCore/QString || fail "Qt still visible"
    toolkit_build
    grep -q "Qt6" "$scratch/tk-configure.log" && fail "configure looked for Qt" || true'
else
  toolkit_build -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
fi
echo "toolkit: ok"

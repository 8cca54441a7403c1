#!/usr/bin/env bash
# Installs the Debian packages Kestrola needs to build, test and run. Idempotent: when every
# package is present it prints nothing and changes nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev libgl-dev
  unixodbc unixodbc-dev odbc-postgresql libsqliteodbc tdsodbc
  libcups2-dev cups cups-client
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  postgresql
  rapidjson-dev nlohmann-json3-dev libsimdjson-dev
  clang libclang-rt-14-dev
  file dpkg-dev python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# The package lists of a fresh machine may be missing or stale.
$sudo apt-get update -q >/dev/null || true
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null

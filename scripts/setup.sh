#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the sandbox and the benches need.
# Idempotent: packages already present are left alone and the package index is refreshed once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libcurl4-openssl-dev libpugixml-dev libarchive-dev zlib1g-dev libssl-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev
  p7zip-full curl openssl time python3 procps
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

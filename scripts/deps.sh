#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, skipping what is already there.
# Packages named as arguments are installed too (scripts/fuzz.sh adds clang).
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-svg-dev libgl-dev fonts-dejavu-core fonts-liberation2
  libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev libbotan-2-dev libcrypto++-dev
  xvfb xauth
  zsh fish
  librsvg2-bin appstream desktop-file-utils
  age strace
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs from Debian's packages whatever the builds and tests need and
# this machine lacks.  Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  cmake make g++ python3 googletest libgtest-dev libgmock-dev
  clang libclang-rt-dev
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64
  wine wine64 fonts-wine xvfb imagemagick mtools
  qemu-system-x86 mmdebstrap kmod cpio
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

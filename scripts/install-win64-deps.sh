#!/usr/bin/env bash
# Installs the Debian packages the Win64 build and its tests need (the
# cross compiler, zlib for it, Wine, a virtual X server for the dialog test,
# the source-package tools, wixl and zip for the packages). Idempotent, like
# install-deps.sh.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick
  dpkg-dev make cmake nasm pkg-config
  wixl msitools zip unzip
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

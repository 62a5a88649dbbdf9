#!/usr/bin/env bash
# Installs the Debian packages Velmira needs to build, test and run.
# Safe to run again: it installs only what is missing. Needs root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang clang-format libclang-rt-14-dev
  libsdl2-dev libfreetype-dev libfontconfig-dev fonts-ipafont fonts-ipafont-gothic fonts-ipafont-mincho
  libpng-dev libjpeg62-turbo-dev zlib1g-dev libogg-dev libvorbis-dev liblua5.1-0-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpixman-1-dev
  libegl-dev libgles-dev libgl1-mesa-dri
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "bootstrap: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

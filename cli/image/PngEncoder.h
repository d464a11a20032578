// PNG encoding of host images with libdeflate: RGBA, 8 bits per channel for
// 8-bit images and 16 for the others, non-interlaced, a standard file that
// every reader opens. Several times faster than the image library's PNG
// writer at a smaller size on grainy footage (see the README's throughput
// table).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/image/HostImage.h"

namespace kcli {

// The level used when none is asked for: the fastest, which on camera
// plates is also within a few percent of the smallest.
constexpr int PNG_DEFAULT_LEVEL = 1;

// A text chunk: a keyword of 1 to 79 Latin-1 characters and its UTF-8
// text (tEXt when it is ASCII, which reads the same in Latin-1; else iTXt).
using PngText = std::pair<std::string, std::string>;

// A pHYs chunk: pixels per unit across and down, the unit the metre or,
// with `perMetre` false, none (the two give the pixels' aspect only).
struct PngDensity {
    uint32_t x = 0, y = 0;
    bool perMetre = false;
};

// What the file holds besides its pixels, written before them, where
// readers look for it.
struct PngMetadata {
    std::vector<PngText> text;
    std::optional<PngDensity> density;
};

// `level`: 0 (stored, no compression) to 9. Float channels are clamped to
// 0..1 and rounded to 16 bits. Throws std::bad_alloc when memory runs out.
std::vector<unsigned char> encodePng(const HostImage& image, int level,
                                     const PngMetadata& metadata = {});

}  // namespace kcli

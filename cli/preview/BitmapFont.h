// Labels for preview sheets in a built-in 5x7 pixel font, so the tool needs
// no font file: Debian's image library finds none by default, and a sheet
// must come out the same on every machine.
#pragma once

#include <cstdint>
#include <string>

#include "cli/ImageFile.h"

namespace kcli {

constexpr int GLYPH_W = 5, GLYPH_H = 7, GLYPH_ADVANCE = 6;

// Width in pixels of `text` at `scale` (each font pixel a scale x scale square).
int textWidth(const std::string& text, int scale);

// Draws `text` with its top-left at x,y in an 8-bit image, clipped to it.
// Lower case comes out as capitals; a character the font lacks as '?'.
void drawText(HostImage& image, int x, int y, const std::string& text, int scale, uint8_t grey);

}  // namespace kcli

// The effect's controls as the command line sets them, and the parsers for
// the values that need more than a number.
#pragma once

#include <cstdint>
#include <string>

#include "contract/EffectContract.h"

namespace kcli {

// The colour parameter holds 8 bits a channel, so every way of writing the
// key colour ends as three 8-bit codes.
struct KeyColor {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const KeyColor& o) const {
        return red == o.red && green == o.green && blue == o.blue;
    }
};

// Defaults are the parameters' own defaults, so a bare `render` matches the
// effect freshly applied in the host.
struct Controls {
    KeyColor key;  // opaque black
    double choke_transparent = 0.0;
    double choke_opaque = 0.0;
    double spill_amount = 0.0;
    double spill_size = 1.0;
    int view = kestrelumen::VIEW_FINAL;
};

// "#rrggbb", "#rgb", "r,g,b" with each in 0..1, or a name (green, blue, ...).
// Throws Failure(EXIT_BAD_INPUT) with a message naming the text.
KeyColor parseKeyColor(const std::string& text);

// The name parseKeyColor takes for exactly this colour, or nullptr.
const char* keyColorName(const KeyColor& color);

// "source", "alpha", "spill", "final" (and the longer "alpha-matte",
// "spill-matte") or the menu numbers 1..4.
int parseView(const std::string& text);
const char* viewName(int view);

// True for the views whose output alpha is always opaque.
inline bool isMatteView(int view) {
    return view == kestrelumen::VIEW_ALPHA_MATTE || view == kestrelumen::VIEW_SPILL_MATTE;
}

}  // namespace kcli

// Finding the key colour in a plate: the eyedropper (a median around a pixel
// or over a rectangle) and the automatic estimate of the backing colour.
// Colours are the pixels' alpha-weighted colour, which is what the keyer
// measures its distance on, and come out as the 8-bit codes the colour
// parameter holds, at every depth.
#pragma once

#include <optional>

#include "cli/Controls.h"
#include "cli/ImageFile.h"

namespace kcli {

struct ColorSample {
    KeyColor color;
    // Median absolute deviation from `color`, in 8-bit codes, averaged over
    // red, green and blue: about 0.67 of the standard deviation for grain.
    double spread = 0.0;
    int count = 0;  // pixels the median was taken over
};

// Median of the pixels within `radius` (a disc) of x,y, from the top-left.
// Throws Failure(EXIT_BAD_INPUT) naming the point when no pixel of the disc
// lies inside the image.
ColorSample medianAround(const HostImage& image, int x, int y, int radius);

// Median of the rectangle clipped to the image. Throws
// Failure(EXIT_BAD_INPUT) naming the rectangle when nothing is left.
ColorSample medianRect(const HostImage& image, int x, int y, int w, int h);

// The backing colour: the dominant strongly green or blue region, taken on
// blocks of pixels so grain does not decide, refined to the pixels whose hue
// and brightness match the screen's (leaving out a green shirt), and robust
// to the foreground covering more than half the frame and to uneven
// lighting. nullopt when no such region covers a fair share of the frame.
std::optional<ColorSample> estimateKey(const HostImage& image);

// A green or blue screen filling most of the frame's border: what a plate
// keyed with the default (black) key almost certainly shows. The colour is
// the border's median. nullopt otherwise.
std::optional<ColorSample> screenOnBorder(const HostImage& image);

// "#rrggbb", lower case.
std::string hexText(const KeyColor& c);

}  // namespace kcli

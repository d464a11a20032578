// A contact sheet: pictures of one frame side by side, scaled to one width,
// each with a label above it. 8-bit, opaque.
#pragma once

#include <string>
#include <vector>

#include "cli/ImageFile.h"

namespace kcli {

struct Panel {
    std::string label;
    const HostImage* image;  // its colour is shown as it is; alpha is ignored
};

// `width` is the whole sheet's; every panel gets an equal share of it. Throws
// Failure(EXIT_BAD_INPUT) when that leaves a panel narrower than 16 pixels.
HostImage makeSheet(const std::vector<Panel>& panels, int width);

}  // namespace kcli

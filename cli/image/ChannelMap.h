// Which channels of a file are the host's red, green, blue and alpha.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>

namespace kcli {

struct ChannelMap {
    int red = -1, green = -1, blue = -1, alpha = -1;  // channel indices; alpha -1: none
    std::string layer;  // "beauty" for beauty.R, ...; empty for the unnamed layer

    bool isKeyed(int channel) const {
        return channel == red || channel == green || channel == blue || channel == alpha;
    }
    // The name an added alpha channel takes in this layer.
    std::string alphaName() const { return layer.empty() ? "A" : layer + ".A"; }
};

// The layers of a part that hold colour: "" for the unnamed R, G, B, then
// every NAME with NAME.R, NAME.G and NAME.B, in channel order.
std::vector<std::string> colourLayers(const OIIO::ImageSpec& imageSpec);

// `layer`'s R, G, B (and A); when `layer` is empty, the unnamed layer, else
// the only colour layer, else the first three (four) channels of a part with
// three or four. Throws Failure naming `path` (and the layers to choose
// from) for anything else.
ChannelMap mapChannels(const std::string& path, const OIIO::ImageSpec& imageSpec,
                       const std::string& layer = "");

}  // namespace kcli

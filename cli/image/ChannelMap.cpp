#include "cli/image/ChannelMap.h"

#include "cli/ExitCodes.h"

namespace kcli {

ChannelMap mapChannels(const std::string& path, const OIIO::ImageSpec& imageSpec) {
    ChannelMap m;
    auto find = [&](const char* name) {
        for (int i = 0; i < imageSpec.nchannels; ++i)
            if (i < static_cast<int>(imageSpec.channelnames.size()) && imageSpec.channelnames[i] == name)
                return i;
        return -1;
    };
    m.red = find("R");
    m.green = find("G");
    m.blue = find("B");
    if (m.red >= 0 && m.green >= 0 && m.blue >= 0) {
        m.alpha = find("A");
        if (m.alpha < 0 && imageSpec.alpha_channel >= 0 && imageSpec.alpha_channel != m.red &&
            imageSpec.alpha_channel != m.green && imageSpec.alpha_channel != m.blue)
            m.alpha = imageSpec.alpha_channel;
        return m;
    }
    if (imageSpec.nchannels == 3 || imageSpec.nchannels == 4) {
        m = {0, 1, 2, imageSpec.nchannels == 4 ? 3 : -1};
        return m;
    }
    std::string names;
    for (const std::string& n : imageSpec.channelnames) names += (names.empty() ? "" : ",") + n;
    throw Failure(EXIT_BAD_INPUT, path + ": unsupported channel layout, " +
                                      std::to_string(imageSpec.nchannels) + " channels (" + names +
                                      "); expected RGB or RGBA");
}

}  // namespace kcli

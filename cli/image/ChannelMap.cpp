#include "cli/image/ChannelMap.h"

#include "cli/ExitCodes.h"

namespace kcli {

ChannelMap mapChannels(const std::string& path, const OIIO::ImageSpec& spec) {
    ChannelMap m;
    auto find = [&](const char* name) {
        for (int i = 0; i < spec.nchannels; ++i)
            if (i < static_cast<int>(spec.channelnames.size()) && spec.channelnames[i] == name)
                return i;
        return -1;
    };
    m.red = find("R");
    m.green = find("G");
    m.blue = find("B");
    if (m.red >= 0 && m.green >= 0 && m.blue >= 0) {
        m.alpha = find("A");
        if (m.alpha < 0 && spec.alpha_channel >= 0 && spec.alpha_channel != m.red &&
            spec.alpha_channel != m.green && spec.alpha_channel != m.blue)
            m.alpha = spec.alpha_channel;
        return m;
    }
    if (spec.nchannels == 3 || spec.nchannels == 4) {
        m = {0, 1, 2, spec.nchannels == 4 ? 3 : -1};
        return m;
    }
    std::string names;
    for (const std::string& n : spec.channelnames) names += (names.empty() ? "" : ",") + n;
    throw Failure(EXIT_BAD_INPUT, path + ": unsupported channel layout, " +
                                      std::to_string(spec.nchannels) + " channels (" + names +
                                      "); expected RGB or RGBA");
}

}  // namespace kcli

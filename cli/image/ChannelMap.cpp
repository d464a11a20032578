#include "cli/image/ChannelMap.h"

#include <algorithm>

#include "cli/ExitCodes.h"

namespace kcli {
namespace {

int find(const OIIO::ImageSpec& imageSpec, const std::string& name) {
    for (int i = 0; i < imageSpec.nchannels && i < static_cast<int>(imageSpec.channelnames.size());
         ++i)
        if (imageSpec.channelnames[i] == name) return i;
    return -1;
}

std::string prefixOf(const std::string& layer) { return layer.empty() ? "" : layer + "."; }

std::string listOf(const std::vector<std::string>& layers) {
    std::string text;
    for (const std::string& l : layers)
        text += (text.empty() ? "" : ", ") + (l.empty() ? "(unnamed)" : l);
    return text;
}

}  // namespace

std::vector<std::string> colourLayers(const OIIO::ImageSpec& imageSpec) {
    std::vector<std::string> layers;
    for (int i = 0; i < imageSpec.nchannels && i < static_cast<int>(imageSpec.channelnames.size());
         ++i) {
        const std::string& name = imageSpec.channelnames[i];
        if (name.size() < 1 || name.back() != 'R') continue;
        if (name.size() > 1 && name[name.size() - 2] != '.') continue;
        const std::string layer = name.size() > 1 ? name.substr(0, name.size() - 2) : "";
        const std::string p = prefixOf(layer);
        if (find(imageSpec, p + "G") >= 0 && find(imageSpec, p + "B") >= 0 &&
            std::find(layers.begin(), layers.end(), layer) == layers.end())
            layers.push_back(layer);
    }
    // The unnamed layer first: it is the default.
    std::stable_partition(layers.begin(), layers.end(),
                          [](const std::string& l) { return l.empty(); });
    return layers;
}

ChannelMap mapChannels(const std::string& path, const OIIO::ImageSpec& imageSpec,
                       const std::string& layer) {
    const std::vector<std::string> layers = colourLayers(imageSpec);
    ChannelMap m;
    auto byName = [&](const std::string& chosen) {
        const std::string p = prefixOf(chosen);
        m.layer = chosen;
        m.red = find(imageSpec, p + "R");
        m.green = find(imageSpec, p + "G");
        m.blue = find(imageSpec, p + "B");
        m.alpha = find(imageSpec, p + "A");
        // An unnamed alpha channel the file marks as such (e.g. "Alpha").
        if (chosen.empty() && m.alpha < 0 && imageSpec.alpha_channel >= 0 &&
            !m.isKeyed(imageSpec.alpha_channel))
            m.alpha = imageSpec.alpha_channel;
        return m;
    };
    if (!layer.empty()) {
        if (std::find(layers.begin(), layers.end(), layer) != layers.end()) return byName(layer);
        throw Failure(
            EXIT_BAD_INPUT,
            "--layer: " + path + " has no layer '" + layer + "' with R, G and B" +
                (layers.empty() ? std::string() : " (its colour layers: " + listOf(layers) + ")"));
    }
    if (!layers.empty() && (layers.front().empty() || layers.size() == 1))
        return byName(layers.front());
    if (layers.size() > 1)
        throw Failure(EXIT_BAD_INPUT, path +
                                          ": has no unnamed R, G, B but several colour layers (" +
                                          listOf(layers) + "); choose one with --layer NAME");
    if (imageSpec.nchannels == 3 || imageSpec.nchannels == 4) {
        m = {0, 1, 2, imageSpec.nchannels == 4 ? 3 : -1, ""};
        return m;
    }
    std::string names;
    for (const std::string& n : imageSpec.channelnames) names += (names.empty() ? "" : ",") + n;
    throw Failure(EXIT_BAD_INPUT, path + ": unsupported channel layout, " +
                                      std::to_string(imageSpec.nchannels) + " channels (" + names +
                                      "); expected RGB or RGBA");
}

}  // namespace kcli

#include "cli/image/SourceFile.h"

namespace kcli {

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& s : items) text += (text.empty() ? "" : ", ") + s;
    return text;
}

std::string partLabel(const OIIO::ImageSpec& imageSpec, int index) {
    const std::string name = imageSpec.get_string_attribute("oiio:subimagename");
    return name.empty() ? "#" + std::to_string(index) : name;
}

std::string windowText(const OIIO::ImageSpec& s) {
    return std::to_string(s.width) + "x" + std::to_string(s.height) + " at (" +
           std::to_string(s.x) + "," + std::to_string(s.y) + ") in the display window " +
           std::to_string(s.full_width) + "x" + std::to_string(s.full_height) + " at (" +
           std::to_string(s.full_x) + "," + std::to_string(s.full_y) + ")";
}

std::vector<std::string> unkeyedChannels(const SourceFile& source) {
    const FilePart& part = source.parts[source.keyed];
    std::vector<std::string> names;
    for (int c = 0; c < part.imageSpec.nchannels; ++c)
        if (!source.channels.isKeyed(c)) names.push_back(part.imageSpec.channelnames[c]);
    return names;
}

std::vector<std::string> otherPartLabels(const SourceFile& source) {
    std::vector<std::string> labels;
    for (int i = 0; i < static_cast<int>(source.parts.size()); ++i)
        if (i != source.keyed) labels.push_back(partLabel(source.parts[i].imageSpec, i));
    return labels;
}

}  // namespace kcli

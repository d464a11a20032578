#include "cli/clip/ImagesInClip.h"

#include <algorithm>
#include <cstring>

#include "cli/image/Metadata.h"

namespace kcli {
namespace {

// Image attributes with a place of their own in a clip's metadata.
struct TagPlace {
    const char* attribute;
    const char* tag;
};
constexpr TagPlace TAGS[] = {
    {"Copyright", "copyright"},
    {"Artist", "artist"},
    {"ImageDescription", "comment"},
    {"DateTime", "creation_time"},
};

// Kept in a field of the clip, or replaced by what this run writes.
constexpr const char* FIELDS[] = {"smpte:TimeCode", "FramesPerSecond", "PixelAspectRatio",
                                  "Software", "openexr:lineOrder"};

bool carried(const OIIO::ParamValue& p) {
    const std::string name = p.name().string();
    if (describesEncoding(name) || name.rfind("oiio:", 0) == 0) return true;
    for (const TagPlace& t : TAGS)
        if (name == t.attribute) return true;
    for (const char* f : FIELDS)
        if (name == f) return true;
    // Every EXR states its projection; the usual one says nothing.
    if (name == "screenWindowWidth" && p.type() == OIIO::TypeFloat) return p.get_float() == 1.0f;
    if (name == "screenWindowCenter" &&
        p.type() == OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::VEC2)) {
        const auto* v = static_cast<const float*>(p.data());
        return v[0] == 0.0f && v[1] == 0.0f;
    }
    return false;
}

}  // namespace

ImagesInClip imagesInClip(const OIIO::ImageSpec& header) {
    ImagesInClip images;
    if (const OIIO::ParamValue* p = header.find_attribute("smpte:TimeCode", OIIO::TypeTimeCode))
        images.timecode = p->get_string();
    if (const OIIO::ParamValue* p = header.find_attribute("FramesPerSecond", OIIO::TypeRational)) {
        const auto* v = static_cast<const int*>(p->data());
        if (v[0] > 0 && v[1] > 0) images.rate = av_make_q(v[0], v[1]);
    }
    const float aspect = header.get_float_attribute("PixelAspectRatio", 1.0f);
    if (aspect > 0 && aspect != 1.0f) images.aspect = av_d2q(aspect, 10000);
    for (const TagPlace& t : TAGS) {
        std::string value = header.get_string_attribute(t.attribute);
        if (value.empty()) continue;
        // "2026:12:09 15:14:34", as TIFF and EXR write it, in the form the
        // muxers parse.
        if (std::strcmp(t.tag, "creation_time") == 0 && value.size() >= 19 && value[4] == ':' &&
            value[7] == ':') {
            value[4] = value[7] = '-';
            value[10] = 'T';
        }
        images.tags.emplace_back(t.tag, value);
    }
    return images;
}

std::vector<std::string> droppedInClip(const SourceFile& source) {
    std::vector<std::string> lines;
    const std::string of = " of " + source.path;
    const OIIO::ImageSpec& s = source.parts[source.keyed].imageSpec;
    const std::vector<std::string> channels = unkeyedChannels(source);
    if (!channels.empty())
        lines.push_back("a clip holds only the keyed colour and alpha; channels " +
                        joined(channels) + of + " are dropped");
    const std::vector<std::string> parts = otherPartLabels(source);
    if (!parts.empty())
        lines.push_back("a clip holds one picture; parts " + joined(parts) + of + " are dropped");
    if (s.x != 0 || s.y != 0 || s.full_x != 0 || s.full_y != 0 || s.full_width != s.width ||
        s.full_height != s.height)
        lines.push_back("a clip holds no display window; the data window " + windowText(s) + of +
                        " is written as the whole frame");
    std::vector<std::string> attributes;
    for (const OIIO::ParamValue& p : s.extra_attribs)
        if (!carried(p)) attributes.push_back(p.name().string());
    if (!attributes.empty())
        lines.push_back("a clip has no place for " + joined(attributes) + of + "; dropped");
    for (const std::string& u : source.unread)
        lines.push_back(u + of + " could not be carried and is dropped");
    return lines;
}

}  // namespace kcli

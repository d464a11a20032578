#include "cli/image/Metadata.h"

#include <algorithm>
#include <cstring>

namespace kcli {
namespace {

// How the input was encoded, not what it shows: never carried, never missed.
constexpr const char* ENCODING[] = {
    "compression",
    "oiio:BitsPerSample",
    "oiio:UnassociatedAlpha",
    "oiio:subimages",
    "oiio:subimagename",
    "planarconfig",
    "tiff:Compression",
    "tiff:PhotometricInterpretation",
    "tiff:PlanarConfiguration",
    "tiff:RowsPerStrip",
    "tiff:Predictor",
    "tiff:BitsPerSample",
    "tiff:SampleFormat",
    "dpx:Packing",
    "dpx:ImageDescriptor",
    "dpx:EndOfLinePadding",
    "dpx:EndOfImagePadding",
    "dpx:DataSign",
    "openexr:dwaCompressionLevel",
    "openexr:chunkCount",
    "png:compressionLevel",
    "jpeg:subsampling",
    "oiio:Movie",
    "openexr:version",
    "name",  // an EXR part's own name
};

// "tiff:Foo" belongs to the tiff format; "Exif:Foo" and "smpte:Foo" to none.
bool namedForFormat(const std::string& name, const std::string& format) {
    return name.size() > format.size() && name.compare(0, format.size(), format) == 0 &&
           name[format.size()] == ':';
}

bool isFormatName(const std::string& prefix) {
    static const char* const FORMATS[] = {
        "openexr", "tiff", "png", "dpx",   "jpeg",     "targa",  "bmp",       "cineon", "sgi",
        "psd",     "webp", "gif", "heif",  "jpeg2000", "pnm",    "hdr",       "ico",    "rla",
        "iff",     "fits", "dds", "dicom", "raw",      "ffmpeg", "softimage", "zfile"};
    return std::any_of(std::begin(FORMATS), std::end(FORMATS),
                       [&](const char* f) { return prefix == f; });
}

}  // namespace

bool describesEncoding(const std::string& name) {
    return std::any_of(std::begin(ENCODING), std::end(ENCODING),
                       [&](const char* e) { return name == e; });
}

void carryAttributes(const OIIO::ImageSpec& from, const std::string& fromFormat,
                     const std::string& toFormat, OIIO::ImageSpec& to,
                     std::vector<std::string>& notCarried) {
    for (const OIIO::ParamValue& p : from.extra_attribs) {
        const std::string name = p.name().string();
        if (describesEncoding(name)) continue;
        const std::size_t colon = name.find(':');
        const std::string prefix = colon == std::string::npos ? "" : name.substr(0, colon);
        if (fromFormat != toFormat && !prefix.empty() && isFormatName(prefix) &&
            !namedForFormat(name, toFormat)) {
            notCarried.push_back(name);
            continue;
        }
        to.extra_attribs.push_back(p);
    }
}

std::vector<std::string> lostAttributes(const OIIO::ImageSpec& intended,
                                        const OIIO::ImageSpec& written) {
    std::vector<std::string> lost;
    for (const OIIO::ParamValue& p : intended.extra_attribs) {
        const std::string name = p.name().string();
        if (describesEncoding(name)) continue;
        const OIIO::ParamValue* back = written.find_attribute(name);
        if (!back) {
            lost.push_back(name);
        } else if (p.type() == OIIO::TypeDesc::STRING && back->type() == OIIO::TypeDesc::STRING) {
            const std::string a = p.get_string(), b = back->get_string();
            if (b.size() < a.size() && a.compare(0, b.size(), b) == 0)
                lost.push_back(name + " (cut to " + std::to_string(b.size()) + " characters)");
        }
    }
    return lost;
}

}  // namespace kcli

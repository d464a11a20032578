#include "cli/image/OutputFormat.h"

#include <OpenImageIO/imageio.h>

#include "cli/ExitCodes.h"
#include "cli/image/PixelTypes.h"
#include "cli/image/SourceFile.h"
#include "cli/image/TempFile.h"

namespace kcli {
namespace {

struct Codec {
    const char* format;
    const char* method;
    int minLevel, maxLevel;  // both 0: takes no level
};

// The codecs offered per format, by OpenImageIO's names. DWA's level is its
// quantisation (45 by default; higher is smaller and lossier).
constexpr Codec CODECS[] = {
    {"openexr", "none", 0, 0},       {"openexr", "rle", 0, 0},   {"openexr", "zips", 1, 9},
    {"openexr", "zip", 1, 9},        {"openexr", "piz", 0, 0},   {"openexr", "pxr24", 0, 0},
    {"openexr", "b44", 0, 0},        {"openexr", "b44a", 0, 0},  {"openexr", "dwaa", 1, 1000000},
    {"openexr", "dwab", 1, 1000000}, {"tiff", "none", 0, 0},     {"tiff", "lzw", 0, 0},
    {"tiff", "zip", 1, 9},           {"tiff", "packbits", 0, 0}, {"png", "zip", 0, 9},
    {"png", "none", 0, 0},           {"dpx", "none", 0, 0},      {"jpeg", "jpeg", 1, 100},
};

}  // namespace

std::string formatName(const std::string& path) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) {
        OIIO::geterror();  // clear it
        throw Failure(EXIT_BAD_INPUT, path +
                                          ": no image format is known for this file name "
                                          "(use .png, .tif, .exr, ...)");
    }
    return out->format_name();
}

void checkCompression(const std::string& path, const std::string& format, const Compression& c) {
    std::string offered;
    for (const Codec& codec : CODECS) {
        if (format != codec.format) continue;
        offered += (offered.empty() ? "" : ", ") + std::string(codec.method);
        if (c.method != codec.method) continue;
        if (!c.level) return;
        if (codec.maxLevel == 0)
            throw Failure(EXIT_BAD_INPUT,
                          "--compression: " + path + ": " + c.method + " takes no level");
        if (*c.level < codec.minLevel || *c.level > codec.maxLevel)
            throw Failure(EXIT_BAD_INPUT, "--compression: " + path + ": level " +
                                              std::to_string(*c.level) + " of " + c.method +
                                              " is outside " + std::to_string(codec.minLevel) +
                                              ".." + std::to_string(codec.maxLevel));
        return;
    }
    if (offered.empty())
        throw Failure(EXIT_BAD_INPUT, "--compression: " + path + ": the " + format +
                                          " format takes no --compression");
    throw Failure(EXIT_BAD_INPUT, "--compression: " + path + ": the " + format + " format offers " +
                                      offered + ", not '" + c.method + "'");
}

void checkOutputPath(const std::string& path, bool needsAlpha, const WriteOptions& options) {
    checkOutputPlace(path);
    const std::string format = formatName(path);
    if (needsAlpha) {
        auto out = OIIO::ImageOutput::create(path);
        if (!out->supports("alpha"))
            throw Failure(EXIT_BAD_INPUT,
                          path + ": the " + format +
                              " format cannot hold alpha; write .png, .tif or .exr, or choose "
                              "--view alpha or --view spill");
    }
    if (options.compression) checkCompression(path, format, *options.compression);
    writesAssociated(path, format, options.alpha);
}

OIIO::TypeDesc storedType(const std::string& format, OIIO::TypeDesc type) {
    // EXR has no integer channels and its half would round 16-bit codes, so
    // it gets float; PNG has no float, so it gets 16 bits rather than 8.
    if (format == "openexr") return OIIO::TypeDesc::FLOAT;
    if (format == "png" && type == OIIO::TypeDesc::FLOAT) return OIIO::TypeDesc::UINT16;
    return type;
}

}  // namespace kcli

namespace kcli {

OIIO::TypeDesc keyedType(const std::string& format, const SourceFile* source, Depth renderDepth,
                         std::optional<Depth> chosen, int& bits) {
    using OIIO::TypeDesc;
    bits = 0;
    const bool exr = format == "openexr";
    if (chosen) {
        // EXR's half holds 8-bit codes and 16-bit renders to about 1/2048,
        // the precision its readers expect of half; 32 asks for float.
        if (exr) return *chosen == Depth::F32 ? TypeDesc::FLOAT : TypeDesc::HALF;
        return storedType(format, typeOf(*chosen));
    }
    if (!source) return storedType(format, typeOf(renderDepth));
    const FilePart& part = source->parts[source->keyed];
    const TypeDesc in = part.imageSpec.channelformat(source->channels.red);
    // A frame rendered at another depth than its own (a sequence's frame of
    // another depth than its first) is written like the rest.
    if (depthOf(in) != renderDepth)
        return keyedType(format, nullptr, renderDepth, renderDepth, bits);
    const int inBits = part.imageSpec.get_int_attribute("oiio:BitsPerSample", 0);
    const bool narrow = inBits > 0 && inBits < static_cast<int>(in.size() * 8);
    if (format == source->format) {
        if (narrow) bits = inBits;
        return in;
    }
    if (exr) {
        if (in == TypeDesc::HALF || in == TypeDesc::FLOAT) return in;
        // 8- and 10-bit codes survive half; 16-bit ones would be rounded.
        if (in == TypeDesc::UINT8 || (narrow && inBits <= 10)) return TypeDesc::HALF;
        return TypeDesc::FLOAT;
    }
    if (in == TypeDesc::UINT8 || in == TypeDesc::UINT16) return storedType(format, in);
    // OpenImageIO writes no half TIFF; float holds every half.
    if (format == "tiff" && (in == TypeDesc::HALF || in == TypeDesc::FLOAT)) return TypeDesc::FLOAT;
    if (format == "dpx" && in == TypeDesc::HALF) return TypeDesc::FLOAT;
    return storedType(format, in == TypeDesc::HALF ? TypeDesc::FLOAT : in);
}

bool writesAssociated(const std::string& path, const std::string& format, AlphaStorage storage) {
    // EXR defines colour as premultiplied and PNG as straight; TIFF says
    // which it holds. Elsewhere straight, as the pixels were always written.
    if (format == "openexr") {
        if (storage == AlphaStorage::Straight)
            throw Failure(EXIT_BAD_INPUT, "--straight: " + path +
                                              ": EXR colour is premultiplied by alpha by "
                                              "definition; write .tif for straight colour");
        return true;
    }
    if (format == "tiff") return storage == AlphaStorage::Premultiplied;
    if (storage == AlphaStorage::Premultiplied)
        throw Failure(EXIT_BAD_INPUT, "--premultiply: " + path + ": the " + format +
                                          " format stores straight colour; write .exr or .tif "
                                          "for premultiplied colour");
    return false;
}

}  // namespace kcli

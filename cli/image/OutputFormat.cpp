#include "cli/image/OutputFormat.h"

#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <system_error>

#include "cli/ExitCodes.h"

namespace fs = std::filesystem;

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
    {"openexr", "none", 0, 0},   {"openexr", "rle", 0, 0},   {"openexr", "zips", 1, 9},
    {"openexr", "zip", 1, 9},    {"openexr", "piz", 0, 0},   {"openexr", "pxr24", 0, 0},
    {"openexr", "b44", 0, 0},    {"openexr", "b44a", 0, 0},  {"openexr", "dwaa", 1, 1000000},
    {"openexr", "dwab", 1, 1000000},
    {"tiff", "none", 0, 0},      {"tiff", "lzw", 0, 0},      {"tiff", "zip", 1, 9},
    {"tiff", "packbits", 0, 0},
    {"png", "zip", 0, 9},        {"png", "none", 0, 0},
    {"dpx", "none", 0, 0},
    {"jpeg", "jpeg", 1, 100},
};

}  // namespace

std::string formatName(const std::string& path) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) {
        OIIO::geterror();  // clear it
        throw Failure(EXIT_BAD_INPUT,
                      path + ": no image format is known for this file name "
                             "(use .png, .tif, .exr, ...)");
    }
    return out->format_name();
}

void checkCompression(const std::string& path, const std::string& format,
                      const Compression& c) {
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
    throw Failure(EXIT_BAD_INPUT, "--compression: " + path + ": the " + format +
                                      " format offers " + offered + ", not '" + c.method + "'");
}

void checkOutputPath(const std::string& path, bool needsAlpha, const WriteOptions& options) {
    std::error_code ec;
    const fs::path p(path);
    if (fs::is_directory(p, ec)) throw Failure(EXIT_BAD_INPUT, path + ": is a folder");
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    if (!fs::is_directory(dir, ec))
        throw Failure(EXIT_BAD_INPUT, path + ": folder '" + dir.string() + "' does not exist");
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
}

OIIO::TypeDesc storedType(const std::string& format, OIIO::TypeDesc type) {
    // EXR has no integer channels and its half would round 16-bit codes, so
    // it gets float; PNG has no float, so it gets 16 bits rather than 8.
    if (format == "openexr") return OIIO::TypeDesc::FLOAT;
    if (format == "png" && type == OIIO::TypeDesc::FLOAT) return OIIO::TypeDesc::UINT16;
    return type;
}

}  // namespace kcli

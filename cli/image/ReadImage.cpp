#include "cli/image/ReadImage.h"

#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "cli/Depth16.h"
#include "cli/ExitCodes.h"
#include "cli/image/ChannelMap.h"
#include "cli/image/DecoderMessages.h"
#include "cli/image/PixelTypes.h"

namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageSpec;

namespace kcli {
namespace {

// The host's worlds address rows with a 32-bit byte count, and a frame this
// size already needs gigabytes; anything beyond is a corrupt or hostile
// header, not footage.
constexpr long long MAX_PIXELS = 1LL << 28;

void checkReadable(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) throw Failure(EXIT_BAD_INPUT, path + ": no such file");
    if (fs::is_directory(st)) throw Failure(EXIT_BAD_INPUT, path + ": is a folder, not an image");
    // A pipe would block the tool until something writes into it, and a
    // device such as /dev/zero would be read without end: images are files.
    if (!fs::is_regular_file(st))
        throw Failure(EXIT_BAD_INPUT, path + ": is not a regular file (a pipe, device or socket)");
    if (::access(path.c_str(), R_OK) != 0)
        throw Failure(EXIT_IO, path + ": cannot be read: " + std::strerror(errno));
    if (fs::is_regular_file(st) && fs::file_size(path, ec) == 0 && !ec)
        throw Failure(EXIT_BAD_INPUT, path + ": is empty");
}

std::unique_ptr<ImageInput> openInput(const std::string& path) {
    checkReadable(path);
    // PNG and TIFF readers would otherwise premultiply colour by alpha.
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    QuietStderr quiet;
    auto in = ImageInput::open(path, &config);
    if (!in)
        throw Failure(EXIT_BAD_INPUT,
                      path + ": not a readable image (" + oneLine(OIIO::geterror()) + ")");
    return in;
}

void checkSpec(const std::string& path, const ImageSpec& imageSpec) {
    if (imageSpec.deep) throw Failure(EXIT_BAD_INPUT, path + ": deep images are not supported");
    if (imageSpec.width <= 0 || imageSpec.height <= 0)
        throw Failure(EXIT_BAD_INPUT, path + ": has no pixels (" + std::to_string(imageSpec.width) +
                                          "x" + std::to_string(imageSpec.height) + ")");
    if (static_cast<long long>(imageSpec.width) * imageSpec.height > MAX_PIXELS || imageSpec.nchannels > 64 ||
        imageSpec.depth > 1)
        throw Failure(EXIT_BAD_INPUT, path + ": declares an image too large to key (" +
                                          std::to_string(imageSpec.width) + "x" +
                                          std::to_string(imageSpec.height) + ")");
}

template <typename T>
std::vector<T> readPixels(const std::string& path, ImageInput& in, Depth depth) {
    const ImageSpec& imageSpec = in.spec();
    std::vector<T> buf(static_cast<std::size_t>(imageSpec.width) * imageSpec.height * imageSpec.nchannels);
    QuietStderr quiet;
    if (!in.read_image(0, 0, 0, imageSpec.nchannels, typeOf(depth), buf.data()))
        throw Failure(EXIT_BAD_INPUT,
                      path + ": corrupt or truncated image (" + oneLine(in.geterror()) + ")");
    return buf;
}

}  // namespace

FileInfo probeImage(const std::string& path) {
    auto in = openInput(path);
    const ImageSpec& imageSpec = in->spec();
    checkSpec(path, imageSpec);
    const ChannelMap m = mapChannels(path, imageSpec);
    FileInfo info;
    info.width = imageSpec.width;
    info.height = imageSpec.height;
    info.depth = depthOf(imageSpec.format);
    info.hasAlpha = m.alpha >= 0;
    return info;
}

HostImage readImage(const std::string& path, std::optional<Depth> depth, Depth* fileDepth) {
    auto in = openInput(path);
    const ImageSpec imageSpec = in->spec();
    checkSpec(path, imageSpec);
    const ChannelMap m = mapChannels(path, imageSpec);

    HostImage img;
    img.width = imageSpec.width;
    img.height = imageSpec.height;
    img.depth = depth ? *depth : depthOf(imageSpec.format);
    if (fileDepth) *fileDepth = depthOf(imageSpec.format);
    img.pixels.resize(img.rowBytes() * static_cast<std::size_t>(img.height));
    const int nch = imageSpec.nchannels;
    switch (img.depth) {
        case Depth::U8:
            toHost(readPixels<uint8_t>(path, *in, img.depth).data(), nch, m, uint8_t{255},
                   [](uint8_t v) { return v; }, img);
            break;
        case Depth::U16:
            toHost(readPixels<uint16_t>(path, *in, img.depth).data(), nch, m, uint16_t{32768},
                   fileToHost16, img);
            break;
        case Depth::F32:
            toHost(readPixels<float>(path, *in, img.depth).data(), nch, m, 1.0f,
                   [](float v) { return v; }, img);
            break;
    }
    in->close();
    return img;
}

}  // namespace kcli

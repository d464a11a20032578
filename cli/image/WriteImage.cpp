#include "cli/image/WriteImage.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <vector>

#include "cli/Depth16.h"
#include "cli/ExitCodes.h"
#include "cli/image/ChannelMap.h"
#include "cli/image/DecoderMessages.h"
#include "cli/image/OutputFormat.h"
#include "cli/image/PixelTypes.h"
#include "cli/image/PngEncoder.h"
#include "cli/image/TempFile.h"

using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace kcli {
namespace {

// PNG goes through its own encoder, several times faster than the image
// library's (see PngEncoder.h).
void writePng(const std::string& path, const HostImage& img, const WriteOptions& options,
              std::string* warning) {
    int level = PNG_DEFAULT_LEVEL;
    if (options.compression)
        level = options.compression->method == "none" ? 0 : options.compression->level.value_or(6);
    if (warning && img.depth == Depth::F32)
        *warning = path + ": the png format stores uint16, not float; values were clamped and "
                          "rounded to fit";
    TempFile temp(path);
    temp.writeAll(encodePng(img, level));
    temp.commit();
}

}  // namespace

void writeImage(const std::string& path, const HostImage& img, std::string* warning) {
    writeImage(path, img, WriteOptions{}, warning);
}

void writeImage(const std::string& path, const HostImage& img, const WriteOptions& options,
                std::string* warning) {
    auto out = ImageOutput::create(path);
    if (!out) throw Failure(EXIT_BAD_INPUT, path + ": no image format is known for this file name");
    const std::string format = out->format_name();
    if (options.compression) checkCompression(path, format, *options.compression);
    if (format == "png") {
        writePng(path, img, options, warning);
        return;
    }
    const bool alpha = out->supports("alpha");
    const int nch = alpha ? 4 : 3;
    const TypeDesc type = typeOf(img.depth);
    const TypeDesc fileType = storedType(format, type);
    ImageSpec imageSpec(img.width, img.height, nch, fileType);
    imageSpec.channelnames = alpha ? std::vector<std::string>{"R", "G", "B", "A"}
                              : std::vector<std::string>{"R", "G", "B"};
    imageSpec.alpha_channel = alpha ? 3 : -1;
    // The pixels are stored as they are; without this the PNG and TIFF
    // writers would treat colour as premultiplied and divide it by alpha.
    imageSpec.attribute("oiio:UnassociatedAlpha", 1);
    if (options.compression) imageSpec.attribute("compression", options.compression->text());

    const std::size_t n = static_cast<std::size_t>(img.width) * img.height;
    // Integer worlds going to a float file are scaled by the host's white
    // (32768 for 16 bits), so the file holds the host's values themselves.
    const TypeDesc bufType = fileType == TypeDesc::FLOAT ? TypeDesc::FLOAT : type;
    std::vector<unsigned char> buf(n * nch * bufType.size());
    const auto* host8 = reinterpret_cast<const uint8_t*>(img.pixels.data());
    const auto* host16 = reinterpret_cast<const uint16_t*>(img.pixels.data());
    auto* out8 = reinterpret_cast<uint8_t*>(buf.data());
    auto* out16 = reinterpret_cast<uint16_t*>(buf.data());
    auto* outF = reinterpret_cast<float*>(buf.data());
    switch (img.depth) {
        case Depth::U8:
            if (bufType == TypeDesc::FLOAT)
                fromHost(outF, host8, n, nch, [](uint8_t v) { return v / 255.0f; });
            else
                fromHost(out8, host8, n, nch, [](uint8_t v) { return v; });
            break;
        case Depth::U16:
            if (bufType == TypeDesc::FLOAT)
                fromHost(outF, host16, n, nch, [](uint16_t v) { return v / 32768.0f; });
            else
                fromHost(out16, host16, n, nch, hostToFile16);
            break;
        case Depth::F32:
            fromHost(outF, reinterpret_cast<const float*>(img.pixels.data()), n, nch,
                     [](float v) { return v; });
            break;
    }

    // Encoded in memory, then written with checked system calls: the
    // encoders' own file writing does not always notice a full disk.
    std::vector<unsigned char> encoded;
    OIIO::Filesystem::IOVecOutput proxy(encoded);
    const bool inMemory = out->supports("ioproxy") && out->set_ioproxy(&proxy);
    TempFile temp(path);
    auto fail = [&](const std::string& what) {
        std::string msg = oneLine(out->geterror());
        out.reset();  // closes the file before the temporary is removed
        throw Failure(EXIT_IO, path + ": cannot be written: " + what + " (" + msg + ")");
    };
    if (!out->open(temp.path(), imageSpec)) fail("open failed");
    const TypeDesc stored = out->spec().format;
    if (warning && stored != type && stored != TypeDesc::FLOAT)
        *warning = path + ": the " + format + " format stores " + stored.c_str() + ", not " +
                   type.c_str() + "; values were clamped and rounded to fit";
    if (!out->write_image(bufType, buf.data())) fail("write failed");
    if (!out->close()) fail("close failed");
    if (inMemory) temp.writeAll(encoded);
    temp.commit();
}

}  // namespace kcli

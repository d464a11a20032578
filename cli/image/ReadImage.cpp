#include "cli/image/ReadImage.h"

#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/image/ChannelMap.h"
#include "cli/image/DecoderMessages.h"
#include "cli/image/PixelConvert.h"
#include "cli/image/PixelTypes.h"
#include "cli/image/SourceFile.h"

namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace kcli {
namespace {

// The host's worlds address rows with a 32-bit byte count, and a frame this
// size already needs gigabytes; anything beyond is a corrupt or hostile
// header, not footage. The same bounds every part a file carries along.
constexpr long long MAX_PIXELS = 1LL << 28;
constexpr int MAX_PARTS = 256;

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
    if (static_cast<long long>(imageSpec.width) * imageSpec.height > MAX_PIXELS ||
        imageSpec.nchannels > 64 || imageSpec.nchannels <= 0 || imageSpec.depth > 1)
        throw Failure(EXIT_BAD_INPUT, path + ": declares an image too large to key (" +
                                          std::to_string(imageSpec.width) + "x" +
                                          std::to_string(imageSpec.height) + ")");
}

std::string partName(const ImageSpec& imageSpec, int index) {
    const std::string name = imageSpec.get_string_attribute("oiio:subimagename");
    return name.empty() ? "#" + std::to_string(index) : "'" + name + "'";
}

// Every part's header, in order.
std::vector<ImageSpec> partSpecs(const std::string& path, ImageInput& in) {
    std::vector<ImageSpec> imageSpecs;
    for (int p = 0; p < MAX_PARTS && in.seek_subimage(p, 0); ++p) imageSpecs.push_back(in.spec());
    if (imageSpecs.empty()) throw Failure(EXIT_BAD_INPUT, path + ": holds no image");
    return imageSpecs;
}

struct Choice {
    int part = 0;
    ChannelMap channels;
};

Choice choosePart(const std::string& path, const std::vector<ImageSpec>& imageSpecs,
                  const ReadOptions& o) {
    Choice c;
    if (!o.part.empty()) {
        const bool index = std::all_of(o.part.begin(), o.part.end(),
                                       [](char ch) { return ch >= '0' && ch <= '9'; });
        c.part = -1;
        for (int p = 0; p < static_cast<int>(imageSpecs.size()); ++p)
            if (index ? o.part.size() < 4 && std::stoi(o.part) == p
                      : imageSpecs[p].get_string_attribute("oiio:subimagename") == o.part)
                c.part = p;
        if (c.part < 0) {
            std::string names;
            for (int p = 0; p < static_cast<int>(imageSpecs.size()); ++p)
                names += (p ? ", " : "") + std::to_string(p) + " " + partName(imageSpecs[p], p);
            throw Failure(EXIT_BAD_INPUT, "--part: " + path + " has no part '" + o.part +
                                              "' (its parts: " + names + ")");
        }
        if (imageSpecs[c.part].deep)
            throw Failure(EXIT_BAD_INPUT, "--part: " + path + ": part " +
                                              partName(imageSpecs[c.part], c.part) +
                                              " is deep; deep images are not supported");
        checkSpec(path, imageSpecs[c.part]);
        if (!o.layer.empty()) {
            c.channels = mapChannels(path, imageSpecs[c.part], o.layer);
            return c;
        }
        try {
            c.channels = mapChannels(path, imageSpecs[c.part], o.layer);
        } catch (const Failure& f) {
            // The part was the user's choice: the flag is what to change.
            std::string why = f.what();
            if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
            throw Failure(f.code(), "--part: " + path + ": part " +
                                        partName(imageSpecs[c.part], c.part) +
                                        " cannot be keyed: " + why);
        }
        return c;
    }
    // The first part with colour (with the layer, when one is asked for).
    for (int p = 0; p < static_cast<int>(imageSpecs.size()); ++p) {
        if (imageSpecs[p].deep) continue;
        checkSpec(path, imageSpecs[p]);
        try {
            c.channels = mapChannels(path, imageSpecs[p], o.layer);
            c.part = p;
            return c;
        } catch (const Failure&) {
            if (p + 1 == static_cast<int>(imageSpecs.size()) || imageSpecs.size() == 1) throw;
        }
    }
    if (imageSpecs.front().deep)
        throw Failure(EXIT_BAD_INPUT, path + ": deep images are not supported");
    throw Failure(EXIT_BAD_INPUT, path + ": no part holds R, G and B");
}

bool isAssociated(const std::string& format, const ImageSpec& imageSpec, const ChannelMap& m) {
    if (m.alpha < 0) return false;
    // EXR defines colour as premultiplied; a TIFF says which it holds, and
    // OpenImageIO marks the unassociated ones when asked to keep them so.
    if (format == "openexr") return true;
    if (format == "tiff") return imageSpec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    return false;
}

std::vector<unsigned char> readPart(const std::string& path, ImageInput& in, int part,
                                    const ImageSpec& imageSpec) {
    if (!in.seek_subimage(part, 0))
        throw Failure(EXIT_BAD_INPUT, path + ": corrupt image (" + oneLine(in.geterror()) + ")");
    // The pixels are later walked by `imageSpec`: a reader that described the
    // part otherwise now must not fill a buffer of another size.
    const ImageSpec& at = in.spec();
    if (at.width != imageSpec.width || at.height != imageSpec.height ||
        at.image_bytes(true) != imageSpec.image_bytes(true))
        throw Failure(EXIT_INTERNAL, path + ": part " + std::to_string(part) +
                                         " was described two ways by its reader");
    std::vector<unsigned char> buf(imageSpec.image_bytes(true));
    QuietStderr quiet;
    if (!in.read_image(part, 0, 0, imageSpec.nchannels, TypeDesc::UNKNOWN, buf.data()))
        throw Failure(EXIT_BAD_INPUT,
                      path + ": corrupt or truncated image (" + oneLine(in.geterror()) + ")");
    return buf;
}

}  // namespace

FileInfo probeImage(const std::string& path, const ReadOptions& options) {
    auto in = openInput(path);
    const std::vector<ImageSpec> imageSpecs = partSpecs(path, *in);
    const Choice c = choosePart(path, imageSpecs, options);
    const ImageSpec& imageSpec = imageSpecs[c.part];
    FileInfo info;
    info.width = imageSpec.width;
    info.height = imageSpec.height;
    info.depth = depthOf(imageSpec.channelformat(c.channels.red));
    info.hasAlpha = c.channels.alpha >= 0;
    return info;
}

ImageSpec probeImageHeader(const std::string& path, const ReadOptions& options) {
    auto in = openInput(path);
    const std::vector<ImageSpec> imageSpecs = partSpecs(path, *in);
    return imageSpecs[choosePart(path, imageSpecs, options).part];
}

HostImage readImage(const std::string& path, std::optional<Depth> depth, Depth* fileDepth,
                    const ReadOptions& options) {
    auto in = openInput(path);
    const std::vector<ImageSpec> imageSpecs = partSpecs(path, *in);
    const Choice c = choosePart(path, imageSpecs, options);

    auto source = std::make_shared<SourceFile>();
    source->path = path;
    source->format = in->format_name();
    source->keyed = c.part;
    source->channels = c.channels;
    for (int p = 0; p < static_cast<int>(imageSpecs.size()); ++p) {
        const ImageSpec& imageSpec = imageSpecs[p];
        if (p != c.part) {
            if (imageSpec.deep) {
                source->unread.push_back("deep part " + partName(imageSpec, p));
                continue;
            }
            checkSpec(path, imageSpec);
        }
        FilePart part;
        part.imageSpec = imageSpec;
        part.pixels = readPart(path, *in, p, imageSpec);
        // Only once the part is current: the EXR reader, asked for a level a
        // part lacks, moves to the part but keeps the last one's description.
        if (in->seek_subimage(p, 1))
            source->unread.push_back("the mip levels of part " + partName(imageSpec, p));
        if (p == c.part) source->keyed = static_cast<int>(source->parts.size());
        source->parts.push_back(std::move(part));
    }
    FilePart& keyed = source->parts[source->keyed];
    source->associated = isAssociated(source->format, keyed.imageSpec, c.channels);

    HostImage img;
    img.width = keyed.imageSpec.width;
    img.height = keyed.imageSpec.height;
    const Depth own = depthOf(keyed.imageSpec.channelformat(c.channels.red));
    img.depth = depth ? *depth : own;
    if (fileDepth) *fileDepth = own;
    img.pixels.resize(img.rowBytes() * static_cast<std::size_t>(img.height));
    keyedToHost(keyed.imageSpec, keyed.pixels.data(), c.channels, source->associated, img);
    // Without channels beyond the keyed ones there is nothing to carry but
    // the header; the frame's memory is better spent on frames in flight.
    bool extra = false;
    for (int ch = 0; ch < keyed.imageSpec.nchannels; ++ch) extra = extra || !c.channels.isKeyed(ch);
    if (!extra) std::vector<unsigned char>().swap(keyed.pixels);
    in->close();
    img.source = std::move(source);
    return img;
}

}  // namespace kcli

#include "cli/ImageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/Depth16.h"
#include "cli/ExitCodes.h"
#include "host/HostTypes.h"

namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace kcli {

const char* depthName(Depth d) {
    switch (d) {
        case Depth::U8: return "8-bit";
        case Depth::U16: return "16-bit";
        default: return "32-bit float";
    }
}

std::size_t pixelBytes(Depth d) {
    switch (d) {
        case Depth::U8: return sizeof(PF_Pixel);
        case Depth::U16: return sizeof(PF_Pixel16);
        default: return sizeof(PF_PixelFloat);
    }
}

namespace {

// The host's worlds address rows with a 32-bit byte count, and a frame this
// size already needs gigabytes; anything beyond is a corrupt or hostile
// header, not footage.
constexpr long long MAX_PIXELS = 1LL << 28;

// OIIO's messages can span lines; the tool's errors are one line each.
std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s.empty() ? "unknown error" : s;
}

TypeDesc typeOf(Depth d) {
    switch (d) {
        case Depth::U8: return TypeDesc::UINT8;
        case Depth::U16: return TypeDesc::UINT16;
        default: return TypeDesc::FLOAT;
    }
}

Depth depthOf(const TypeDesc& t) {
    if (t == TypeDesc::UINT8 || t == TypeDesc::INT8) return Depth::U8;
    if (t == TypeDesc::UINT16 || t == TypeDesc::INT16) return Depth::U16;
    return Depth::F32;
}

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

// Some decoders (libpng among them) print their complaints to stderr on top
// of reporting them to OpenImageIO, which already hands them to us; the
// tool's errors are one line each, so stderr is parked while they run.
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
        if (null >= 0) ::close(null);
    }
    ~QuietStderr() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

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

struct ChannelMap {
    int red = -1, green = -1, blue = -1, alpha = -1;
};

ChannelMap mapChannels(const std::string& path, const ImageSpec& imageSpec) {
    ChannelMap m;
    auto find = [&](const char* name) {
        for (int i = 0; i < imageSpec.nchannels; ++i)
            if (i < static_cast<int>(imageSpec.channelnames.size()) && imageSpec.channelnames[i] == name)
                return i;
        return -1;
    };
    m.red = find("R");
    m.green = find("G");
    m.blue = find("B");
    if (m.red >= 0 && m.green >= 0 && m.blue >= 0) {
        m.alpha = find("A");
        if (m.alpha < 0 && imageSpec.alpha_channel >= 0 && imageSpec.alpha_channel != m.red &&
            imageSpec.alpha_channel != m.green && imageSpec.alpha_channel != m.blue)
            m.alpha = imageSpec.alpha_channel;
        return m;
    }
    if (imageSpec.nchannels == 3 || imageSpec.nchannels == 4) {
        m = {0, 1, 2, imageSpec.nchannels == 4 ? 3 : -1};
        return m;
    }
    std::string names;
    for (const std::string& n : imageSpec.channelnames) names += (names.empty() ? "" : ",") + n;
    throw Failure(EXIT_BAD_INPUT, path + ": unsupported channel layout, " +
                                      std::to_string(imageSpec.nchannels) + " channels (" + names +
                                      "); expected RGB or RGBA");
}

void checkSpec(const std::string& path, const ImageSpec& imageSpec) {
    if (imageSpec.deep) throw Failure(EXIT_BAD_INPUT, path + ": deep images are not supported");
    if (imageSpec.width <= 0 || imageSpec.height <= 0)
        throw Failure(EXIT_BAD_INPUT, path + ": has no pixels (" + std::to_string(imageSpec.width) +
                                          "x" + std::to_string(imageSpec.height) + ")");
    if (static_cast<long long>(imageSpec.width) * imageSpec.height > MAX_PIXELS ||
        imageSpec.nchannels > 64 || imageSpec.depth > 1)
        throw Failure(EXIT_BAD_INPUT, path + ": declares an image too large to key (" +
                                          std::to_string(imageSpec.width) + "x" +
                                          std::to_string(imageSpec.height) + ")");
}

template <typename T, typename Convert>
void toHost(const std::vector<T>& file, int nch, const ChannelMap& m, T opaque, Convert convert,
            HostImage& out) {
    const std::size_t n = static_cast<std::size_t>(out.width) * out.height;
    T* dst = reinterpret_cast<T*>(out.pixels.data());
    for (std::size_t i = 0; i < n; ++i) {
        const T* src = &file[i * nch];
        dst[4 * i + 0] = m.alpha >= 0 ? convert(src[m.alpha]) : opaque;
        dst[4 * i + 1] = convert(src[m.red]);
        dst[4 * i + 2] = convert(src[m.green]);
        dst[4 * i + 3] = convert(src[m.blue]);
    }
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

// The path of the file being written, for the interrupt handler. Plain
// storage that a signal handler may read; `g_tempActive` guards it.
char g_tempPath[4096];
volatile std::sig_atomic_t g_tempActive = 0;

extern "C" void removeTempAndDie(int sig) {
    if (g_tempActive) ::unlink(g_tempPath);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

class TempFile {
public:
    explicit TempFile(const std::string& finalPath) {
        const fs::path p(finalPath);
        const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
        // Hidden, in the same folder so the rename cannot cross file systems.
        path_ = (dir / ("." + p.filename().string() + "." + std::to_string(::getpid()) +
                        ".kestrelumen-tmp"))
                    .string();
        if (path_.size() < sizeof g_tempPath) {
            std::memcpy(g_tempPath, path_.c_str(), path_.size() + 1);
            g_tempActive = 1;
        }
    }
    ~TempFile() {
        if (!committed_) ::unlink(path_.c_str());
        g_tempActive = 0;
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }

    // Every byte reaches the disk or the write is an error: a full disk or
    // a failing device must never pass as success.
    void writeAll(const std::string& finalPath, const std::vector<unsigned char>& bytes) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) throw Failure(EXIT_IO, finalPath + ": cannot be written: " + std::strerror(errno));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int e = n < 0 ? errno : EIO;
                ::close(fd);
                throw Failure(EXIT_IO, finalPath + ": cannot be written: " + std::strerror(e));
            }
            done += static_cast<std::size_t>(n);
        }
        if (::fsync(fd) != 0 && errno != EINVAL) {
            const int e = errno;
            ::close(fd);
            throw Failure(EXIT_IO, finalPath + ": cannot be written: " + std::strerror(e));
        }
        if (::close(fd) != 0)
            throw Failure(EXIT_IO, finalPath + ": cannot be written: " + std::strerror(errno));
    }

    void commitAs(const std::string& finalPath) {
        std::error_code ec;
        fs::rename(path_, finalPath, ec);
        if (ec) throw Failure(EXIT_IO, finalPath + ": cannot be written: " + ec.message());
        committed_ = true;
    }

private:
    std::string path_;
    bool committed_ = false;
};

std::string formatName(const std::string& path) {
    auto out = ImageOutput::create(path);
    if (!out) {
        OIIO::geterror();  // clear it
        throw Failure(EXIT_BAD_INPUT,
                      path + ": no image format is known for this file name "
                             "(use .png, .tif, .exr, ...)");
    }
    return out->format_name();
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
    switch (img.depth) {
        case Depth::U8:
            toHost(readPixels<uint8_t>(path, *in, img.depth), imageSpec.nchannels, m, uint8_t{255},
                   [](uint8_t v) { return v; }, img);
            break;
        case Depth::U16:
            toHost(readPixels<uint16_t>(path, *in, img.depth), imageSpec.nchannels, m,
                   uint16_t{32768}, fileToHost16, img);
            break;
        case Depth::F32:
            toHost(readPixels<float>(path, *in, img.depth), imageSpec.nchannels, m, 1.0f,
                   [](float v) { return v; }, img);
            break;
    }
    in->close();
    return img;
}

void checkOutputPath(const std::string& path, bool needsAlpha) {
    std::error_code ec;
    const fs::path p(path);
    if (fs::is_directory(p, ec)) throw Failure(EXIT_BAD_INPUT, path + ": is a folder");
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    if (!fs::is_directory(dir, ec))
        throw Failure(EXIT_BAD_INPUT, path + ": folder '" + dir.string() + "' does not exist");
    const std::string format = formatName(path);
    if (needsAlpha) {
        auto out = ImageOutput::create(path);
        if (!out->supports("alpha"))
            throw Failure(EXIT_BAD_INPUT,
                          path + ": the " + format +
                              " format cannot hold alpha; write .png, .tif or .exr, or choose "
                              "--view alpha or --view spill");
    }
}

void writeImage(const std::string& path, const HostImage& img, std::string* warning) {
    auto out = ImageOutput::create(path);
    if (!out) throw Failure(EXIT_BAD_INPUT, path + ": no image format is known for this file name");
    const bool alpha = out->supports("alpha");
    const int nch = alpha ? 4 : 3;
    const TypeDesc type = typeOf(img.depth);
    // The file's own type where the format offers the world's, else the
    // nearest that keeps the most: EXR has no integer channels and its half
    // would round 16-bit codes, so it gets float; PNG has no float, so it
    // gets 16 bits rather than 8.
    TypeDesc fileType = type;
    const std::string format = out->format_name();
    if (format == "openexr") fileType = TypeDesc::FLOAT;
    if (format == "png" && type == TypeDesc::FLOAT) fileType = TypeDesc::UINT16;
    ImageSpec imageSpec(img.width, img.height, nch, fileType);
    imageSpec.channelnames = alpha ? std::vector<std::string>{"R", "G", "B", "A"}
                              : std::vector<std::string>{"R", "G", "B"};
    imageSpec.alpha_channel = alpha ? 3 : -1;
    // The pixels are stored as they are; without this the PNG and TIFF
    // writers would treat colour as premultiplied and divide it by alpha.
    imageSpec.attribute("oiio:UnassociatedAlpha", 1);

    const std::size_t n = static_cast<std::size_t>(img.width) * img.height;
    // Integer worlds going to a float file are scaled by the host's white
    // (32768 for 16 bits), so the file holds the host's values themselves.
    const TypeDesc bufType = fileType == TypeDesc::FLOAT ? TypeDesc::FLOAT : type;
    std::vector<unsigned char> buf(n * nch * bufType.size());
    auto fromHost = [&](auto* dst, const auto* src, auto convert) {
        for (std::size_t i = 0; i < n; ++i) {
            dst[i * nch + 0] = convert(src[4 * i + 1]);
            dst[i * nch + 1] = convert(src[4 * i + 2]);
            dst[i * nch + 2] = convert(src[4 * i + 3]);
            if (alpha) dst[i * nch + 3] = convert(src[4 * i + 0]);
        }
    };
    const auto* host8 = reinterpret_cast<const uint8_t*>(img.pixels.data());
    const auto* host16 = reinterpret_cast<const uint16_t*>(img.pixels.data());
    auto* out8 = reinterpret_cast<uint8_t*>(buf.data());
    auto* out16 = reinterpret_cast<uint16_t*>(buf.data());
    auto* outF = reinterpret_cast<float*>(buf.data());
    switch (img.depth) {
        case Depth::U8:
            if (bufType == TypeDesc::FLOAT)
                fromHost(outF, host8, [](uint8_t v) { return v / 255.0f; });
            else
                fromHost(out8, host8, [](uint8_t v) { return v; });
            break;
        case Depth::U16:
            if (bufType == TypeDesc::FLOAT)
                fromHost(outF, host16, [](uint16_t v) { return v / 32768.0f; });
            else
                fromHost(out16, host16, hostToFile16);
            break;
        case Depth::F32:
            fromHost(outF, reinterpret_cast<const float*>(img.pixels.data()), [](float v) { return v; });
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
    if (inMemory) temp.writeAll(path, encoded);
    temp.commitAs(path);
}

void installInterruptCleanup() {
    std::signal(SIGINT, removeTempAndDie);
    std::signal(SIGTERM, removeTempAndDie);
    std::signal(SIGHUP, removeTempAndDie);
}

}  // namespace kcli

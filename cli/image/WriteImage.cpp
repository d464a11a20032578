#include "cli/image/WriteImage.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/image/DecoderMessages.h"
#include "cli/image/Metadata.h"
#include "cli/image/OutputFormat.h"
#include "cli/image/PixelConvert.h"
#include "cli/image/PixelTypes.h"
#include "cli/image/PngEncoder.h"
#include "cli/image/SourceFile.h"
#include "cli/image/TempFile.h"

using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace kcli {
namespace {

// One channel copied between two native layouts, converted to `to`'s type.
void copyChannel(const ImageSpec& from, const unsigned char* src, int fc, const ImageSpec& to,
                 unsigned char* dst, int tc) {
    std::size_t fo = 0, to_ = 0;
    for (int c = 0; c < fc; ++c) fo += from.channelformat(c).size();
    for (int c = 0; c < tc; ++c) to_ += to.channelformat(c).size();
    const auto fs = static_cast<OIIO::stride_t>(from.pixel_bytes(true));
    const auto ts = static_cast<OIIO::stride_t>(to.pixel_bytes(true));
    OIIO::convert_image(1, from.width, from.height, 1, src + fo, from.channelformat(fc), fs,
                        fs * from.width, OIIO::AutoStride, dst + to_, to.channelformat(tc), ts,
                        ts * to.width, OIIO::AutoStride);
}

struct Planned {
    ImageSpec imageSpec;
    std::vector<unsigned char> pixels;
};

class Writer {
public:
    Writer(const std::string& path, const HostImage& img, const WriteOptions& o,
           std::vector<FileWarning>& warnings)
        : path_(path), img_(img), o_(o), warnings_(warnings) {}

    void run() {
        out_ = ImageOutput::create(path_);
        if (!out_)
            throw Failure(EXIT_BAD_INPUT, path_ + ": no image format is known for this file name");
        format_ = out_->format_name();
        if (o_.compression) checkCompression(path_, format_, *o_.compression);
        associate_ = writesAssociated(path_, format_, o_.alpha);
        const SourceFile* src = img_.source.get();
        if (src)
            for (const std::string& u : src->unread)
                warn("unread:" + u,
                     u + " of " + src->path + " could not be carried and is dropped");
        planKeyed();
        if (src && src->parts.size() > 1) planOtherParts();
        encode();
    }

private:
    void warn(const std::string& kind, const std::string& detail) {
        warnings_.push_back({kind, path_ + ": " + detail});
    }

    void setCompression(ImageSpec& imageSpec, const std::string& fromFormat) {
        if (o_.compression) {
            imageSpec.erase_attribute("openexr:dwaCompressionLevel");
            imageSpec.attribute("compression", o_.compression->text());
        } else if (fromFormat != format_) {
            imageSpec.erase_attribute("compression");
        }
        // Same format: the input's codec and level stay as they were read.
    }

    // Measured on keyed frames (see the README's throughput section): grain
    // defeats TIFF's predictors at every depth (the files come out 10 to 60%
    // larger with them), and deflate's fastest level is within 2% of the
    // default level's size in half its time. A TIFF stores no level, so an
    // input's zip is written at the tool's own.
    void tiffCodec(ImageSpec& imageSpec) const {
        const std::string c = imageSpec.get_string_attribute("compression");
        if (!o_.compression && (c.empty() || c == "zip"))
            imageSpec.attribute("compression", "zip:1");
        imageSpec.attribute("tiff:Predictor", 1);
    }

    void planKeyed() {
        const SourceFile* src = img_.source.get();
        const bool alpha = out_->supports("alpha");
        int bits = 0;
        const TypeDesc type = keyedType(format_, src, img_.depth, o_.depth, bits);
        keyedType_ = type;
        const bool integer = type == TypeDesc::UINT8 || type == TypeDesc::UINT16;
        if ((img_.depth == Depth::F32 && integer) ||
            (img_.depth == Depth::U16 && type == TypeDesc::UINT8))
            warn("stored", "the " + format_ + " format stores " + type.c_str() + ", not " +
                               typeOf(img_.depth).c_str() +
                               "; values were clamped and rounded to fit");
        Planned p;
        ChannelMap m;
        const bool keepChannels = src && format_ == "openexr";
        if (keepChannels) {
            const FilePart& part = src->parts[src->keyed];
            m = src->channels;
            ImageSpec& imageSpec = p.imageSpec;
            imageSpec = part.imageSpec;
            imageSpec.extra_attribs.clear();
            std::vector<TypeDesc> formats(imageSpec.nchannels);
            for (int c = 0; c < imageSpec.nchannels; ++c)
                formats[c] = m.isKeyed(c) ? type : part.imageSpec.channelformat(c);
            if (alpha && m.alpha < 0) {
                imageSpec.channelnames.push_back(m.alphaName());
                formats.push_back(type);
                m.alpha = imageSpec.nchannels++;
            }
            imageSpec.alpha_channel = m.alpha;
            imageSpec.channelformats = formats;
            imageSpec.format = type;
            if (std::all_of(formats.begin(), formats.end(), [&](TypeDesc t) { return t == type; }))
                imageSpec.channelformats.clear();
        } else {
            const int nch = alpha ? 4 : 3;
            p.imageSpec = ImageSpec(img_.width, img_.height, nch, type);
            p.imageSpec.channelnames = alpha ? std::vector<std::string>{"R", "G", "B", "A"}
                                             : std::vector<std::string>{"R", "G", "B"};
            p.imageSpec.alpha_channel = alpha ? 3 : -1;
            m = {0, 1, 2, alpha ? 3 : -1, ""};
            if (src) keepWindows(src->parts[src->keyed].imageSpec, p.imageSpec);
            if (src) dropChannels(*src);
        }
        if (src) {
            const FilePart& part = src->parts[src->keyed];
            std::vector<std::string> notCarried;
            carryAttributes(part.imageSpec, src->format, format_, p.imageSpec, notCarried);
            if (!notCarried.empty())
                warn("attrs:" + joined(notCarried), "the " + format_ + " format holds no " +
                                                        joined(notCarried) + " of " + src->path +
                                                        "; dropped");
            setCompression(p.imageSpec, src->format);
            if (src->format == format_ && !o_.compression) {
                const std::string c = part.imageSpec.get_string_attribute("compression");
                if (!c.empty()) p.imageSpec.attribute("compression", c);
                // DWA's level is an attribute of its own; the writer takes
                // it as part of the codec's name.
                const float dwa =
                    part.imageSpec.get_float_attribute("openexr:dwaCompressionLevel", 0.0f);
                if (dwa > 0 && c.rfind("dwa", 0) == 0 && c.find(':') == std::string::npos)
                    p.imageSpec.attribute("compression",
                                          c + ":" + std::to_string(static_cast<int>(dwa + 0.5f)));
            }
        } else if (o_.compression) {
            p.imageSpec.attribute("compression", o_.compression->text());
        }
        if (format_ == "tiff") tiffCodec(p.imageSpec);
        if (bits > 0)
            p.imageSpec.attribute("oiio:BitsPerSample", bits);
        else
            p.imageSpec.erase_attribute("oiio:BitsPerSample");
        if (!o_.software.empty()) p.imageSpec.attribute("Software", o_.software);
        // Marks a TIFF as straight or premultiplied; the other writers take
        // colour as it is given when this is set.
        if (format_ == "openexr")
            p.imageSpec.erase_attribute("oiio:UnassociatedAlpha");
        else
            p.imageSpec.attribute("oiio:UnassociatedAlpha", associate_ ? 0 : 1);

        keyedMap_ = m;
        keepChannels_ = keepChannels;
        intended_.push_back(p.imageSpec);
        keyedIndex_ = 0;
        parts_.push_back(std::move(p));
    }

    // The keyed part's pixels in the file's layout, for the image library's
    // writers only: the tool's PNG encoder reads the frame itself, and a
    // frame-sized copy made for nothing would stay in memory as it encodes.
    void fillKeyed() {
        Planned& p = parts_[keyedIndex_];
        const ChannelMap& m = keyedMap_;
        p.pixels.assign(p.imageSpec.image_bytes(true), 0);
        if (keepChannels_) {
            const SourceFile& src = *img_.source;
            const FilePart& part = src.parts[src.keyed];
            for (int c = 0; c < part.imageSpec.nchannels; ++c)
                if (!src.channels.isKeyed(c))
                    copyChannel(part.imageSpec, part.pixels.data(), c, p.imageSpec, p.pixels.data(),
                                c);
        }
        hostToKeyed(img_, m, associate_ && m.alpha >= 0, p.imageSpec, p.pixels.data());
    }

    void keepWindows(const ImageSpec& in, ImageSpec& imageSpec) {
        const bool offset = in.x != 0 || in.y != 0;
        const bool display = in.full_width != in.width || in.full_height != in.height ||
                             in.full_x != in.x || in.full_y != in.y;
        if (!offset && !display) return;
        const bool origin = out_->supports("origin"), full = out_->supports("displaywindow");
        if (origin) {
            imageSpec.x = in.x;
            imageSpec.y = in.y;
        }
        if (full) {
            imageSpec.full_x = in.full_x;
            imageSpec.full_y = in.full_y;
            imageSpec.full_width = in.full_width;
            imageSpec.full_height = in.full_height;
        } else {
            imageSpec.full_x = imageSpec.x;
            imageSpec.full_y = imageSpec.y;
            imageSpec.full_width = imageSpec.width;
            imageSpec.full_height = imageSpec.height;
        }
        if ((offset && !origin) || (display && !full))
            warn("window", std::string("the ") + format_ + " format holds no " +
                               (origin ? "display window" : "data or display window") +
                               "; the data window " + windowText(in) + " is written as " +
                               (origin ? "its own extent" : "an image at the origin"));
    }

    void dropChannels(const SourceFile& src) {
        const std::vector<std::string> dropped = unkeyedChannels(src);
        if (!dropped.empty())
            warn("channels:" + joined(dropped), "the " + format_ + " format holds only the keyed " +
                                                    "colour and alpha; channels " +
                                                    joined(dropped) + " of " + src.path +
                                                    " are dropped");
        if (!src.channels.layer.empty())
            warn("layer", "the " + format_ + " format has no layers; layer " + src.channels.layer +
                              " is written as R, G, B, A");
    }

    void planOtherParts() {
        const SourceFile& src = *img_.source;
        const std::vector<std::string> names = otherPartLabels(src);
        if (!out_->supports("multiimage") || format_ != "openexr") {
            warn("parts:" + joined(names), "the " + format_ + " format holds one part; parts " +
                                               joined(names) + " of " + src.path + " are dropped");
            return;
        }
        std::vector<Planned> all;
        for (int i = 0; i < static_cast<int>(src.parts.size()); ++i) {
            if (i == src.keyed) {
                keyedIndex_ = static_cast<int>(all.size());
                all.push_back(std::move(parts_.front()));
                continue;
            }
            Planned p;
            p.imageSpec = src.parts[i].imageSpec;
            p.imageSpec.extra_attribs.clear();
            std::vector<std::string> notCarried;
            carryAttributes(src.parts[i].imageSpec, src.format, format_, p.imageSpec, notCarried);
            setCompression(p.imageSpec, src.format);
            if (src.format == format_ && !o_.compression) {
                const std::string c = src.parts[i].imageSpec.get_string_attribute("compression");
                if (!c.empty()) p.imageSpec.attribute("compression", c);
            }
            p.pixels = src.parts[i].pixels;
            all.push_back(std::move(p));
        }
        // Parts keep their names (OpenImageIO would number them).
        for (int i = 0; i < static_cast<int>(all.size()); ++i) {
            const std::string name =
                src.parts[i].imageSpec.get_string_attribute("oiio:subimagename");
            if (!name.empty()) all[i].imageSpec.attribute("oiio:subimagename", name);
        }
        parts_ = std::move(all);
        intended_.clear();
        for (const Planned& p : parts_) intended_.push_back(p.imageSpec);
    }

    // PNG goes through its own encoder, several times faster than the image
    // library's (see PngEncoder.h), whenever that encoder can write what was
    // planned: straight RGBA at the host's own width of sample, at the
    // origin, with attributes that are text or the pixel density (which most
    // PNG writers put in every file). Its chunks, else none.
    std::optional<PngMetadata> ownPngMetadata() const {
        if (format_ != "png" || parts_.size() != 1 || associate_) return std::nullopt;
        const ImageSpec& s = parts_.front().imageSpec;
        const TypeDesc own = img_.depth == Depth::U8 ? TypeDesc::UINT8 : TypeDesc::UINT16;
        if (s.nchannels != 4 || s.format != own || s.x != 0 || s.y != 0 || s.full_x != 0 ||
            s.full_y != 0 || s.full_width != s.width || s.full_height != s.height)
            return std::nullopt;
        PngMetadata metadata;
        if (s.find_attribute("XResolution") || s.find_attribute("YResolution")) {
            metadata.density = pngDensity(s);
            if (!metadata.density) return std::nullopt;
        }
        for (const OIIO::ParamValue& a : s.extra_attribs) {
            const std::string name = a.name().string();
            if (name == "compression" || name.rfind("oiio:", 0) == 0) continue;
            if (metadata.density &&
                (name == "XResolution" || name == "YResolution" || name == "ResolutionUnit"))
                continue;
            if (a.type() != TypeDesc::STRING || name.size() > 79) return std::nullopt;
            metadata.text.emplace_back(name, a.get_string());
        }
        return metadata;
    }

    // The image library reads a density per metre as dots per inch; "cm"
    // and "inch" are per metre in the file, "none" (or no unit) the aspect
    // alone. Rounded, so a file's own density comes back as it was.
    static std::optional<PngDensity> pngDensity(const ImageSpec& s) {
        const OIIO::ParamValue* xa = s.find_attribute("XResolution", TypeDesc::FLOAT);
        const OIIO::ParamValue* ya = s.find_attribute("YResolution", TypeDesc::FLOAT);
        if (!xa || !ya) return std::nullopt;
        const std::string unit = s.get_string_attribute("ResolutionUnit", "none");
        double scale = 1;
        if (unit == "inch")
            scale = 100 / 2.54;
        else if (unit == "cm")
            scale = 100;
        else if (unit != "none")
            return std::nullopt;
        const double x = xa->get_float() * scale, y = ya->get_float() * scale;
        // NaN fails both comparisons.
        if (!(x >= 0 && x <= 4294967295.0) || !(y >= 0 && y <= 4294967295.0)) return std::nullopt;
        return PngDensity{static_cast<uint32_t>(std::lround(x)),
                          static_cast<uint32_t>(std::lround(y)), unit != "none"};
    }

    void encodeOwnPng(const PngMetadata& metadata) {
        int level = PNG_DEFAULT_LEVEL;
        if (o_.compression)
            level = o_.compression->method == "none" ? 0 : o_.compression->level.value_or(6);
        std::vector<unsigned char> encoded = encodePng(img_, level, metadata);
        TempFile temp(path_);
        out_.reset();
        checkWritten(&encoded, temp.path());
        temp.writeAll(encoded);
        temp.commit();
    }

    void encode() {
        if (const auto metadata = ownPngMetadata()) {
            encodeOwnPng(*metadata);
            return;
        }
        fillKeyed();
        // Encoded in memory, then written with checked system calls: the
        // encoders' own file writing does not always notice a full disk.
        // Not TIFF: through any proxy, OpenImageIO's TIFF writer leaves out
        // the image length when it adds an EXIF directory (as for a colour
        // space), making the file unreadable; libtiff checks its own writes,
        // and the read-back below checks the result.
        std::vector<unsigned char> encoded;
        OIIO::Filesystem::IOVecOutput proxy(encoded);
        const bool inMemory =
            format_ != "tiff" && out_->supports("ioproxy") && out_->set_ioproxy(&proxy);
        TempFile temp(path_);
        auto fail = [&](const std::string& what) {
            std::string msg = oneLine(out_->geterror());
            out_.reset();  // closes the file before the temporary is removed
            throw Failure(EXIT_IO, path_ + ": cannot be written: " + what + " (" + msg + ")");
        };
        std::vector<ImageSpec> imageSpecs;
        for (const Planned& p : parts_) imageSpecs.push_back(p.imageSpec);
        const bool multi = parts_.size() > 1;
        if (multi ? !out_->open(temp.path(), static_cast<int>(imageSpecs.size()), imageSpecs.data())
                  : !out_->open(temp.path(), imageSpecs.front()))
            fail("open failed");
        for (std::size_t i = 0; i < parts_.size(); ++i) {
            if (i > 0 && !out_->open(temp.path(), parts_[i].imageSpec, ImageOutput::AppendSubimage))
                fail("open failed");
            if (static_cast<int>(i) == keyedIndex_) {
                const TypeDesc stored = out_->spec().format;
                if (stored != keyedType_)
                    warn("stored", "the " + format_ + " format stores " + stored.c_str() +
                                       ", not " + keyedType_.c_str() +
                                       "; values were clamped and rounded to fit");
            }
            if (!out_->write_image(TypeDesc::UNKNOWN, parts_[i].pixels.data()))
                fail("write failed");
        }
        if (!out_->close()) fail("close failed");
        out_.reset();
        // Some writers (multi-part EXR) take the proxy and still write the
        // file themselves.
        std::error_code ec;
        const bool held =
            inMemory && !(encoded.empty() && std::filesystem::exists(temp.path(), ec));
        checkWritten(held ? &encoded : nullptr, temp.path());
        if (held) temp.writeAll(encoded);
        temp.commit();
    }

    // The file as a reader will see it, against what was meant to be in it:
    // what the format silently left out is named.
    void checkWritten(std::vector<unsigned char>* encoded, const std::string& tempPath) {
        auto in = ImageInput::create(format_);
        if (!in) return;
        std::unique_ptr<OIIO::Filesystem::IOMemReader> reader;
        if (encoded) {
            reader =
                std::make_unique<OIIO::Filesystem::IOMemReader>(encoded->data(), encoded->size());
            if (!in->set_ioproxy(reader.get())) return;
        }
        ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);
        ImageSpec back;
        QuietStderr quiet;
        // A file that its own format's reader refuses is no output at all.
        if (!in->open(tempPath, back, config) || !in->seek_subimage(keyedIndex_, 0)) {
            const std::string msg = oneLine(in->geterror() + OIIO::geterror());
            throw Failure(
                EXIT_IO,
                path_ + ": cannot be written: the encoded file does not read back (" + msg + ")");
        }
        const ImageSpec& keyed = intended_[keyedIndex_];
        std::vector<std::string> lost = lostAttributes(keyed, in->spec());
        if (!lost.empty())
            warn("lost:" + joined(lost), "the " + format_ + " format did not keep " + joined(lost));
        const int bits = keyed.get_int_attribute("oiio:BitsPerSample", 0);
        const int backBits = in->spec().get_int_attribute("oiio:BitsPerSample", 0);
        if (bits > 0 && backBits > 0 && backBits != bits)
            warn("bits", "the " + format_ + " format stored " + std::to_string(backBits) +
                             " bits per sample, not the input's " + std::to_string(bits) +
                             " (for these channels)");
        in->close();
    }

    const std::string& path_;
    const HostImage& img_;
    const WriteOptions& o_;
    std::vector<FileWarning>& warnings_;
    std::unique_ptr<ImageOutput> out_;
    std::string format_;
    bool associate_ = false;
    TypeDesc keyedType_;
    ChannelMap keyedMap_;
    bool keepChannels_ = false;
    std::vector<Planned> parts_;
    std::vector<ImageSpec> intended_;
    int keyedIndex_ = 0;
};

}  // namespace

void writeImage(const std::string& path, const HostImage& img, const WriteOptions& options,
                std::vector<FileWarning>* warnings) {
    std::vector<FileWarning> local;
    Writer(path, img, options, warnings ? *warnings : local).run();
}

void writeImage(const std::string& path, const HostImage& img, const WriteOptions& options,
                std::string* warning) {
    std::vector<FileWarning> warnings;
    writeImage(path, img, options, &warnings);
    if (!warning) return;
    for (const FileWarning& w : warnings) *warning += (warning->empty() ? "" : "; ") + w.text;
}

void writeImage(const std::string& path, const HostImage& img, std::string* warning) {
    writeImage(path, img, WriteOptions{}, warning);
}

}  // namespace kcli

#include "cli/clip/ClipWriter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/timecode.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "cli/Depth16.h"
#include "cli/ExitCodes.h"
#include "cli/clip/AudioCopy.h"
#include "cli/clip/ClipColor.h"
#include "cli/clip/ClipFormats.h"
#include "cli/clip/FramePool.h"
#include "cli/image/TempFile.h"

namespace kcli {

struct ClipWriter::Impl {
    std::string path;
    std::optional<TempFile> temp;  // removed unless committed, on a signal too
    ClipWriterOptions o;
    AVFormatContext* output = nullptr;
    CodecPtr encoder;
    AVStream* stream = nullptr;
    FramePtr frame;
    FramePool framePool;
    PacketPtr packet;
    ScalerPtr scaler;
    AVPixelFormat stagingFormat = AV_PIX_FMT_NONE;
    std::vector<uint16_t> staging;
    ColorTags tags;
    std::optional<AudioCopy> audio;
    int64_t offset = 0;        // source ticks subtracted from every timestamp
    double ticksPerFrame = 1;  // of the encoder's time base
    bool sourceTimes = false;  // frames keep the source clip's timestamps
    int written = 0;
    bool finished = false;

    ~Impl() { close(); }

    void close() noexcept {
        audio.reset();
        if (output) {
            if (output->pb) avio_closep(&output->pb);
            avformat_free_context(output);
            output = nullptr;
        }
    }

    [[noreturn]] void failWrite(const std::string& what, int err) const {
        throw Failure(EXIT_IO,
                      path + ": cannot be written: " + what + " (" + avErrorText(err) + ")");
    }

    void writePackets() {
        for (;;) {
            const int err = avcodec_receive_packet(encoder.get(), packet.get());
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
            if (err < 0) failWrite("encoding failed", err);
            if (packet->duration == 0) packet->duration = std::llround(ticksPerFrame);
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const double until = packet->pts * av_q2d(stream->time_base);
            const int werr = av_interleaved_write_frame(output, packet.get());
            if (werr < 0) failWrite("writing failed", werr);
            // Audio up to a second ahead of the video keeps the muxer's
            // interleaving queue short.
            if (audio) audio->copyUntil(until + 1.0);
        }
    }
};

namespace {

AVPixelFormat stagingFor(Depth depth) {
    return depth == Depth::U8 ? AV_PIX_FMT_ARGB : AV_PIX_FMT_RGBA64LE;
}

bool listed(const AVPixelFormat* list, AVPixelFormat f) {
    if (!list) return true;  // the encoder does not say
    for (; *list != AV_PIX_FMT_NONE; ++list)
        if (*list == f) return true;
    return false;
}

}  // namespace

ClipWriter::ClipWriter(const std::string& path, const ClipWriterOptions& options)
    : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.path = path;
    m.o = options;
    av_log_set_level(AV_LOG_QUIET);

    checkOutputPlace(path);

    const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
    if (!format)
        throw Failure(EXIT_BAD_INPUT, path + ": no video container is known for this name");
    const ClipDefault* row = clipDefaultFor(format->name);
    std::string encoderName = m.o.codec;
    if (encoderName.empty()) {
        if (row) {
            encoderName = row->encoder;
        } else {
            const AVCodec* c = avcodec_find_encoder(format->video_codec);
            if (!c)
                throw Failure(EXIT_BAD_INPUT, path + ": the " + format->name +
                                                  " container has no default video encoder; "
                                                  "choose one with --codec");
            encoderName = c->name;
        }
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw Failure(EXIT_BAD_INPUT, "--codec: '" + encoderName +
                                          "' is not a video encoder of "
                                          "this build's libavcodec");
    if (avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) == 0)
        throw Failure(EXIT_BAD_INPUT, path + ": the " + format->name + " container cannot hold " +
                                          codec->name + " video");

    // Encoder options: the user's, then the codec's defaults for the rest.
    AVDictionary* opts = nullptr;
    std::string pixFmtName;
    for (const std::string& kv : m.o.codecOptions) {
        const auto eq = kv.find('=');
        if (eq == std::string::npos || eq == 0)
            throw Failure(EXIT_BAD_INPUT, "--codec-option: '" + kv + "' is not KEY=VALUE");
        const std::string key = kv.substr(0, eq), value = kv.substr(eq + 1);
        if (key == "pix_fmt")
            pixFmtName = value;
        else
            av_dict_set(&opts, key.c_str(), value.c_str(), 0);
    }
    for (const char* const* d = defaultEncoderOptions(codec->name); *d; d += 2)
        av_dict_set(&opts, d[0], d[1], AV_DICT_DONT_OVERWRITE);
    struct DictFree {
        AVDictionary** d;
        ~DictFree() { av_dict_free(d); }
    } dictFree{&opts};

    // The pixel format: asked for, the codec's preferred, or the one of the
    // encoder's that loses least of what is rendered.
    const AVPixelFormat staging = stagingFor(m.o.depth == Depth::U8 ? Depth::U8 : Depth::U16);
    AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
    if (!pixFmtName.empty()) {
        pixFmt = av_get_pix_fmt(pixFmtName.c_str());
        if (pixFmt == AV_PIX_FMT_NONE || !listed(codec->pix_fmts, pixFmt))
            throw Failure(EXIT_BAD_INPUT, "--codec-option: pix_fmt '" + pixFmtName +
                                              "' is not a pixel format of " + codec->name);
    } else {
        pixFmt = preferredPixelFormat(codec->name, m.o.depth);
        if (pixFmt == AV_PIX_FMT_NONE && codec->pix_fmts)
            pixFmt = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, staging, 1, nullptr);
        if (pixFmt == AV_PIX_FMT_NONE) pixFmt = staging;
    }
    if (m.o.needsAlpha && !hasAlphaPlane(pixFmt))
        throw Failure(EXIT_BAD_INPUT,
                      path + ": " + codec->name + " (" + av_get_pix_fmt_name(pixFmt) +
                          ") cannot hold alpha; write .mov, .mkv or .webm, choose a codec with "
                          "alpha, or choose --view alpha or --view spill");

    // Timing: the source clip's own timestamps where the container keeps
    // any (QuickTime, Matroska), else one tick per frame at the clip's rate
    // or the rate given (AVI and MXF count frames).
    const ClipReader* src = m.o.source;
    const AVRational rate = src ? src->facts().frameRate : m.o.frameRate;
    const std::string muxer = format->name;
    m.sourceTimes =
        src && ((format->flags & AVFMT_VARIABLE_FPS) || muxer == "mov" || muxer == "mp4");
    const AVRational timeBase = m.sourceTimes ? src->facts().timeBase : av_inv_q(rate);
    m.ticksPerFrame = m.sourceTimes ? src->ticksPerFrame() : 1.0;

    // Colour tags of what the conversion writes: the source's matrix and
    // range for YUV, the source's primaries and transfer.
    if (src && src->facts().yuv) {
        m.tags = src->facts().conversion;
    } else {
        m.tags.matrix = defaultMatrix(m.o.width, m.o.height);
        const bool hd = m.tags.matrix == AVCOL_SPC_BT709;
        m.tags.primaries = src && src->facts().tags.primaries != AVCOL_PRI_UNSPECIFIED
                               ? src->facts().tags.primaries
                               : (hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M);
        // Images carry sRGB-encoded values.
        m.tags.transfer = src && src->facts().tags.transfer != AVCOL_TRC_UNSPECIFIED
                              ? src->facts().tags.transfer
                              : AVCOL_TRC_IEC61966_2_1;
        m.tags.range = AVCOL_RANGE_MPEG;
        m.tags.siting = AVCHROMA_LOC_LEFT;
    }
    const bool yuvOut = !isRgbFormat(pixFmt);

    m.encoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* e = m.encoder.get();
    if (!e) throw Failure(EXIT_IO, path + ": out of memory");
    e->width = m.o.width;
    e->height = m.o.height;
    e->pix_fmt = pixFmt;
    e->time_base = timeBase;
    e->framerate = rate;
    if (src)
        e->sample_aspect_ratio = src->facts().sampleAspect;
    else if (m.o.images.aspect.num > 0)
        e->sample_aspect_ratio = m.o.images.aspect;
    e->thread_count = 0;
    e->color_primaries = m.tags.primaries;
    e->color_trc = m.tags.transfer;
    if (yuvOut) {
        e->colorspace = m.tags.matrix;
        e->color_range = m.tags.range;
        e->chroma_sample_location = m.tags.siting;
    } else {
        e->colorspace = AVCOL_SPC_RGB;
        e->color_range = AVCOL_RANGE_JPEG;
    }

    int err = avformat_alloc_output_context2(&m.output, format, nullptr, path.c_str());
    if (err < 0 || !m.output) throw Failure(EXIT_IO, path + ": out of memory");
    if (m.output->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    err = avcodec_open2(e, codec, &opts);
    if (err < 0)
        throw Failure(EXIT_BAD_INPUT, path + ": the " + std::string(codec->name) +
                                          " encoder refuses these settings (" + avErrorText(err) +
                                          ")");
    if (const AVDictionaryEntry* left = av_dict_get(opts, "", nullptr, AV_DICT_IGNORE_SUFFIX))
        throw Failure(EXIT_BAD_INPUT, "--codec-option: '" + std::string(left->key) +
                                          "' is not an option of the " + codec->name + " encoder");

    m.stream = avformat_new_stream(m.output, nullptr);
    if (!m.stream || avcodec_parameters_from_context(m.stream->codecpar, e) < 0)
        throw Failure(EXIT_IO, path + ": out of memory");
    m.stream->time_base = e->time_base;
    m.stream->avg_frame_rate = rate;
    m.stream->r_frame_rate = rate;
    m.stream->sample_aspect_ratio = e->sample_aspect_ratio;

    const int first = m.o.frames.empty() ? 1 : m.o.frames.front();
    const bool whole = src && static_cast<int>(m.o.frames.size()) == src->facts().frameCount;
    if (src) {
        const ClipFacts& f = src->facts();
        for (const auto& kv : f.metadata)
            av_dict_set(&m.output->metadata, kv.first.c_str(), kv.second.c_str(), 0);
        if (!f.timecode.empty()) {
            AVTimecode tc;
            char text[AV_TIMECODE_STR_SIZE];
            // A range starts at its own frame's timecode.
            if (av_timecode_init_from_string(&tc, rate, f.timecode.c_str(), nullptr) == 0)
                av_dict_set(&m.stream->metadata, "timecode",
                            av_timecode_make_string(&tc, text, first - 1), 0);
            else
                av_dict_set(&m.stream->metadata, "timecode", f.timecode.c_str(), 0);
        }
    } else {
        for (const auto& kv : m.o.images.tags)
            av_dict_set(&m.output->metadata, kv.first.c_str(), kv.second.c_str(), 0);
        if (!m.o.images.timecode.empty())
            av_dict_set(&m.stream->metadata, "timecode", m.o.images.timecode.c_str(), 0);
    }
    if (!m.o.software.empty())
        av_dict_set(&m.output->metadata, "software", m.o.software.c_str(), 0);
    // Tags such as the camera's make and model survive only as QuickTime
    // metadata keys.
    if (m.output->oformat->priv_class &&
        av_opt_find(m.output->priv_data, "movflags", nullptr, 0, 0))
        av_opt_set(m.output->priv_data, "movflags", "+use_metadata_tags", 0);

    // Whole clips keep their timeline; a range starts at zero.
    if (src && !whole) m.offset = src->timestampOf(first);
    if (src) {
        // The whole clip's audio, priming and tail included; a range's from
        // its first frame to the end of its last.
        const double tb = av_q2d(src->facts().timeBase);
        const double inf = std::numeric_limits<double>::infinity();
        const double start = m.offset * tb;
        const double end =
            start + static_cast<double>(m.o.frames.back() - first + 1) * src->ticksPerFrame() * tb;
        m.audio.emplace(src->facts().path, path, m.output, start, whole ? -inf : start - 1e-6,
                        whole ? inf : end - 1e-6, [this](const std::string& line) { warn(line); });
    }

    m.frame.reset(av_frame_alloc());
    m.packet.reset(av_packet_alloc());
    if (!m.frame || !m.packet) throw Failure(EXIT_IO, path + ": out of memory");
    if (m.framePool.init(pixFmt, m.o.width, m.o.height) < 0)
        throw Failure(EXIT_IO, path + ": out of memory");

    m.temp.emplace(path);
    err = avio_open(&m.output->pb, m.temp->path().c_str(), AVIO_FLAG_WRITE);
    if (err < 0) throw Failure(EXIT_IO, path + ": cannot be written: " + avErrorText(err));
    err = avformat_write_header(m.output, nullptr);
    if (err < 0) {
        abort();
        throw Failure(EXIT_BAD_INPUT, path + ": the " + std::string(format->name) +
                                          " container refuses this clip (" + avErrorText(err) +
                                          ")");
    }
}

ClipWriter::~ClipWriter() {
    if (!impl_->finished) abort();
}

std::string ClipWriter::name(int number) const {
    return impl_->path + " frame " + std::to_string(number);
}

std::string ClipWriter::codecSummary() const {
    return std::string(impl_->encoder->codec->name) + ", " +
           av_get_pix_fmt_name(impl_->encoder->pix_fmt);
}

AVRational ClipWriter::frameRate() const { return impl_->encoder->framerate; }

const std::string& ClipWriter::rateOrigin() const { return impl_->o.rateOrigin; }

void ClipWriter::write(int number, const HostImage& image) {
    Impl& m = *impl_;
    if (image.width != m.o.width || image.height != m.o.height)
        throw Failure(EXIT_BAD_INPUT, name(number) + ": " + std::to_string(image.width) + "x" +
                                          std::to_string(image.height) +
                                          " differs from the clip's " + std::to_string(m.o.width) +
                                          "x" + std::to_string(m.o.height));
    if (m.written == 0 && image.source)
        for (const std::string& line : droppedInClip(*image.source)) warn(m.path + ": " + line);
    const std::size_t n = static_cast<std::size_t>(image.width) * image.height;
    const uint8_t* from = image.pixels.data();
    int fromStride = static_cast<int>(image.rowBytes());
    AVPixelFormat fromFormat = AV_PIX_FMT_ARGB;
    if (image.depth != Depth::U8) {
        // RGBA at 0..65535 for the converter.
        m.staging.resize(n * 4);
        if (image.depth == Depth::U16) {
            const auto* h = reinterpret_cast<const uint16_t*>(image.pixels.data());
            for (std::size_t i = 0; i < n; ++i) {
                m.staging[4 * i + 0] = hostToFile16(h[4 * i + 1]);
                m.staging[4 * i + 1] = hostToFile16(h[4 * i + 2]);
                m.staging[4 * i + 2] = hostToFile16(h[4 * i + 3]);
                m.staging[4 * i + 3] = hostToFile16(h[4 * i + 0]);
            }
        } else {
            if (m.written == 0)
                warn(m.path + ": float frames are stored as " +
                     av_get_pix_fmt_name(m.encoder->pix_fmt) + "; values outside 0..1 are clamped");
            const auto* h = reinterpret_cast<const float*>(image.pixels.data());
            auto code = [](float v) {
                // NaN goes to 0, as the comparison fails.
                return static_cast<uint16_t>(v > 0.0f ? (v < 1.0f ? v * 65535.0f + 0.5f : 65535.0f)
                                                      : 0.0f);
            };
            for (std::size_t i = 0; i < n; ++i) {
                m.staging[4 * i + 0] = code(h[4 * i + 1]);
                m.staging[4 * i + 1] = code(h[4 * i + 2]);
                m.staging[4 * i + 2] = code(h[4 * i + 3]);
                m.staging[4 * i + 3] = code(h[4 * i + 0]);
            }
        }
        from = reinterpret_cast<const uint8_t*>(m.staging.data());
        fromStride = image.width * 8;
        fromFormat = AV_PIX_FMT_RGBA64LE;
    }
    if (!m.scaler || m.stagingFormat != fromFormat) {
        m.scaler = makeScaler(fromFormat, m.encoder->pix_fmt, m.o.width, m.o.height, m.tags);
        m.stagingFormat = fromFormat;
    }
    // The encoder may still hold the last frames; the pool hands out one
    // it has given back, or a new one.
    av_frame_unref(m.frame.get());
    int err = m.framePool.get(m.frame.get());
    if (err < 0) m.failWrite("out of memory", err);
    const uint8_t* src[4] = {from, nullptr, nullptr, nullptr};
    const int srcStride[4] = {fromStride, 0, 0, 0};
    sws_scale(m.scaler.get(), src, srcStride, 0, m.o.height, m.frame->data, m.frame->linesize);
    m.frame->color_primaries = m.encoder->color_primaries;
    m.frame->color_trc = m.encoder->color_trc;
    m.frame->colorspace = m.encoder->colorspace;
    m.frame->color_range = m.encoder->color_range;
    m.frame->pts = m.sourceTimes ? m.o.source->timestampOf(number) - m.offset : m.written;
    err = avcodec_send_frame(m.encoder.get(), m.frame.get());
    if (err < 0) m.failWrite("encoding frame " + std::to_string(number) + " failed", err);
    ++m.written;
    m.writePackets();
}

void ClipWriter::finish() {
    Impl& m = *impl_;
    if (m.written == 0) {
        abort();
        throw Failure(EXIT_BAD_INPUT, m.path + ": no frames to write");
    }
    int err = avcodec_send_frame(m.encoder.get(), nullptr);
    if (err < 0) m.failWrite("encoding failed", err);
    m.writePackets();
    if (m.audio) m.audio->copyUntil(std::numeric_limits<double>::infinity());
    err = av_write_trailer(m.output);
    if (err < 0) m.failWrite("finishing the container failed", err);
    // A full disk shows here, when the last buffered bytes go out.
    avio_flush(m.output->pb);
    err = m.output->pb->error;
    if (err < 0) m.failWrite("writing failed", err);
    err = avio_closep(&m.output->pb);
    if (err < 0) m.failWrite("closing failed", err);
    const int fd = ::open(m.temp->path().c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && (::fsync(fd) == 0 || errno == EINVAL);
    if (fd >= 0) ::close(fd);
    if (!synced) m.failWrite("flushing to disk failed", AVERROR(errno));
    m.temp->commit();
    m.finished = true;
    m.close();
}

void ClipWriter::abort() noexcept {
    Impl& m = *impl_;
    if (m.finished) return;
    m.close();
    m.temp.reset();
}

}  // namespace kcli

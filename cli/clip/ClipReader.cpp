#include "cli/clip/ClipReader.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/Depth16.h"
#include "cli/ExitCodes.h"
#include "cli/Sequence.h"

namespace fs = std::filesystem;

namespace kcli {
namespace {

// A forward jump of more frames than this seeks instead of decoding through.
constexpr int SEEK_DISTANCE = 48;

// The container's own tags and the muxer's bookkeeping are not the clip's
// metadata; a writer sets them afresh.
bool isBookkeeping(const char* key) {
    for (const char* k : {"encoder", "major_brand", "minor_version", "compatible_brands"})
        if (std::strcmp(key, k) == 0) return true;
    return false;
}

const char* tag(const AVDictionary* d, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
    return e ? e->value : nullptr;
}

AVStream* videoStream(AVFormatContext* input) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* s = input->streams[i];
        // Cover art is a video stream of one picture, not the clip.
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return s;
    }
    return nullptr;
}

// The stream's presentation timestamps, one per packet, in file order; an
// entry is AV_NOPTS_VALUE where the container gives none.
std::vector<int64_t> packetTimes(const std::string& path, int streamIndex) {
    InputPtr input = openClipInput(path);
    PacketPtr packet(av_packet_alloc());
    std::vector<int64_t> times;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex) times.push_back(packet->pts);
        av_packet_unref(packet.get());
    }
    return times;
}

// The frames a container without a frame count declares through its
// duration, 0 when it declares none of its own. A duration the library
// estimated (from timestamps or the bit rate) is no declaration, nor is the
// whole file's when other streams may run longer than the picture.
int declaredFrames(const AVFormatContext* input, const AVStream* stream, AVRational rate) {
    double seconds = 0;
    if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE) {
        seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    } else if (const char* d = tag(stream->metadata, "DURATION")) {  // Matroska's, per track
        int h = 0, m = 0;
        double sec = 0;
        if (std::sscanf(d, "%d:%d:%lf", &h, &m, &sec) == 3) seconds = h * 3600.0 + m * 60.0 + sec;
    } else if (input->nb_streams == 1 && input->duration > 0 &&
               input->duration_estimation_method == AVFMT_DURATION_FROM_STREAM) {
        seconds = static_cast<double>(input->duration) / AV_TIME_BASE;
    }
    const double frames = seconds * av_q2d(rate);
    return frames > 0 && frames < (1 << 30) ? static_cast<int>(std::llround(frames)) : 0;
}

}  // namespace

InputPtr openClipInput(const std::string& path) {
    av_log_set_level(AV_LOG_QUIET);
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) throw Failure(EXIT_BAD_INPUT, path + ": no such file");
    if (!fs::is_regular_file(st)) throw Failure(EXIT_BAD_INPUT, path + ": is not a regular file");
    if (::access(path.c_str(), R_OK) != 0)
        throw Failure(EXIT_IO, path + ": cannot be read: " + std::strerror(errno));
    AVFormatContext* raw = nullptr;
    int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (err < 0)
        throw Failure(EXIT_BAD_INPUT, path + ": not a readable clip (" + avErrorText(err) + ")");
    InputPtr input(raw);
    // A clip without frames ends the search early; what its header declares
    // is enough to say so.
    err = avformat_find_stream_info(input.get(), nullptr);
    if (err < 0 && input->nb_streams == 0)
        throw Failure(EXIT_BAD_INPUT, path + ": not a readable clip (" + avErrorText(err) + ")");
    return input;
}

ClipReader::ClipReader(const std::string& path, const std::string& frameSpec)
    : path_(path),
      input_(openClipInput(path)),
      packet_(av_packet_alloc()),
      frame_(av_frame_alloc()) {
    if (!packet_ || !frame_) throw Failure(EXIT_IO, path + ": out of memory");
    stream_ = videoStream(input_.get());
    if (!stream_) throw Failure(EXIT_BAD_INPUT, path + ": has no video stream");

    const AVCodecParameters* par = stream_->codecpar;
    const AVCodec* codec = nullptr;
    // FFmpeg's own VP9 decoder drops the alpha that WebM carries beside the
    // picture; libvpx's keeps it.
    if (par->codec_id == AV_CODEC_ID_VP9) {
        const char* alpha = tag(stream_->metadata, "alpha_mode");
        if (alpha && std::strcmp(alpha, "1") == 0)
            codec = avcodec_find_decoder_by_name("libvpx-vp9");
    }
    if (!codec) codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        throw Failure(EXIT_BAD_INPUT, path + ": its video codec (" +
                                          avcodec_get_name(par->codec_id) + ") cannot be decoded");
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), par) < 0)
        throw Failure(EXIT_IO, path + ": out of memory");
    decoder_->pkt_timebase = stream_->time_base;
    decoder_->thread_count = 0;
    decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    // A damaged frame is an error naming it, not a concealed picture.
    decoder_->err_recognition = AV_EF_CRCCHECK | AV_EF_BITSTREAM | AV_EF_EXPLODE;
    int err = avcodec_open2(decoder_.get(), codec, nullptr);
    if (err < 0)
        throw Failure(EXIT_BAD_INPUT, path + ": its video codec (" + codec->name +
                                          ") cannot be opened (" + avErrorText(err) + ")");

    facts_.path = path;
    facts_.formatName = input_->iformat->name;
    facts_.streamIndex = stream_->index;
    facts_.timeBase = stream_->time_base;
    facts_.sampleAspect = av_guess_sample_aspect_ratio(input_.get(), stream_, nullptr);
    facts_.frameRate = av_guess_frame_rate(input_.get(), stream_, nullptr);
    if (facts_.frameRate.num <= 0 || facts_.frameRate.den <= 0) facts_.frameRate = {24, 1};
    ticksPerFrame_ = static_cast<double>(facts_.timeBase.den) * facts_.frameRate.den /
                     (static_cast<double>(facts_.timeBase.num) * facts_.frameRate.num);
    std::vector<int> missing;
    if (stream_->nb_frames > 0 && stream_->nb_frames < (1 << 30))
        facts_.frameCount = static_cast<int>(stream_->nb_frames);
    else
        missing = countFrames();
    if (facts_.frameCount <= 0) throw Failure(EXIT_BAD_INPUT, path + ": the clip has no frames");
    const int held = facts_.frameCount - static_cast<int>(missing.size());

    const char* tc = tag(stream_->metadata, "timecode");
    for (unsigned i = 0; !tc && i < input_->nb_streams; ++i)
        tc = tag(input_->streams[i]->metadata, "timecode");
    if (!tc) tc = tag(input_->metadata, "timecode");
    if (tc) facts_.timecode = tc;
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(input_->metadata, "", e, AV_DICT_IGNORE_SUFFIX)))
        if (!isBookkeeping(e->key)) facts_.metadata.emplace_back(e->key, e->value);

    if (frameSpec.empty()) {
        for (int f = 1; f <= facts_.frameCount; ++f) frames_.push_back(f);
    } else {
        frames_ = parseFrameList(frameSpec);
        std::sort(frames_.begin(), frames_.end());
        frames_.erase(std::unique(frames_.begin(), frames_.end()), frames_.end());
        for (int f : frames_)
            if (f < 1 || f > facts_.frameCount)
                throw Failure(EXIT_BAD_INPUT, "--frames: frame " + std::to_string(f) +
                                                  " is outside " + path + "'s frames 1-" +
                                                  std::to_string(facts_.frameCount));
    }
    for (int f : frames_)
        if (std::binary_search(missing.begin(), missing.end(), f))
            throw Failure(EXIT_BAD_INPUT,
                          path + ": frame " + std::to_string(f) + " is missing: the clip holds " +
                              std::to_string(held) + " of the " +
                              std::to_string(facts_.frameCount) +
                              " frames its container declares (truncated or damaged?)");

    // The first frame tells what the stream really holds: its pixel format,
    // size and colour tags, and where its timestamps start.
    if (!decodeNext()) fail("frame 1: cannot be decoded", AVERROR_INVALIDDATA);
    firstPts_ = frame_->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : frame_->best_effort_timestamp;
    const auto format = static_cast<AVPixelFormat>(frame_->format);
    facts_.yuv = !isRgbFormat(format);
    facts_.tags = {frame_->color_primaries, frame_->color_trc, frame_->colorspace,
                   frame_->color_range, frame_->chroma_location};
    facts_.conversion =
        facts_.yuv ? resolvedTags(facts_.tags, format, frame_->width, frame_->height) : facts_.tags;
    info_.width = frame_->width;
    info_.height = frame_->height;
    info_.depth = componentBits(format) > 8 ? Depth::U16 : Depth::U8;
    info_.hasAlpha = hasAlphaPlane(format);
    // Counting decoded frames would give the frames after a hole the
    // numbers of the missing ones.
    if (!missing.empty() && missing.front() <= held) exactCount_ = countable_ = false;
}

// Without a frame count in the container, the stream's packets are the
// frames. Sets the frame count (the larger of those found and those the
// duration declares) and returns the declared frames not found, in order.
std::vector<int> ClipReader::countFrames() {
    const std::vector<int64_t> times = packetTimes(path_, stream_->index);
    const int found = static_cast<int>(times.size());
    const int declared = declaredFrames(input_.get(), stream_, facts_.frameRate);
    facts_.frameCount = std::max(found, declared);
    std::vector<int> missing;
    if (found >= declared) return missing;
    // The holes as the timestamps place them, when they all number a frame
    // of the clip; otherwise the end of the clip is what went missing.
    std::vector<bool> present(static_cast<std::size_t>(declared) + 1, false);
    bool placed = found > 0;
    const int64_t first = found ? *std::min_element(times.begin(), times.end()) : 0;
    for (int64_t t : times) {
        if (t == AV_NOPTS_VALUE) {
            placed = false;
            break;
        }
        const long long n = std::llround(static_cast<double>(t - first) / ticksPerFrame_) + 1;
        if (n < 1 || n > declared || present[static_cast<std::size_t>(n)]) {
            placed = false;
            break;
        }
        present[static_cast<std::size_t>(n)] = true;
    }
    for (int f = 1; f <= declared; ++f)
        if (placed ? !present[static_cast<std::size_t>(f)] : f > found) missing.push_back(f);
    return missing;
}

ClipReader::~ClipReader() = default;

std::string ClipReader::name(int number) const {
    return path_ + " frame " + std::to_string(number);
}

void ClipReader::fail(const std::string& what, int err) const {
    throw Failure(EXIT_BAD_INPUT, path_ + ": " + what + " (" + avErrorText(err) + ")");
}

int ClipReader::numberOf(int64_t pts) const {
    return static_cast<int>(std::llround(static_cast<double>(pts - firstPts_) / ticksPerFrame_)) +
           1;
}

// Leaves the next frame in frame_ and numbers it; false at the end.
bool ClipReader::decodeNext() {
    const int next = decoded_ + 1;
    for (;;) {
        int err = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (err == 0) {
            if (frame_->decode_error_flags || (frame_->flags & AV_FRAME_FLAG_CORRUPT))
                fail("frame " + std::to_string(next) + ": is damaged", AVERROR_INVALIDDATA);
            if (exactCount_) {
                decoded_ = next;
            } else {
                if (frame_->best_effort_timestamp == AV_NOPTS_VALUE) return false;
                decoded_ = numberOf(frame_->best_effort_timestamp);
            }
            haveFrame_ = true;
            return true;
        }
        if (err == AVERROR_EOF) return false;
        if (err != AVERROR(EAGAIN))
            fail("frame " + std::to_string(next) + ": cannot be decoded", err);
        if (flushed_) return false;
        err = av_read_frame(input_.get(), packet_.get());
        if (err == AVERROR_EOF) {
            flushed_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        if (err < 0) fail("frame " + std::to_string(next) + ": cannot be read", err);
        if (packet_->stream_index == stream_->index) {
            err = avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            if (err < 0 && err != AVERROR(EAGAIN))
                fail("frame " + std::to_string(next) + ": cannot be decoded", err);
        } else {
            av_packet_unref(packet_.get());
        }
    }
}

// Jumps to the key frame at or before `number`; decoding forward from there
// reaches it. Without usable timestamps, starts again from the first frame.
void ClipReader::seekTo(int number) {
    const int64_t target = firstPts_ + std::llround((number - 1) * ticksPerFrame_);
    const bool timed = number > 1 && av_seek_frame(input_.get(), stream_->index, target,
                                                   AVSEEK_FLAG_BACKWARD) >= 0;
    if (!timed &&
        av_seek_frame(input_.get(), stream_->index, firstPts_, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(input_.get(), -1, INT64_MIN, 0, 0, 0) < 0)
        fail("frame " + std::to_string(number) + ": cannot seek to it", AVERROR(ESPIPE));
    avcodec_flush_buffers(decoder_.get());
    flushed_ = false;
    haveFrame_ = false;
    decoded_ = 0;
    exactCount_ = !timed && countable_;
}

HostImage ClipReader::read(int number, Depth depth) {
    if (!(haveFrame_ && decoded_ == number)) {
        if (number <= decoded_ || number - decoded_ > SEEK_DISTANCE) seekTo(number);
        bool restarted = exactCount_;
        for (;;) {
            while (decoded_ < number || !haveFrame_) {
                if (!decodeNext()) {
                    if (!exactCount_) break;  // timestamps failed us
                    throw Failure(EXIT_BAD_INPUT, path_ + ": frame " + std::to_string(number) +
                                                      ": the clip ends after frame " +
                                                      std::to_string(decoded_) + " of the " +
                                                      std::to_string(facts_.frameCount) +
                                                      " it declares (truncated?)");
                }
            }
            if (haveFrame_ && decoded_ == number) break;
            // Landed past the frame, or timestamps that do not number the
            // frames: count from the start instead.
            if (restarted)
                fail("frame " + std::to_string(number) + ": cannot be found", AVERROR_BUG);
            seekTo(1);
            restarted = true;
        }
    }
    {
        std::lock_guard<std::mutex> lock(timesMutex_);
        times_[number] = frame_->best_effort_timestamp == AV_NOPTS_VALUE
                             ? firstPts_ + std::llround((number - 1) * ticksPerFrame_)
                             : frame_->best_effort_timestamp;
    }

    const auto format = static_cast<AVPixelFormat>(frame_->format);
    if (frame_->width != info_.width || frame_->height != info_.height)
        throw Failure(EXIT_BAD_INPUT, path_ + ": frame " + std::to_string(number) + " is " +
                                          std::to_string(frame_->width) + "x" +
                                          std::to_string(frame_->height) + ", the clip's first " +
                                          std::to_string(info_.width) + "x" +
                                          std::to_string(info_.height));
    const AVPixelFormat to = depth == Depth::U8 ? AV_PIX_FMT_ARGB : AV_PIX_FMT_RGBA64LE;
    if (!scaler_ || format != scalerFrom_ || to != scalerTo_) {
        scaler_ = makeScaler(format, to, info_.width, info_.height, facts_.tags);
        scalerFrom_ = format;
        scalerTo_ = to;
    }

    HostImage img;
    img.width = info_.width;
    img.height = info_.height;
    img.depth = depth;
    img.pixels.resize(img.rowBytes() * static_cast<std::size_t>(img.height));
    const std::size_t n = static_cast<std::size_t>(img.width) * img.height;
    if (depth == Depth::U8) {
        // ARGB bytes are the host's 8-bit pixel as it lies in memory.
        uint8_t* dst[4] = {img.pixels.data(), nullptr, nullptr, nullptr};
        int stride[4] = {static_cast<int>(img.rowBytes()), 0, 0, 0};
        sws_scale(scaler_.get(), frame_->data, frame_->linesize, 0, img.height, dst, stride);
        return img;
    }
    // 16-bit RGBA is as large as the host's 16-bit pixel, so it converts in
    // place; float goes through a buffer kept from frame to frame.
    uint16_t* rgba = reinterpret_cast<uint16_t*>(img.pixels.data());
    if (depth != Depth::U16) {
        staging_.resize(n * 4);
        rgba = staging_.data();
    }
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(rgba), nullptr, nullptr, nullptr};
    int stride[4] = {img.width * 8, 0, 0, 0};
    sws_scale(scaler_.get(), frame_->data, frame_->linesize, 0, img.height, dst, stride);
    if (depth == Depth::U16) {
        for (std::size_t i = 0; i < n; ++i) {
            uint16_t* p = rgba + 4 * i;
            const uint16_t r = p[0], g = p[1], b = p[2], a = p[3];
            p[0] = fileToHost16(a);
            p[1] = fileToHost16(r);
            p[2] = fileToHost16(g);
            p[3] = fileToHost16(b);
        }
    } else {
        auto* host = reinterpret_cast<float*>(img.pixels.data());
        for (std::size_t i = 0; i < n; ++i) {
            host[4 * i + 0] = rgba[4 * i + 3] / 65535.0f;
            host[4 * i + 1] = rgba[4 * i + 0] / 65535.0f;
            host[4 * i + 2] = rgba[4 * i + 1] / 65535.0f;
            host[4 * i + 3] = rgba[4 * i + 2] / 65535.0f;
        }
    }
    return img;
}

int64_t ClipReader::timestampOf(int number) const {
    std::lock_guard<std::mutex> lock(timesMutex_);
    const auto it = times_.find(number);
    return it != times_.end() ? it->second
                              : firstPts_ + std::llround((number - 1) * ticksPerFrame_);
}

}  // namespace kcli

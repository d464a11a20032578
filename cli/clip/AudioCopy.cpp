#include "cli/clip/AudioCopy.h"

#include <cmath>

#include "cli/ExitCodes.h"

namespace kcli {
namespace {

const char* kindOf(AVMediaType type) {
    const char* k = av_get_media_type_string(type);
    return k ? k : "data";
}

bool isTimecodeTrack(const AVStream* s) {
    // A QuickTime timecode track is rewritten from the video's timecode tag.
    return s->codecpar->codec_type == AVMEDIA_TYPE_DATA &&
           s->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd');
}

}  // namespace

AudioCopy::AudioCopy(const std::string& sourcePath, const std::string& outputPath,
                     AVFormatContext* output, double shift, double from, double to,
                     const std::function<void(const std::string&)>& warn)
    : outputPath_(outputPath),
      output_(output),
      input_(openClipInput(sourcePath)),
      packet_(av_packet_alloc()),
      shift_(shift),
      from_(from),
      to_(to) {
    if (!packet_) throw Failure(EXIT_IO, sourcePath + ": out of memory");
    bool videoSeen = false;
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        const AVStream* s = input_->streams[i];
        const AVCodecParameters* par = s->codecpar;
        const std::string what = std::string(kindOf(par->codec_type)) + " stream #" +
                                 std::to_string(i) + " (" + avcodec_get_name(par->codec_id) + ")";
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC) && !videoSeen) {
            videoSeen = true;  // the one keyed
            continue;
        }
        if (isTimecodeTrack(s)) continue;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
            warn(sourcePath + ": " + what + " is not carried into " + outputPath);
            continue;
        }
        if (avformat_query_codec(output->oformat, par->codec_id, FF_COMPLIANCE_NORMAL) == 0) {
            warn(sourcePath + ": " + what + " is dropped: the " + output->oformat->name +
                 " container cannot hold it");
            continue;
        }
        AVStream* out = avformat_new_stream(output, nullptr);
        if (!out || avcodec_parameters_copy(out->codecpar, par) < 0)
            throw Failure(EXIT_IO, outputPath + ": out of memory");
        out->codecpar->codec_tag = 0;  // the output container's own
        out->time_base = s->time_base;
        out->disposition = s->disposition;
        av_dict_copy(&out->metadata, s->metadata, 0);
        streams_.push_back({static_cast<int>(i), out});
    }
}

bool AudioCopy::nextPacket() {
    for (;;) {
        if (av_read_frame(input_.get(), packet_.get()) < 0) return false;
        for (const Stream& s : streams_)
            if (s.in == packet_->stream_index) return true;
        av_packet_unref(packet_.get());
    }
}

void AudioCopy::copyUntil(double until) {
    while (!done_ && !streams_.empty()) {
        if (!pending_) {
            if (!nextPacket()) {
                done_ = true;
                return;
            }
            pending_ = true;
        }
        const AVStream* in = input_->streams[packet_->stream_index];
        const int64_t ts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
        const double t = ts == AV_NOPTS_VALUE ? from_ : ts * av_q2d(in->time_base);
        if (t - shift_ >= until) return;
        pending_ = false;
        if (t < from_ || t >= to_) {
            av_packet_unref(packet_.get());
            continue;
        }
        AVStream* out = nullptr;
        for (const Stream& s : streams_)
            if (s.in == packet_->stream_index) out = s.out;
        const int64_t shift = std::llround(shift_ / av_q2d(in->time_base));
        if (packet_->pts != AV_NOPTS_VALUE) packet_->pts -= shift;
        if (packet_->dts != AV_NOPTS_VALUE) packet_->dts -= shift;
        av_packet_rescale_ts(packet_.get(), in->time_base, out->time_base);
        packet_->stream_index = out->index;
        packet_->pos = -1;
        const int err = av_interleaved_write_frame(output_, packet_.get());
        if (err < 0)
            throw Failure(EXIT_IO, outputPath_ + ": cannot be written: " + avErrorText(err));
    }
}

}  // namespace kcli

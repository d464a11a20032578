// A video clip as a frame source: frames numbered from 1 in presentation
// order, decoded one after another, converted to the host's layout. 8-bit
// sources key at 8 bits, deeper ones at 16.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cli/clip/ClipColor.h"
#include "cli/clip/Libav.h"
#include "cli/pipeline/FrameSource.h"

namespace kcli {

// What a clip writer keeps of the clip it re-encodes.
struct ClipFacts {
    std::string path;
    std::string formatName;
    int streamIndex = 0;
    AVRational frameRate{0, 1};
    AVRational timeBase{1, 1};
    AVRational sampleAspect{0, 1};
    int frameCount = 0;
    std::string timecode;  // of frame 1, empty when the clip has none
    std::vector<std::pair<std::string, std::string>> metadata;  // the container's
    ColorTags tags;                                             // as declared
    ColorTags conversion;  // as converted (undeclared ones filled in)
    bool yuv = true;
};

class ClipReader : public FrameSource {
public:
    // Opens the clip and decodes its first frame. `frameSpec` ("10-50",
    // "7", "1-3,9"; empty: every frame) selects frames by number; they are
    // delivered in increasing order. Throws Failure naming the file.
    ClipReader(const std::string& path, const std::string& frameSpec);
    ~ClipReader() override;

    std::vector<int> frames() const override { return frames_; }
    FileInfo info() const override { return info_; }
    bool concurrent() const override { return false; }
    HostImage read(int number, Depth depth) override;
    std::string name(int number) const override;

    const ClipFacts& facts() const { return facts_; }
    // Presentation time of a frame already read, in the clip's time base.
    int64_t timestampOf(int number) const;
    // Clip ticks (time base units) per frame at the clip's frame rate.
    double ticksPerFrame() const { return ticksPerFrame_; }

private:
    std::vector<int> countFrames();
    bool decodeNext();
    void seekTo(int number);
    int numberOf(int64_t pts) const;
    [[noreturn]] void fail(const std::string& what, int err) const;

    std::string path_;
    InputPtr input_;
    CodecPtr decoder_;
    AVStream* stream_ = nullptr;
    PacketPtr packet_;
    FramePtr frame_;
    bool flushed_ = false;
    int decoded_ = 0;         // number of the frame in frame_, 0 before any
    bool haveFrame_ = false;  // frame_ holds frame decoded_ (read again at no cost)
    int64_t firstPts_ = 0;
    double ticksPerFrame_ = 0;
    bool exactCount_ = true;  // numbers come from counting, not from timestamps
    bool countable_ = true;   // false when frames are missing before the end
    ScalerPtr scaler_;
    AVPixelFormat scalerFrom_ = AV_PIX_FMT_NONE, scalerTo_ = AV_PIX_FMT_NONE;
    std::vector<uint16_t> staging_;  // RGBA for float frames
    ClipFacts facts_;
    FileInfo info_;
    std::vector<int> frames_;
    mutable std::mutex timesMutex_;
    std::map<int, int64_t> times_;
};

}  // namespace kcli

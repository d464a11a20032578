// A clip's audio streams copied, packet for packet, into a clip being
// written, interleaved with its video as the video is encoded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/clip/Libav.h"

namespace kcli {

class AudioCopy {
public:
    // Adds to `output` a stream for each audio stream of `sourcePath` the
    // container can hold; every other stream left out is named through
    // `warn`. Packets that start from `from` up to `to` (seconds of the
    // source's timeline) are copied, moved earlier by `shift` seconds.
    AudioCopy(const std::string& sourcePath, const std::string& outputPath, AVFormatContext* output,
              double shift, double from, double to,
              const std::function<void(const std::string&)>& warn);

    bool empty() const { return streams_.empty(); }
    // Writes every packet that starts before `until` seconds of the output.
    void copyUntil(double until);

private:
    struct Stream {
        int in;
        AVStream* out;
    };
    bool nextPacket();

    std::string outputPath_;
    AVFormatContext* output_;
    InputPtr input_;
    PacketPtr packet_;
    bool pending_ = false;  // packet_ read and waiting for its time
    bool done_ = false;
    double shift_, from_, to_;
    std::vector<Stream> streams_;
};

}  // namespace kcli

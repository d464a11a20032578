// Frames read from numbered image files (or one image, as frame 0).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/Sequence.h"
#include "cli/pipeline/FrameSource.h"

namespace kcli {

class ImageSequenceSource : public FrameSource {
public:
    // Probes the first frame, whose depth and size the whole sequence takes
    // on, as a host layer has one of each. `depthForced`: the user chose the
    // render depth, so a frame of another depth is no surprise.
    ImageSequenceSource(FramePattern pattern, std::vector<int> frames, bool depthForced,
                        ReadOptions read = {});

    std::vector<int> frames() const override { return frames_; }
    FileInfo info() const override { return info_; }
    bool concurrent() const override { return true; }
    HostImage read(int number, Depth depth) override;
    std::string name(int number) const override { return pattern_.path(number); }

private:
    FramePattern pattern_;
    std::vector<int> frames_;
    FileInfo info_;
    bool depthForced_;
    ReadOptions read_;
    std::atomic<bool> warnedDepth_{false};
};

}  // namespace kcli

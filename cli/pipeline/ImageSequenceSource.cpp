#include "cli/pipeline/ImageSequenceSource.h"

#include <utility>

namespace kcli {

ImageSequenceSource::ImageSequenceSource(FramePattern pattern, std::vector<int> frames,
                                         bool depthForced, ReadOptions read)
    : pattern_(std::move(pattern)),
      frames_(std::move(frames)),
      depthForced_(depthForced),
      read_(std::move(read)) {
    if (!frames_.empty()) info_ = probeImage(pattern_.path(frames_.front()), read_);
}

HostImage ImageSequenceSource::read(int number, Depth depth) {
    const std::string path = pattern_.path(number);
    Depth fileDepth = depth;
    HostImage image = readImage(path, depth, &fileDepth, read_);
    // Said once: every later frame of that depth is converted the same way.
    if (!depthForced_ && fileDepth != info_.depth && !warnedDepth_.exchange(true))
        warn(path + " is " + depthName(fileDepth) + "; the sequence renders at " +
             depthName(depth) + ", its first frame's depth (use --depth to choose)");
    return image;
}

}  // namespace kcli

#include "cli/tune/FrameCache.h"

#include <algorithm>

#include "cli/ExitCodes.h"
#include "cli/tune/Downscale.h"

namespace kcli {

FrameCache::FrameCache(Opener open, std::optional<Depth> depth)
    : open_(std::move(open)), source_(open_()) {
    frames_ = source_->frames();
    if (frames_.empty()) throw Failure(EXIT_BAD_INPUT, "tune: the input has no frames");
    info_ = source_->info();
    depth_ = depth ? *depth : info_.depth;
}

bool FrameCache::has(int number) const {
    return std::find(frames_.begin(), frames_.end(), number) != frames_.end();
}

const HostImage& FrameCache::frame(int number) {
    if (cachedValid_ && cachedNumber_ == number) return cached_;
    const auto at = std::find(frames_.begin(), frames_.end(), number);
    if (at == frames_.end())
        throw Failure(EXIT_BAD_INPUT, "frame " + std::to_string(number) + " is not in the input");
    cachedValid_ = false;
    if (source_->concurrent()) {
        cached_ = source_->read(number, depth_);
    } else {
        // In order only: from the start again to go back, reading past the
        // frames in between.
        const std::size_t index = static_cast<std::size_t>(at - frames_.begin());
        if (index < nextIndex_) {
            source_.reset();
            source_ = open_();
            nextIndex_ = 0;
        }
        while (nextIndex_ <= index) cached_ = source_->read(frames_[nextIndex_++], depth_);
    }
    if (cached_.width != info_.width || cached_.height != info_.height)
        throw Failure(EXIT_BAD_INPUT,
                      source_->name(number) + ": " + std::to_string(cached_.width) + "x" +
                          std::to_string(cached_.height) + " differs from the first frame's " +
                          std::to_string(info_.width) + "x" + std::to_string(info_.height));
    cachedNumber_ = number;
    cachedValid_ = true;
    return cached_;
}

const HostImage& FrameCache::scaled(int number, int width, int height) {
    const HostImage& full = frame(number);
    if (width >= full.width && height >= full.height) return full;
    if (scaledNumber_ != number || scaled_.width != width || scaled_.height != height) {
        scaledNumber_ = -1;
        scaled_ = downscale(full, width, height);
        scaledNumber_ = number;
    }
    return scaled_;
}

}  // namespace kcli

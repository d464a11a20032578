// The input's frames as the tune server shows them: the frame on screen and
// its preview size kept, any other read on demand. Memory stays at about
// two frames whatever the length of the input.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/pipeline/FrameSource.h"

namespace kcli {

class FrameCache {
public:
    using Opener = std::function<std::unique_ptr<FrameSource>()>;

    // `open` makes a fresh source: a source that reads in order only (a
    // clip) is opened again to go back. `depth`: the render depth when the
    // user forced one, else the first frame's.
    FrameCache(Opener open, std::optional<Depth> depth);

    const std::vector<int>& frames() const { return frames_; }
    const FileInfo& info() const { return info_; }
    Depth depth() const { return depth_; }
    bool has(int number) const;

    // The whole frame. The reference stays valid until the next call.
    const HostImage& frame(int number);
    // The frame shrunk to width x height (the whole frame when that is its size).
    const HostImage& scaled(int number, int width, int height);

private:
    Opener open_;
    std::unique_ptr<FrameSource> source_;
    std::vector<int> frames_;
    FileInfo info_;
    Depth depth_;
    std::size_t nextIndex_ = 0;  // a source in order: the next frame it yields

    int cachedNumber_ = -1;
    bool cachedValid_ = false;
    HostImage cached_;
    int scaledNumber_ = -1;
    HostImage scaled_;
};

}  // namespace kcli

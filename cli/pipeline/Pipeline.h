// The frame loop: frames flow from a source through the keyer to a sink,
// several at once. Reading frame n+k, keying frame n and writing frame n-k
// overlap on a small pool of threads, with a fixed number of frames held in
// memory whatever the length of the sequence.
#pragma once

#include <functional>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/pipeline/FrameSink.h"
#include "cli/pipeline/FrameSource.h"

namespace kcli {

struct PipelineSettings {
    int workers = 1;  // threads that read, key and write
    int framesInFlight =
        1;  // frames held at once, from the start of their read to the end of their write
    int keysAtOnce = 1;       // frames the keyer takes at the same time
    Depth depth = Depth::U8;  // what frames are read at
};

// Keys one frame; may be called from several threads (up to keysAtOnce).
using KeyFunction = std::function<HostImage(HostImage image, int frame)>;
// Told of every frame the sink has taken, from the thread that wrote it.
using FrameWritten = std::function<void(int frame)>;

struct PipelineResult {
    int written = 0;  // frames the sink took
    int signal = 0;   // the signal that stopped the run early, else 0
};

// Runs `frames` (a subset of source.frames(), in its order). Frames whose
// size differs from source.info() are bad input. On the first failure no
// new frame is started, the frames before the failing one are finished, the
// sink is aborted and the failure of the earliest failing frame is thrown.
// On SIGINT or SIGTERM (see InterruptWatch, which the caller installs) the
// frames in flight are finished (dropped on a second signal) and the sink
// aborted. Otherwise the sink is finished.
PipelineResult runPipeline(FrameSource& source, FrameSink& sink, const std::vector<int>& frames,
                           const KeyFunction& key, const PipelineSettings& settings,
                           const FrameWritten& written);

}  // namespace kcli

// How many threads and frames a render uses, from the user's -j and
// --frames-in-flight and the number of frames.
#pragma once

#include <cstddef>

#include "cli/pipeline/Pipeline.h"

namespace kcli {

struct RunPlan {
    PipelineSettings settings;  // depth left to the caller
    int hostThreads = 1;        // iterate threads of each keying host
};

// `threads`, `framesInFlight`: 0 for the default.
RunPlan planRun(int threads, int framesInFlight, std::size_t frames);

}  // namespace kcli

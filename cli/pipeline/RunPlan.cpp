#include "cli/pipeline/RunPlan.h"

#include <algorithm>
#include <thread>

namespace kcli {

RunPlan planRun(int threads, int framesInFlight, std::size_t frames) {
    const int cores =
        threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int count = static_cast<int>(std::min<std::size_t>(frames, 1 << 20));
    RunPlan plan;
    PipelineSettings& s = plan.settings;
    s.framesInFlight = framesInFlight > 0 ? framesInFlight : cores + 1;
    s.workers = std::max(1, std::min({cores, s.framesInFlight, count}));
    // Frames are keyed at the same time, each host on one thread: keying is
    // a small part of a frame's time, and a host per worker never makes one
    // wait for another. A single frame spreads its rows over every core.
    s.keysAtOnce = s.workers;
    plan.hostThreads = s.workers > 1 ? 1 : cores;
    return plan;
}

}  // namespace kcli

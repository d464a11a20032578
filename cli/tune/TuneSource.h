// The frames `tune` offers, from the input named on its command line.
#pragma once

#include <string>

#include "cli/tune/FrameCache.h"

namespace kcli {

// Makes the input's frame source, once now (so a bad input fails before
// the server starts) and again whenever the cache must go back in a source
// that reads in order. `frames`: as --frames; empty, every frame on disk.
FrameCache::Opener tuneSourceOpener(const std::string& input, const std::string& frames,
                                    bool depthForced);

}  // namespace kcli

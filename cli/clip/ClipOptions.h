// What a render's flags mean when a clip is its input or its output: which
// end is a clip, the flags that only a clip takes, and the clip writer made
// from the rest.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/RenderCommand.h"
#include "cli/clip/ClipReader.h"
#include "cli/clip/ClipWriter.h"

extern "C" {
#include <libavutil/rational.h>
}

namespace kcli {

struct ClipEnds {
    bool in = false;   // the input's contents are a clip, whatever its name
    bool out = false;  // the output's name is a clip's
};

ClipEnds clipEnds(const RenderOptions& options);

// Refuses, naming the flag: --codec and --codec-option without a clip
// output, --fps with a clip input, --skip-existing with a clip output (a
// clip is one file, kept only when complete: there is nothing to resume).
void checkClipFlags(const RenderOptions& options, ClipEnds ends);

// "24", "23.976", "30000/1001", "ntsc"...; throws Failure naming --fps.
AVRational parseFrameRate(const std::string& text);

// The writer of `frames` (in order) at `depth`, of the size in `info`;
// `source` is the clip keyed, when the input is one, else `firstImage` the
// file of the first frame. `software` names what made the clip.
std::unique_ptr<ClipWriter> openClipOutput(const RenderOptions& options, const FileInfo& info,
                                           Depth depth, const std::vector<int>& frames,
                                           const ClipReader* source, const std::string& firstImage,
                                           const std::string& software);

// "prores_ks, yuva444p10le, 24 fps" and, for images made into a clip, how
// the rate was chosen.
std::string clipOutputSummary(const ClipWriter& writer);

}  // namespace kcli

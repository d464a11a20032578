// `kestrelumen render` when a clip is the input or the output: clip to
// clip, clip to images, images to clip.
#pragma once

#include <string>

#include "cli/RenderCommand.h"

extern "C" {
#include <libavutil/rational.h>
}

namespace kcli {

// True when the input's contents are a clip or the output's name is one.
bool involvesClip(const RenderOptions& options);

// Returns the exit code; failures arrive as Failure exceptions.
int runClipRender(const RenderOptions& options);

// "24", "23.976", "30000/1001", "ntsc"...; throws Failure naming --fps.
AVRational parseFrameRate(const std::string& text);

}  // namespace kcli

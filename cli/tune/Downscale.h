// The frame shrunk for a preview: while a slider moves, the plug-in keys a
// picture the size of the viewer instead of the whole frame.
#pragma once

#include "cli/ImageFile.h"

namespace kcli {

// Each output pixel is the mean of the source pixels its area covers, in
// the frame's own depth (integers rounded to nearest). Output width and
// height lie in 1..the source's.
HostImage downscale(const HostImage& source, int width, int height);

}  // namespace kcli

// The keyed channels between a file part's interleaved channels (each in
// its own type) and the host's pixels, with alpha associated or not as the
// file stores it. The host always sees straight colour.
#pragma once

#include <OpenImageIO/imageio.h>

#include <vector>

#include "cli/image/ChannelMap.h"
#include "cli/image/HostImage.h"

namespace kcli {

// Fills `out` (width, height and depth set, pixels sized) from the part's
// native pixels. Associated colour is divided by alpha where alpha is above
// 0, and kept where it is not (there is no colour to recover).
void keyedToHost(const OIIO::ImageSpec& imageSpec, const unsigned char* pixels, const ChannelMap& m,
                 bool associated, HostImage& out);

// Writes the host's red, green, blue (and alpha when m.alpha >= 0) into the
// channels `m` names of `dst`, laid out as `imageSpec` (each channel in its own
// type), multiplying colour by alpha when `associate`.
void hostToKeyed(const HostImage& img, const ChannelMap& m, bool associate,
                 const OIIO::ImageSpec& imageSpec, unsigned char* dst);

}  // namespace kcli

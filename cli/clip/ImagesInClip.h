// What a clip made of image files keeps of them: the first frame's
// timecode, frame rate, pixel aspect and a few descriptive tags go into the
// clip's own fields; everything else a frame's file held besides its keyed
// colour and alpha is named when it is dropped.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

#include "cli/image/SourceFile.h"

namespace kcli {

struct ImagesInClip {
    std::string timecode;                                   // "01:00:10:05"; empty: none
    AVRational rate{0, 1};                                  // FramesPerSecond; 0/1: none
    AVRational aspect{0, 1};                                // PixelAspectRatio; 0/1: none or square
    std::vector<std::pair<std::string, std::string>> tags;  // container metadata
};

// From the header of the first frame written.
ImagesInClip imagesInClip(const OIIO::ImageSpec& header);

// One line for each kind of thing of `source` the clip cannot hold
// (channels, parts, windows, attributes), naming them; none when nothing is
// lost.
std::vector<std::string> droppedInClip(const SourceFile& source);

}  // namespace kcli

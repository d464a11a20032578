// What a frame's file held besides the pixels that are keyed: its other
// channels, its other parts, its windows and its metadata. It travels with
// the frame from the read to the write (HostImage::source), so the output
// keeps everything its format can hold.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>
#include <vector>

#include "cli/image/ChannelMap.h"

namespace kcli {

struct FilePart {
    OIIO::ImageSpec imageSpec;          // as read: windows, channels and their types, metadata
    std::vector<unsigned char> pixels;  // every channel in its own type, interleaved
};

struct SourceFile {
    std::string path;
    std::string format;               // OpenImageIO's name: "openexr", "tiff", ...
    std::vector<FilePart> parts;      // every part (subimage) of the file
    int keyed = 0;                    // the part whose channels `channels` names
    ChannelMap channels;              // its keyed red, green, blue and alpha
    bool associated = false;          // colour was stored premultiplied by alpha
    std::vector<std::string> unread;  // what could not be carried (deep parts, mip levels)
};

// What a writer names when it says what it drops.
std::string joined(const std::vector<std::string>& items);           // "a, b, c"
std::string partLabel(const OIIO::ImageSpec& imageSpec, int index);  // its name, else "#index"
std::string windowText(const OIIO::ImageSpec& imageSpec);  // data window in display window
// The keyed part's channels that are not its keyed colour and alpha.
std::vector<std::string> unkeyedChannels(const SourceFile& source);
// The labels of every part but the keyed one.
std::vector<std::string> otherPartLabels(const SourceFile& source);

}  // namespace kcli

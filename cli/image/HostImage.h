// A frame in the host's pixel layout: alpha, red, green, blue per pixel at
// the host's scale (255, 32768 or 1.0 for white).
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "refhost/Depth.h"

namespace kcli {

struct SourceFile;

// The reference host's depths, so that an image reaches the plug-in as it is.
using Depth = refhost::Depth;
using refhost::depthName;
using refhost::pixelBytes;

struct HostImage {
    int width = 0;
    int height = 0;
    Depth depth = Depth::U8;
    std::vector<unsigned char> pixels;  // rows packed, width * pixelBytes(depth) each
    // The file the frame was read from, for the write to keep what the
    // plug-in does not see; null for frames that come from no image file.
    std::shared_ptr<const SourceFile> source;

    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * pixelBytes(depth); }
    unsigned char* row(int y) { return pixels.data() + rowBytes() * static_cast<std::size_t>(y); }
    const unsigned char* row(int y) const {
        return pixels.data() + rowBytes() * static_cast<std::size_t>(y);
    }
};

// What a file holds, from its header alone.
struct FileInfo {
    int width = 0;
    int height = 0;
    Depth depth = Depth::U8;  // the depth its pixels render at unless forced
    bool hasAlpha = false;
};

}  // namespace kcli

// Channel depth of an image, and everything that follows from it: the one
// vocabulary of depths outside the plug-in (the tool uses it too).
// Channels are always alpha, red, green, blue.
#pragma once

#include <cstddef>

#include "host/HostTypes.h"

namespace refhost {

enum class Depth {
    U8,   // PF_Pixel, white 255, format "argb"
    U16,  // PF_Pixel16, white 32768 (not 65535), format "ae16"
    F32,  // PF_PixelFloat, white 1.0, format "ae32"
};

std::size_t pixelBytes(Depth depth);        // 4, 8 or 16 bytes
PF_PixelFormat pixelFormatOf(Depth depth);  // PF_PixelFormat_ARGB32 / ARGB64 / ARGB128
short bitdepthOf(Depth depth);              // 8, 16 or 32: the smart-render `bitdepth` field
const char* depthName(Depth depth);         // "8-bit", "16-bit", "32-bit float"

}  // namespace refhost

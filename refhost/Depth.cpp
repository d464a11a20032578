#include "refhost/Depth.h"

#include "host/HostConstants.h"

namespace refhost {

std::size_t pixelBytes(Depth depth) {
    switch (depth) {
        case Depth::U8: return sizeof(PF_Pixel);
        case Depth::U16: return sizeof(PF_Pixel16);
        case Depth::F32: return sizeof(PF_PixelFloat);
    }
    return 0;
}

PF_PixelFormat pixelFormatOf(Depth depth) {
    switch (depth) {
        case Depth::U8: return PF_PixelFormat_ARGB32;
        case Depth::U16: return PF_PixelFormat_ARGB64;
        case Depth::F32: return PF_PixelFormat_ARGB128;
    }
    return PF_PixelFormat_INVALID;
}

short bitdepthOf(Depth depth) {
    switch (depth) {
        case Depth::U8: return 8;
        case Depth::U16: return 16;
        case Depth::F32: return 32;
    }
    return 0;
}

const char* depthName(Depth depth) {
    switch (depth) {
        case Depth::U8: return "8-bit";
        case Depth::U16: return "16-bit";
        case Depth::F32: return "32-bit float";
    }
    return "unknown depth";
}

}  // namespace refhost

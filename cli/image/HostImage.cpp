#include "cli/image/HostImage.h"

#include "host/HostTypes.h"

namespace kcli {

const char* depthName(Depth d) {
    switch (d) {
        case Depth::U8: return "8-bit";
        case Depth::U16: return "16-bit";
        default: return "32-bit float";
    }
}

std::size_t pixelBytes(Depth d) {
    switch (d) {
        case Depth::U8: return sizeof(PF_Pixel);
        case Depth::U16: return sizeof(PF_Pixel16);
        default: return sizeof(PF_PixelFloat);
    }
}

}  // namespace kcli

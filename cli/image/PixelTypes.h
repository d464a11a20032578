// The host's depths as OpenImageIO's pixel types and back.
#pragma once

#include <OpenImageIO/typedesc.h>

#include "cli/image/HostImage.h"

namespace kcli {

inline OIIO::TypeDesc typeOf(Depth d) {
    switch (d) {
        case Depth::U8: return OIIO::TypeDesc::UINT8;
        case Depth::U16: return OIIO::TypeDesc::UINT16;
        default: return OIIO::TypeDesc::FLOAT;
    }
}

// The depth a file's pixels render at unless forced: the nearest that
// holds them.
inline Depth depthOf(const OIIO::TypeDesc& t) {
    if (t == OIIO::TypeDesc::UINT8 || t == OIIO::TypeDesc::INT8) return Depth::U8;
    if (t == OIIO::TypeDesc::UINT16 || t == OIIO::TypeDesc::INT16) return Depth::U16;
    return Depth::F32;
}

}  // namespace kcli

// The three pixel kernels, one per depth, with the host's iterate-callback
// signature. The reference data is the frame's KeySettings record.
#pragma once

#include "host/HostTypes.h"

namespace kestrelumen {

PF_Err KeyPixel8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err KeyPixel16(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out);
PF_Err KeyPixelFloat(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);

}  // namespace kestrelumen

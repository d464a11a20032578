// Placeholder: replaced by the keying kernels.
#include "render/KeyKernels.h"
#include "host/HostConstants.h"

namespace kestrelumen {
PF_Err KeyPixel8(void*, A_long, A_long, PF_Pixel*, PF_Pixel*) { return PF_Err_NONE; }
PF_Err KeyPixel16(void*, A_long, A_long, PF_Pixel16*, PF_Pixel16*) { return PF_Err_NONE; }
PF_Err KeyPixelFloat(void*, A_long, A_long, PF_PixelFloat*, PF_PixelFloat*) { return PF_Err_NONE; }
}  // namespace kestrelumen

// Placeholder: replaced by the smart render pass.
#include "entry/Handlers.h"
#include "host/HostConstants.h"

namespace kestrelumen {
PF_Err SmartRender(PF_InData*, PF_OutData*, PF_SmartRenderExtra*) { return PF_Err_NONE; }
}  // namespace kestrelumen

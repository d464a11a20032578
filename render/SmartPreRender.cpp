// Placeholder: replaced by the smart pre-render pass.
#include "entry/Handlers.h"
#include "host/HostConstants.h"

namespace kestrelumen {
PF_Err SmartPreRender(PF_InData*, PF_OutData*, PF_PreRenderExtra*) { return PF_Err_NONE; }
}  // namespace kestrelumen

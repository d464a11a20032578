// Placeholder: replaced by the parameter table and its setup.
#include "entry/Handlers.h"
#include "host/HostConstants.h"

namespace kestrelumen {
PF_Err ParamsSetup(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*) { return PF_Err_NONE; }
}  // namespace kestrelumen

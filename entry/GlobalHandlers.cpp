#include "entry/EffectInfo.h"
#include "entry/Handlers.h"

namespace kestrelumen {

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
             PF_LayerDef* /*output*/) {
    in_data->utils->ansi.sprintf(out_data->return_msg, ABOUT_FORMAT, EFFECT_NAME,
                                 static_cast<int>(MAJOR_VERSION), static_cast<int>(MINOR_VERSION),
                                 ABOUT_CREDIT);
    return PF_Err_NONE;
}

// Plain stores: whatever the host left in these words is replaced. Nothing is
// allocated and no suite is acquired, so there is nothing to undo.
PF_Err GlobalSetup(PF_InData* /*in_data*/, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                   PF_LayerDef* /*output*/) {
    out_data->my_version = EFFECT_VERSION;
    out_data->out_flags = EFFECT_OUT_FLAGS;
    out_data->out_flags2 = EFFECT_OUT_FLAGS2;
    return PF_Err_NONE;
}

}  // namespace kestrelumen

#include <cstring>

#include "entry/Handlers.h"
#include "entry/ParamTable.h"
#include "host/HostConstants.h"

namespace kestrelumen {

namespace {

void describe(const ParamRow& row, PF_ParamDef& def) {
    switch (row.type) {
        case PF_Param_COLOR:
            def.u.cd.value = KEY_COLOR_DEFAULT;
            def.u.cd.dephault = def.u.cd.value;
            break;
        case PF_Param_FLOAT_SLIDER:
            def.u.fs_d.valid_min = row.range_min;
            def.u.fs_d.slider_min = row.range_min;
            def.u.fs_d.valid_max = row.range_max;
            def.u.fs_d.slider_max = row.range_max;
            def.u.fs_d.value = row.dephault;
            def.u.fs_d.dephault = static_cast<PF_FpShort>(row.dephault);
            def.u.fs_d.precision = SLIDER_PRECISION;
            def.u.fs_d.display_flags = PF_ValueDisplayFlag_NONE;
            def.u.fs_d.fs_flags = PF_FSliderFlag_NONE;
            def.u.fs_d.curve_tolerance = SLIDER_CURVE_TOLERANCE;
            break;
        case PF_Param_POPUP:
            def.u.pd.num_choices = VIEW_NUM_CHOICES;
            def.u.pd.dephault = static_cast<A_short>(row.dephault);
            def.u.pd.value = static_cast<PF_ParamValue>(row.dephault);
            def.u.pd.u.namesptr = VIEW_CHOICES;
            break;
        default: break;
    }
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                   PF_LayerDef* /*output*/) {
    // One record for all six: the host copies what it needs during add_param.
    PF_ParamDef def;
    for (const ParamRow& row : PARAM_TABLE) {
        // Cleared for every parameter, so that nothing of the previous one
        // (a longer label's tail, slider fields under the popup) reaches the host.
        std::memset(&def, 0, sizeof def);
        def.param_type = row.type;
        in_data->utils->ansi.strcpy(def.name, row.label);
        describe(row, def);
        def.uu.id = row.id;
        const PF_Err err =
            in_data->inter.add_param(in_data->effect_ref, PF_ParamIndex_APPEND, &def);
        if (err != PF_Err_NONE) {
            // Parameters already added stay with the host; num_params is left
            // alone so the host does not expect the missing ones.
            return err;
        }
    }
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}

}  // namespace kestrelumen

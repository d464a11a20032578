// The first pass of every frame: reads the controls once into the frame's
// KeySettings record, asks for the input with the host's own request, and
// reports the area the effect produces. The record becomes the frame's
// pre-render data only when the whole pass succeeds.
#include <cstring>
#include <memory>
#include <new>

#include "entry/Handlers.h"
#include "entry/ParamTable.h"
#include "host/HostConstants.h"
#include "host/SuiteCache.h"
#include "render/KeySettings.h"
#include "render/Rect.h"

namespace kestrelumen {

namespace {

// The render pass fetches the input's pixels under the same id.
constexpr A_long INPUT_CHECKOUT_ID = 0;
constexpr int USER_PARAM_COUNT = PARAM_COUNT - 1;

// Parameter records are indexed from PARAM_KEY_COLOR, the first user control.
PF_ParamDef& param(PF_ParamDef (&params)[USER_PARAM_COUNT], PF_ParamIndex index) {
    return params[index - PARAM_KEY_COLOR];
}

}  // namespace

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_PreRenderExtra* extra) {
    PF_Err err = PF_Err_NONE;

    // Passed on untouched: the effect needs exactly the area it is asked for.
    PF_RenderRequest request = extra->input->output_request;
    SuiteCache suites(in_data->pica_basicP);

    PF_ParamDef params[USER_PARAM_COUNT];
    std::memset(params, 0, sizeof params);

    // Owned here until the pass succeeds: a frame whose pre-render fails is
    // not rendered, and no host documents freeing its data then, so the
    // record is freed on every other way out, exceptions included.
    std::unique_ptr<KeySettings> settings(new (std::nothrow) KeySettings{});
    if (settings == nullptr) return PF_Err_OUT_OF_MEMORY;

    for (PF_ParamIndex index = PARAM_KEY_COLOR; index <= PARAM_VIEW && err == PF_Err_NONE;
         ++index) {
        err = in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time,
                                            in_data->time_step, in_data->time_scale,
                                            &param(params, index));
    }

    if (err == PF_Err_NONE) {
        err = suites.colorParamSuite()->PF_GetFloatingPointColorFromColorDef(
            in_data->effect_ref, &param(params, PARAM_KEY_COLOR), &settings->key_color);
        // Narrowed once here so that no kernel call converts or calls the host.
        settings->choke_clear =
            static_cast<float>(param(params, PARAM_CHOKE_TRANSPARENT).u.fs_d.value);
        settings->choke_opaque = static_cast<float>(param(params, PARAM_CHOKE_OPAQUE).u.fs_d.value);
        settings->spill_amount = static_cast<float>(param(params, PARAM_SPILL_AMOUNT).u.fs_d.value);
        settings->spill_size = static_cast<float>(param(params, PARAM_SPILL_SIZE).u.fs_d.value);
        settings->view = param(params, PARAM_VIEW).u.pd.value;
    }

    if (err == PF_Err_NONE) {
        PF_CheckoutResult input;
        std::memset(&input, 0, sizeof input);
        err = extra->cb->checkout_layer(in_data->effect_ref, PARAM_INPUT, INPUT_CHECKOUT_ID,
                                        &request, in_data->current_time, in_data->time_step,
                                        in_data->time_scale, &input);
        if (err == PF_Err_NONE) {
            // The effect neither grows nor shrinks the image.
            RectMergeInto(input.result_rect, extra->output->result_rect);
            RectMergeInto(input.max_result_rect, extra->output->max_result_rect);
        }
    }

    if (err == PF_Err_NONE) {
        // From here the record is the host's, freed only through this function.
        extra->output->pre_render_data = settings.release();
        extra->output->delete_pre_render_data_func = &DeleteKeySettings;
    }
    return err;
}

}  // namespace kestrelumen

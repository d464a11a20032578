// The second pass of every frame: runs the kernel for the input's depth over
// the image through the host's iterate suite, or passes the source through.
#include "entry/Handlers.h"
#include "host/HostConstants.h"
#include "host/ScopedSuite.h"
#include "host/SuiteCache.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace kestrelumen {

namespace {

// The id under which the pre-render pass asked for the input.
constexpr A_long INPUT_CHECKOUT_ID = 0;

constexpr char WORLD_SUITE_LOAD_MESSAGE[] = "Couldn't load suite.";
constexpr char WORLD_SUITE_RELEASE_MESSAGE[] = "Couldn't release suite.";

// Hands the input back under its checkout id on every way out of the pass.
// It is made before the checkout is asked for, since the host expects the
// checkin even after a failed checkout.
class InputCheckin {
public:
    InputCheckin(PF_SmartRenderExtra* extra, PF_ProgPtr effect_ref)
        : extra_(extra), effect_ref_(effect_ref) {}
    ~InputCheckin() {
        if (!done_) static_cast<void>(checkin());
    }
    InputCheckin(const InputCheckin&) = delete;
    InputCheckin& operator=(const InputCheckin&) = delete;

    PF_Err checkin() {
        done_ = true;
        return extra_->cb->checkin_layer_pixels(effect_ref_, INPUT_CHECKOUT_ID);
    }

private:
    PF_SmartRenderExtra* extra_;
    PF_ProgPtr effect_ref_;
    bool done_ = false;
};

// The kernel for the input's pixel format, run by the iterate suite of that
// depth from the input into the output. The settings are only read.
PF_Err iterateKernel(SuiteCache& suites, PF_InData* in_data, PF_PixelFormat format, void* settings,
                     PF_EffectWorld* input, PF_EffectWorld* output) {
    // Progress runs over the rows written, so over the output's height.
    const A_long rows = output->height;
    switch (format) {
        case PF_PixelFormat_ARGB128:
            return suites.iterateFloatSuite()->iterate(in_data, 0, rows, input, nullptr, settings,
                                                       KeyPixelFloat, output);
        case PF_PixelFormat_ARGB64:
            return suites.iterate16Suite()->iterate(in_data, 0, rows, input, nullptr, settings,
                                                    KeyPixel16, output);
        case PF_PixelFormat_ARGB32:
            return suites.iterate8Suite()->iterate(in_data, 0, rows, input, nullptr, settings,
                                                   KeyPixel8, output);
        default: return PF_Err_BAD_CALLBACK_PARAM;
    }
}

}  // namespace

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    PF_Err err = PF_Err_NONE;
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    const PF_ProgPtr effect_ref = in_data->effect_ref;

    SuiteCache suites(in_data->pica_basicP);
    InputCheckin input_checkin(extra, effect_ref);

    err = extra->cb->checkout_layer_pixels(effect_ref, INPUT_CHECKOUT_ID, &input);
    if (err == PF_Err_NONE) err = extra->cb->checkout_output(effect_ref, &output);

    void* const pre_render_data = extra->input->pre_render_data;
    if (pre_render_data == nullptr) {
        // Without settings the frame cannot be keyed; showing the source
        // beats leaving the output as it was.
        if (err == PF_Err_NONE && input != nullptr && output != nullptr) {
            static_cast<void>(in_data->utils->copy(effect_ref, input, output, nullptr, nullptr));
        }
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }

    if (err == PF_Err_NONE) {
        // The pre-render pass's own record, read in place: nothing to lock.
        const auto* settings = static_cast<const KeySettings*>(pre_render_data);
        ScopedSuiteHold world(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2);
        PF_PixelFormat format = PF_PixelFormat_INVALID;
        err = world.acquire(WORLD_SUITE_LOAD_MESSAGE);
        if (err == PF_Err_NONE) {
            // Asked even for a null input: the host's answer for it stands.
            err = world.get<PF_WorldSuite2>()->PF_GetPixelFormat(input, &format);
        }
        if (err == PF_Err_NONE && input != nullptr && output != nullptr) {
            if (settings->view == VIEW_SOURCE) {
                // The source view copies whatever the format, no kernel runs.
                err = in_data->utils->copy(effect_ref, input, output, nullptr, nullptr);
            } else {
                // The kernels only read the record, on whatever threads the host uses.
                err = iterateKernel(suites, in_data, format, pre_render_data, input, output);
            }
        }
        // A suite the host refused is not given back: that would unbalance
        // the host's count of it.
        const PF_Err release_err = world.release(WORLD_SUITE_RELEASE_MESSAGE);
        if (err == PF_Err_NONE) err = release_err;
    }

    const PF_Err checkin_err = input_checkin.checkin();
    if (err == PF_Err_NONE) err = checkin_err;
    return err;
}

}  // namespace kestrelumen

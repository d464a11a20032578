// The pre-render and smart-render callbacks (PF_PreRenderCallbacks,
// PF_SmartRenderCallbacks): the input layer asked for in the pre-render,
// its pixels and the output fetched in the render.
#include "refhost/HostContext.h"

namespace refhost {
namespace {

PF_Err CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkoutId,
                     const PF_RenderRequest* req, A_long time, A_long step, A_u_long scale,
                     PF_CheckoutResult* result) {
    auto detail = [&] {
        return "index " + std::to_string(index) + ", id " + std::to_string(checkoutId);
    };
    return hostCall(
        contextOf(ref), CallPoint::CheckoutLayer, detail,
        [&](Host::Context& ctx, std::optional<FaultMode>) -> PF_Err {
            if (ctx.currentCmd != PF_Cmd_SMART_PRE_RENDER || !ctx.frameIn || !req || !result)
                return PF_Err_BAD_CALLBACK_PARAM;
            if (index != 0) return PF_Err_INVALID_INDEX;  // the input is the only layer
            ctx.checkTime("checkout_layer", time, step, scale);
            ctx.lastRequest = *req;
            ctx.requestedIds.insert(checkoutId);
            *result = PF_CheckoutResult{};
            const PF_LRect bounds{0, 0, ctx.frameIn->width(), ctx.frameIn->height()};
            result->result_rect = bounds;
            result->max_result_rect = bounds;
            result->par = PF_RationalScale{1, 1};
            result->ref_width = ctx.frameIn->width();
            result->ref_height = ctx.frameIn->height();
            return PF_Err_NONE;
        });
}

PF_Err GuidMixIn(PF_ProgPtr ref, A_u_long, const void*) {
    return hostCall(contextOf(ref), CallPoint::GuidMixIn, "",
                    [](Host::Context&, std::optional<FaultMode>) { return PF_Err_NONE; });
}

PF_Err CheckoutLayerPixels(PF_ProgPtr ref, A_long checkoutId, PF_EffectWorld** pixels) {
    return hostCall(
        contextOf(ref), CallPoint::CheckoutLayerPixels,
        [&] { return "id " + std::to_string(checkoutId); },
        [&](Host::Context& ctx, std::optional<FaultMode> fault) -> PF_Err {
            if (!pixels) return PF_Err_BAD_CALLBACK_PARAM;
            *pixels = nullptr;
            if (fault == FaultMode::NullResult) return PF_Err_NONE;
            // Only what the pre-render of this frame asked for can be fetched.
            if (ctx.currentCmd != PF_Cmd_SMART_RENDER || !ctx.frameIn ||
                !ctx.requestedIds.count(checkoutId))
                return PF_Err_BAD_CALLBACK_PARAM;
            *pixels = ctx.frameIn->effectWorld();
            ctx.ledger.layerCheckedOut(checkoutId);
            return PF_Err_NONE;
        });
}

PF_Err CheckinLayerPixels(PF_ProgPtr ref, A_long checkoutId) {
    return hostCall(
        contextOf(ref), CallPoint::CheckinLayerPixels,
        [&] { return "id " + std::to_string(checkoutId); },
        [&](Host::Context& ctx, std::optional<FaultMode>) -> PF_Err {
            ctx.ledger.layerCheckedIn(checkoutId);
            return PF_Err_NONE;
        },
        OnError::AfterWork);
}

PF_Err CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
    return hostCall(contextOf(ref), CallPoint::CheckoutOutput, "",
                    [&](Host::Context& ctx, std::optional<FaultMode> fault) -> PF_Err {
                        if (!output) return PF_Err_BAD_CALLBACK_PARAM;
                        *output = nullptr;
                        if (fault == FaultMode::NullResult) return PF_Err_NONE;
                        if (ctx.currentCmd != PF_Cmd_SMART_RENDER || !ctx.frameOut)
                            return PF_Err_BAD_CALLBACK_PARAM;
                        *output = ctx.frameOut->effectWorld();
                        return PF_Err_NONE;
                    });
}

}  // namespace

void installRenderCallbacks(Host::Context& ctx) {
    ctx.preRenderCb = PF_PreRenderCallbacks{CheckoutLayer, GuidMixIn};
    ctx.smartRenderCb =
        PF_SmartRenderCallbacks{CheckoutLayerPixels, CheckinLayerPixels, CheckoutOutput};
}

}  // namespace refhost

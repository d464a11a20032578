// The world suites ("PF World Suite" v2 and v1) and the colour parameter
// suite ("PF ColorParamSuite" v1). The reference host lends the frame's
// worlds; it makes none.
#include "refhost/HostContext.h"

namespace refhost {
namespace {

PF_Err FloatColorFromColorDef(PF_ProgPtr ref, const PF_ParamDef* def, PF_PixelFloat* color) {
    return hostCall(contextOf(ref), CallPoint::ColorFromColorDef, "",
                    [&](Host::Context&, std::optional<FaultMode>) -> PF_Err {
                        if (!def || !color || def->param_type != PF_Param_COLOR)
                            return PF_Err_BAD_CALLBACK_PARAM;
                        const PF_Pixel& c = def->u.cd.value;
                        color->alpha = c.alpha / 255.0f;
                        color->red = c.red / 255.0f;
                        color->green = c.green / 255.0f;
                        color->blue = c.blue / 255.0f;
                        return PF_Err_NONE;
                    });
}

PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    auto detail = [&](Host::Context& ctx) -> std::string {
        if (!world) return "null world";
        const std::optional<Depth> depth = ctx.depthOf(world);
        return depth ? std::string(depthName(*depth)) + " world" : "unknown world";
    };
    return hostCall(currentContext(), CallPoint::WorldGetPixelFormat, detail,
                    [&](Host::Context& ctx, std::optional<FaultMode> fault) -> PF_Err {
                        if (!format) return PF_Err_BAD_CALLBACK_PARAM;
                        if (fault == FaultMode::BadFormat) {
                            *format = PF_PixelFormat_INVALID;
                            return PF_Err_NONE;
                        }
                        const std::optional<Depth> depth =
                            world ? ctx.depthOf(world) : std::nullopt;
                        if (!depth) return PF_Err_BAD_CALLBACK_PARAM;
                        *format = pixelFormatOf(*depth);
                        return PF_Err_NONE;
                    });
}

PF_Err NewWorld2(PF_ProgPtr ref, A_long, A_long, PF_Boolean, PF_PixelFormat, PF_EffectWorld*) {
    return hostCall(
        contextOf(ref), CallPoint::WorldNew, "",
        [](Host::Context&, std::optional<FaultMode>) { return PF_Err_INVALID_CALLBACK; });
}

PF_Err DisposeWorld(PF_ProgPtr ref, PF_EffectWorld*) {
    return hostCall(
        contextOf(ref), CallPoint::WorldDispose, "",
        [](Host::Context&, std::optional<FaultMode>) { return PF_Err_INVALID_CALLBACK; });
}

PF_Err NewWorld1(PF_ProgPtr ref, A_long w, A_long h, PF_NewWorldFlags, PF_EffectWorld* world) {
    return NewWorld2(ref, w, h, 0, PF_PixelFormat_ARGB32, world);
}

}  // namespace

void installWorldSuites(Host::Context& ctx) {
    ctx.colorSuite = PF_ColorParamSuite1{FloatColorFromColorDef};
    ctx.worldSuite2 = PF_WorldSuite2{NewWorld2, DisposeWorld, GetPixelFormat};
    ctx.worldSuite1 = PF_WorldSuite1{NewWorld1, DisposeWorld};
    ctx.suites[{kPFColorParamSuite, kPFColorParamSuiteVersion1}] = &ctx.colorSuite;
    ctx.suites[{kPFWorldSuite, kPFWorldSuiteVersion2}] = &ctx.worldSuite2;
    ctx.suites[{kPFWorldSuite, kPFWorldSuiteVersion1}] = &ctx.worldSuite1;
}

}  // namespace refhost

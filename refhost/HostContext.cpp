#include "refhost/HostContext.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace refhost {

namespace {

thread_local Host::Context* tlsCurrent = nullptr;

}  // namespace

Host::Context* currentContext() { return tlsCurrent; }

Host::Context* contextOf(PF_ProgPtr ref) {
    Host::Context* ctx = tlsCurrent;
    return ctx && ctx->ref() == ref ? ctx : nullptr;
}

void setCurrentContext(Host::Context* ctx) { tlsCurrent = ctx; }

Host::Context::Context() {
    installBasicSuite(*this);
    installHandleSuite(*this);
    installWorldSuites(*this);
    installIterateSuites(*this);
    installParamCallbacks(*this);
    installUtilCallbacks(*this);
    installRenderCallbacks(*this);

    // The input layer: parameter 0, supplied by the host.
    ParamInfo layer;
    layer.index = 0;
    layer.type = PF_Param_LAYER;
    layer.definition.param_type = PF_Param_LAYER;
    layer.current = layer.definition;
    params.push_back(layer);
}

unsigned Host::Context::resolvedThreads() const {
    if (options.threads) return options.threads;
    const unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

std::optional<FaultMode> Host::Context::record(CallPoint point, std::string detail) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::size_t index = trace.size();
    trace.push_back(HostCall{point, std::move(detail)});
    if (!plan || plan->command != currentCmd || plan->callIndex != index) return std::nullopt;
    const FaultPlan fired = *plan;
    plan.reset();
    const std::vector<FaultMode> modes = faultModesOf(point);
    if (std::find(modes.begin(), modes.end(), fired.mode) == modes.end()) return std::nullopt;
    injected = trace.back();
    injectedIndex = index;
    faultError = fired.error;
    return fired.mode;
}

void Host::Context::warn(std::string text) {
    std::lock_guard<std::mutex> lock(mutex);
    commandWarnings.push_back(std::move(text));
}

std::optional<Depth> Host::Context::depthOf(const PF_EffectWorld* w) const {
    if (auto it = frameWorlds.find(w); it != frameWorlds.end()) return it->second;
    if (auto it = exposed.find(w); it != exposed.end()) return it->second;
    return std::nullopt;
}

Host::Context::HandleBlock* Host::Context::block(PF_Handle h) {
    auto it = handles.find(h);
    return it == handles.end() ? nullptr : it->second.get();
}

void Host::Context::checkTime(const char* what, A_long time, A_long step, A_u_long scale) {
    if (time != in.current_time || step != in.time_step || scale != in.time_scale)
        warn(std::string(what) + " asked for time " + std::to_string(time) + "/" +
             std::to_string(step) + "/" + std::to_string(scale) + " in a frame at " +
             std::to_string(in.current_time) + "/" + std::to_string(in.time_step) + "/" +
             std::to_string(in.time_scale));
}

void Host::Context::repointChoices() {
    for (ParamInfo& p : params)
        if (p.type == PF_Param_POPUP) {
            p.definition.u.pd.u.namesptr = p.choices.c_str();
            p.current.u.pd.u.namesptr = p.choices.c_str();
        }
}

void Host::Context::beginCommand(PF_Cmd cmd) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        currentCmd = cmd;
        trace.clear();
        injected.reset();
        injectedIndex = 0;
        commandWarnings.clear();
        ledger.clear();
    }
    in = PF_InData{};
    in.inter = inter;
    in.utils = &utils;
    in.effect_ref = ref();
    in.quality = 1;
    in.version = PF_SpecVersion{13, 28};
    in.num_params = static_cast<A_long>(params.size());
    in.current_time = options.currentTime;
    in.time_step = options.timeStep;
    in.total_time = options.timeStep;
    in.local_time_step = options.timeStep;
    in.time_scale = options.timeScale;
    if (frameIn) {
        in.width = frameIn->width();
        in.height = frameIn->height();
        in.extent_hint = PF_LRect{0, 0, in.width, in.height};
    }
    in.downsample_x = in.downsample_y = in.pixel_aspect_ratio = PF_RationalScale{1, 1};
    in.pica_basicP = basicAvailable ? &basic : nullptr;
    out = PF_OutData{};
}

std::string rectText(const PF_LRect& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

PF_LRect intersect(PF_LRect a, const PF_LRect& b) {
    a.left = std::max(a.left, b.left);
    a.top = std::max(a.top, b.top);
    a.right = std::min(a.right, b.right);
    a.bottom = std::min(a.bottom, b.bottom);
    return a;
}

bool validWorld(const PF_EffectWorld* w, std::size_t pixelSize) {
    if (!w || w->width < 0 || w->height < 0) return false;
    if (w->width == 0 || w->height == 0) return true;
    return w->data && w->rowbytes >= 0 &&
           static_cast<std::size_t>(w->rowbytes) >= static_cast<std::size_t>(w->width) * pixelSize;
}

std::string returnMessage(const PF_OutData& out) {
    const void* nul = std::memchr(out.return_msg, 0, sizeof out.return_msg);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - out.return_msg)
            : sizeof out.return_msg;
    return std::string(out.return_msg, n);
}

}  // namespace refhost

#include "refhost/Host.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "host/HostConstants.h"
#include "refhost/HostContext.h"

namespace refhost {

namespace {

// All channels: the mask a host asks for when it wants the whole image.
constexpr PF_ChannelMask ALL_CHANNELS = 15;

}  // namespace

// ===========================================================================
// Results
// ===========================================================================

bool CommandResult::displaysError() const {
    return (out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
}

std::string CommandResult::message() const {
    return displaysError() ? returnMessage(out) : std::string();
}

PF_Err FrameResult::err() const {
    if (preRender.err) return preRender.err;
    return render ? render->err : PF_Err_NONE;
}

std::vector<std::string> FrameResult::imbalances() const {
    std::vector<std::string> out;
    for (const auto& s : preRender.imbalances) out.push_back("pre-render: " + s);
    if (render)
        for (const auto& s : render->imbalances) out.push_back("render: " + s);
    return out;
}

std::optional<HostCall> FrameResult::injected() const {
    if (preRender.injected) return preRender.injected;
    return render ? render->injected : std::nullopt;
}

bool FrameResult::exceptionEscaped() const {
    return preRender.exceptionEscaped || (render && render->exceptionEscaped);
}

// ===========================================================================
// Host
// ===========================================================================

Host::Host(PF_FilterProc entry, HostOptions options) : ctx_(new Context) {
    if (!entry) throw Error("no entry point to call");
    ctx_->entry = entry;
    ctx_->options = options;
    ctx_->in.current_time = options.currentTime;
    ctx_->in.time_step = options.timeStep;
    ctx_->in.time_scale = options.timeScale;
}

Host::Host(const PluginLibrary& library, HostOptions options) : Host(library.entry(), options) {
    if (const auto& bytes = library.registrationResource()) {
        try {
            ctx_->pipl = parsePipl(*bytes);
        } catch (const PiplError& e) {
            ctx_->warnings.push_back("registration resource of " + library.path() +
                                     " is unreadable: " + e.what());
        }
    }
}

void Host::setThreads(unsigned threads) { ctx_->options.threads = threads; }
unsigned Host::threads() const { return ctx_->resolvedThreads(); }

void Host::setTime(A_long currentTime, A_long timeStep, A_u_long timeScale) {
    ctx_->options.currentTime = currentTime;
    ctx_->options.timeStep = timeStep;
    ctx_->options.timeScale = timeScale;
}

void Host::setBasicSuiteAvailable(bool available) { ctx_->basicAvailable = available; }
void Host::setRegistration(const PiplInfo& pipl) { ctx_->pipl = pipl; }
void Host::clearRegistration() { ctx_->pipl.reset(); }
const std::optional<PiplInfo>& Host::registration() const { return ctx_->pipl; }
const std::vector<std::string>& Host::warnings() const { return ctx_->warnings; }

void Host::setFaultPlan(std::optional<FaultPlan> plan) {
    std::lock_guard<std::mutex> lock(ctx_->mutex);
    ctx_->plan = plan;
}

const std::optional<FaultPlan>& Host::faultPlan() const { return ctx_->plan; }

CommandResult Host::run(PF_Cmd cmd, PF_ParamDef** params, PF_LayerDef* output, void* extra) {
    Context& ctx = *ctx_;
    ctx.beginCommand(cmd);
    CommandResult result;
    result.cmd = cmd;
    {
        CurrentGuard guard(&ctx);
        try {
            result.err = ctx.entry(cmd, &ctx.in, &ctx.out, params, output, extra);
        } catch (...) {
            // Undefined in the host's world; here it is caught and reported.
            result.exceptionEscaped = true;
            result.err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
    }
    result.out = ctx.out;
    std::lock_guard<std::mutex> lock(ctx.mutex);
    result.calls = ctx.trace;
    result.injected = ctx.injected;
    result.injectedIndex = ctx.injectedIndex;
    result.warnings = ctx.commandWarnings;
    ctx.currentCmd = -1;
    return result;
}

namespace {

void closeBooks(Host::Context& ctx, CommandResult& result) {
    result.imbalances = ctx.ledger.imbalances();
    result.notes = ctx.ledger.notes();
    for (const std::string& w : result.warnings) ctx.warnings.push_back(w);
}

// The array of parameter pointers a host passes with the setup commands.
std::vector<PF_ParamDef*> paramPointers(std::vector<ParamInfo>& params) {
    std::vector<PF_ParamDef*> out;
    for (ParamInfo& p : params) out.push_back(&p.current);
    out.push_back(nullptr);
    return out;
}

}  // namespace

CommandResult Host::about(std::string& text) {
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(PF_Cmd_ABOUT, params.data(), &output, nullptr);
    closeBooks(*ctx_, r);
    text = returnMessage(r.out);
    return r;
}

CommandResult Host::globalSetup() {
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(PF_Cmd_GLOBAL_SETUP, params.data(), &output, nullptr);
    if (r.err == PF_Err_NONE && ctx_->pipl) {
        const PiplInfo& p = *ctx_->pipl;
        auto compare = [&r](const char* what, const std::optional<std::uint32_t>& fromResource,
                            std::uint32_t reported) {
            char buf[160];
            if (!fromResource)
                std::snprintf(buf, sizeof buf, "registration resource has no %s", what);
            else if (*fromResource != reported)
                std::snprintf(buf, sizeof buf,
                              "%s: global setup reports 0x%08X, the registration resource 0x%08X",
                              what, static_cast<unsigned>(reported),
                              static_cast<unsigned>(*fromResource));
            else
                return;
            r.warnings.push_back(buf);
        };
        compare("version (eVER)", p.version, r.out.my_version);
        compare("out_flags (eGLO)", p.outFlags, static_cast<std::uint32_t>(r.out.out_flags));
        compare("out_flags2 (eGL2)", p.outFlags2, static_cast<std::uint32_t>(r.out.out_flags2));
    }
    closeBooks(*ctx_, r);
    return r;
}

CommandResult Host::paramsSetup() {
    ctx_->params.resize(1);
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(PF_Cmd_PARAMS_SETUP, params.data(), &output, nullptr);
    if (r.err == PF_Err_NONE && r.out.num_params != static_cast<A_long>(ctx_->params.size()))
        r.warnings.push_back("parameter setup reports " + std::to_string(r.out.num_params) +
                             " parameters, the host holds " + std::to_string(ctx_->params.size()));
    closeBooks(*ctx_, r);
    return r;
}

CommandResult Host::sendCommand(PF_Cmd cmd) {
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(cmd, params.data(), &output, nullptr);
    closeBooks(*ctx_, r);
    return r;
}

namespace {

PF_RenderRequest hostRequest(const World& in) {
    PF_RenderRequest req{};
    req.rect = PF_LRect{0, 0, in.width(), in.height()};
    req.field = 0;
    req.channel_mask = ALL_CHANNELS;
    req.preserve_rgb_of_zero_alpha = 0;
    return req;
}

// Hands handed-over pre-render data to the plug-in's delete function, as
// the host does once the frame is done with; false when there is none.
bool deletePending(Host::Context& ctx) {
    if (!ctx.pendingData) return false;
    void* const data = ctx.pendingData;
    const PF_DeletePreRenderDataFunc f = ctx.deleteFunc;
    ctx.pendingData = nullptr;
    ctx.deleteFunc = nullptr;
    CurrentGuard guard(&ctx);
    try {
        f(data);
    } catch (...) {
        ctx.warnings.push_back("delete_pre_render_data_func let an exception out");
    }
    return true;
}

}  // namespace

// The pre-render data of a frame that was never rendered goes the way of
// any other: through the plug-in's function (whose library outlives the host).
Host::~Host() { deletePending(*ctx_); }

CommandResult Host::smartPreRender(World& in, PF_PreRenderOutput& output) {
    Context& ctx = *ctx_;
    // A frame whose render never came: its data is deleted before the next.
    deletePending(ctx);
    ctx.frameIn = &in;
    ctx.frameOut = nullptr;
    ctx.frameWorlds = {{in.effectWorld(), in.depth()}};
    ctx.requestedIds.clear();
    ctx.lastRequest.reset();

    PF_PreRenderInput input{};
    input.output_request = hostRequest(in);
    input.bitdepth = bitdepthOf(in.depth());
    void* const passed = output.pre_render_data;
    PF_PreRenderExtra extra{&input, &output, &ctx.preRenderCb};
    CommandResult r = run(PF_Cmd_SMART_PRE_RENDER, nullptr, nullptr, &extra);
    closeBooks(ctx, r);
    // The host frees pre-render data only through the plug-in's delete
    // function, and only after a pre-render that succeeded: anything else
    // that was set is never deleted.
    if (output.pre_render_data != nullptr && output.pre_render_data != passed) {
        if (r.err != PF_Err_NONE) {
            r.imbalances.push_back(
                "pre_render_data set by a pre-render that failed: no render follows and "
                "nothing deletes it");
        } else if (output.delete_pre_render_data_func == nullptr) {
            r.imbalances.push_back(
                "pre_render_data set without delete_pre_render_data_func: nothing deletes it");
        } else {
            ctx.pendingData = output.pre_render_data;
            ctx.deleteFunc = output.delete_pre_render_data_func;
        }
    }
    ctx.frameIn = nullptr;
    ctx.frameWorlds.clear();
    return r;
}

CommandResult Host::smartRender(World& in, World& out, void* preRenderData) {
    Context& ctx = *ctx_;
    if (in.depth() != out.depth() || in.width() != out.width() || in.height() != out.height())
        throw Error("input and output worlds differ in depth or size");
    ctx.frameIn = &in;
    ctx.frameOut = &out;
    ctx.frameWorlds = {{in.effectWorld(), in.depth()}, {out.effectWorld(), out.depth()}};

    PF_SmartRenderInput input{};
    input.output_request = hostRequest(in);
    input.bitdepth = bitdepthOf(in.depth());
    input.pre_render_data = preRenderData;
    PF_SmartRenderExtra extra{&input, &ctx.smartRenderCb};
    CommandResult r = run(PF_Cmd_SMART_RENDER, nullptr, nullptr, &extra);
    closeBooks(ctx, r);
    ctx.frameIn = ctx.frameOut = nullptr;
    ctx.frameWorlds.clear();
    return r;
}

bool Host::disposePreRenderData(void* preRenderData) {
    if (!preRenderData || preRenderData != ctx_->pendingData) return false;
    return deletePending(*ctx_);
}

std::optional<PF_RenderRequest> Host::lastLayerRequest() const { return ctx_->lastRequest; }

FrameResult Host::renderFrame(World& in, World& out) {
    if (in.depth() != out.depth() || in.width() != out.width() || in.height() != out.height())
        throw Error("input and output worlds differ in depth or size");
    FrameResult frame;
    PF_PreRenderOutput output{};
    frame.preRender = smartPreRender(in, output);
    frame.resultRect = output.result_rect;
    frame.maxResultRect = output.max_result_rect;
    frame.hadPreRenderData = output.pre_render_data != nullptr;
    if (frame.preRender.err == PF_Err_NONE)
        frame.render = smartRender(in, out, output.pre_render_data);
    frame.preRenderDataDeleted = disposePreRenderData(output.pre_render_data);
    return frame;
}

const std::vector<ParamInfo>& Host::params() const { return ctx_->params; }

namespace {

ParamInfo& paramOfType(std::vector<ParamInfo>& params, int index, PF_ParamType type,
                       const char* what) {
    if (index < 0 || static_cast<std::size_t>(index) >= params.size())
        throw Error("no parameter " + std::to_string(index) + " (the effect has " +
                    std::to_string(params.size()) + ")");
    ParamInfo& p = params[static_cast<std::size_t>(index)];
    if (p.type != type) throw Error("parameter " + std::to_string(index) + " is not a " + what);
    return p;
}

}  // namespace

void Host::setColor(int index, PF_Pixel value) {
    paramOfType(ctx_->params, index, PF_Param_COLOR, "colour").current.u.cd.value = value;
}

void Host::setFloat(int index, double value) {
    paramOfType(ctx_->params, index, PF_Param_FLOAT_SLIDER, "float slider").current.u.fs_d.value =
        value;
}

void Host::setPopup(int index, A_long value) {
    paramOfType(ctx_->params, index, PF_Param_POPUP, "popup").current.u.pd.value = value;
}

const PF_ParamDef& Host::paramValue(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= ctx_->params.size())
        throw Error("no parameter " + std::to_string(index));
    return ctx_->params[static_cast<std::size_t>(index)].current;
}

const Ledger& Host::ledger() const { return ctx_->ledger; }

std::vector<HostCall> Host::trace() const {
    std::lock_guard<std::mutex> lock(ctx_->mutex);
    return ctx_->trace;
}

Host::CallScope::CallScope(Host& host) : host_(host), previous_(currentContext()) {
    host.ctx_->beginCommand(-1);
    setCurrentContext(host.ctx_.get());
}

Host::CallScope::~CallScope() {
    setCurrentContext(static_cast<Context*>(previous_));
    (void)host_;
}

SPBasicSuite* Host::basicSuite() { return &ctx_->basic; }
PF_InData* Host::inData() { return &ctx_->in; }

void Host::exposeWorld(World& world) { ctx_->exposed[world.effectWorld()] = world.depth(); }
void Host::forgetWorlds() { ctx_->exposed.clear(); }

}  // namespace refhost

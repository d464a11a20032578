// Placeholder bodies so that users of the header can build against it; the
// real host follows.
#include "refhost/Host.h"

#include <cstring>

#include "host/HostConstants.h"

namespace refhost {

struct Host::Context {
    PF_FilterProc entry = nullptr;
    HostOptions options;
    std::optional<PiplInfo> pipl;
    std::vector<std::string> warnings;
    std::optional<FaultPlan> plan;
    std::vector<ParamInfo> params;
    Ledger ledger;
    SPBasicSuite basic{};
    PF_InData in{};
};

bool CommandResult::displaysError() const {
    return (out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
}

std::string CommandResult::message() const {
    if (!displaysError()) return std::string();
    const void* nul = std::memchr(out.return_msg, 0, sizeof out.return_msg);
    const std::size_t n = nul ? static_cast<const char*>(nul) - out.return_msg : sizeof out.return_msg;
    return std::string(out.return_msg, n);
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

Host::Host(PF_FilterProc entry, HostOptions options) : ctx_(new Context) {
    ctx_->entry = entry;
    ctx_->options = options;
}
Host::Host(const PluginLibrary& library, HostOptions options) : Host(library.entry(), options) {}
Host::~Host() = default;

void Host::setThreads(unsigned threads) { ctx_->options.threads = threads; }
unsigned Host::threads() const { return ctx_->options.threads ? ctx_->options.threads : 1; }
void Host::setTime(A_long, A_long, A_u_long) {}
void Host::setBasicSuiteAvailable(bool) {}
void Host::setRegistration(std::optional<PiplInfo> pipl) { ctx_->pipl = std::move(pipl); }
const std::optional<PiplInfo>& Host::registration() const { return ctx_->pipl; }
const std::vector<std::string>& Host::warnings() const { return ctx_->warnings; }
void Host::setFaultPlan(std::optional<FaultPlan> plan) { ctx_->plan = plan; }
const std::optional<FaultPlan>& Host::faultPlan() const { return ctx_->plan; }
CommandResult Host::about(std::string&) { return {}; }
CommandResult Host::globalSetup() { return {}; }
CommandResult Host::paramsSetup() { return {}; }
CommandResult Host::sendCommand(PF_Cmd) { return {}; }
FrameResult Host::renderFrame(World&, World&) { return {}; }
CommandResult Host::smartPreRender(World&, PF_PreRenderOutput&) { return {}; }
CommandResult Host::smartRender(World&, World&, void*) { return {}; }
void Host::disposePreRenderData(void*) {}
const std::vector<ParamInfo>& Host::params() const { return ctx_->params; }
void Host::setColor(int, PF_Pixel) {}
void Host::setFloat(int, double) {}
void Host::setPopup(int, A_long) {}
const PF_ParamDef& Host::paramValue(int) const { throw Error("no parameters yet"); }
const Ledger& Host::ledger() const { return ctx_->ledger; }
std::vector<HostCall> Host::trace() const { return {}; }
Host::CallScope::CallScope(Host& host) : host_(host), previous_(nullptr) {}
Host::CallScope::~CallScope() = default;
SPBasicSuite* Host::basicSuite() { return &ctx_->basic; }
PF_InData* Host::inData() { return &ctx_->in; }
void Host::exposeWorld(World&) {}
void Host::forgetWorlds() {}
CommandResult Host::run(PF_Cmd, PF_ParamDef**, PF_LayerDef*, void*) { return {}; }

}  // namespace refhost

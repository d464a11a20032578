// The reference host's state and what its callbacks share. Internal to
// refhost/: the suite and callback files (BasicSuite.cpp, HandleSuite.cpp,
// WorldSuites.cpp, IterateSuites.cpp, ParamCallbacks.cpp, UtilCallbacks.cpp,
// RenderCallbacks.cpp) each fill their function tables into the Context, and
// Host.cpp runs the commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/HostConstants.h"
#include "refhost/Host.h"

namespace refhost {

// ===========================================================================
// The host's state. effect_ref points here.
// ===========================================================================

struct Host::Context {
    struct HandleBlock {
        void* ptr = nullptr;  // the master pointer: a PF_Handle is its address
        std::vector<std::uint8_t> bytes;
        A_HandleSize size = 0;
        int locks = 0;
    };

    PF_FilterProc entry = nullptr;
    HostOptions options;
    bool basicAvailable = true;
    std::optional<PiplInfo> pipl;
    std::vector<std::string> warnings;

    // Per command
    mutable std::mutex mutex;  // guards trace, plan, warnings of the command
    PF_Cmd currentCmd = -1;
    std::vector<HostCall> trace;
    std::optional<FaultPlan> plan;
    std::optional<HostCall> injected;
    std::size_t injectedIndex = 0;
    PF_Err faultError = PF_Interrupt_CANCEL;
    std::vector<std::string> commandWarnings;
    Ledger ledger;
    PF_InData in{};
    PF_OutData out{};

    // Parameters
    std::vector<ParamInfo> params;

    // Handles, alive across commands
    std::mutex handleMutex;
    std::map<PF_Handle, std::unique_ptr<HandleBlock>> handles;

    // Worlds the host knows the depth of
    std::map<const PF_EffectWorld*, Depth> exposed;
    std::map<const PF_EffectWorld*, Depth> frameWorlds;
    World* frameIn = nullptr;
    World* frameOut = nullptr;
    std::set<A_long> requestedIds;
    std::optional<PF_RenderRequest> lastRequest;
    // What the last successful pre-render handed over and the plug-in's
    // function that frees it: the host's to delete after the frame.
    void* pendingData = nullptr;
    PF_DeletePreRenderDataFunc deleteFunc = nullptr;

    // Function tables handed out
    SPBasicSuite basic{};
    PF_InteractCallbacks inter{};
    PF_UtilCallbacks utils{};
    PF_HandleSuite1 handleSuite{};
    PF_ColorParamSuite1 colorSuite{};
    PF_WorldSuite2 worldSuite2{};
    PF_WorldSuite1 worldSuite1{};
    PF_Iterate8Suite1 iterate8{};
    PF_Iterate16Suite1 iterate16{};
    PF_IterateFloatSuite1 iterateFloat{};
    PF_PreRenderCallbacks preRenderCb{};
    PF_SmartRenderCallbacks smartRenderCb{};

    // What AcquireSuite hands out, by name and version.
    std::map<std::pair<std::string, int32_t>, const void*> suites;

    Context();

    PF_ProgPtr ref() { return reinterpret_cast<PF_ProgPtr>(this); }

    unsigned resolvedThreads() const;

    // Records one host call and says whether it is the one to fail.
    std::optional<FaultMode> record(CallPoint point, std::string detail);
    void warn(std::string text);

    std::optional<Depth> depthOf(const PF_EffectWorld* w) const;
    HandleBlock* block(PF_Handle h);  // under handleMutex
    void checkTime(const char* what, A_long time, A_long step, A_u_long scale);
    void repointChoices();

    // Starts a command's books and its in_data, as every command (and a
    // CallScope) receives them.
    void beginCommand(PF_Cmd cmd);
};

// Each suite or callback file puts its functions into the tables of the
// Context (and registers its suites for AcquireSuite).
void installBasicSuite(Host::Context& ctx);      // BasicSuite.cpp
void installHandleSuite(Host::Context& ctx);     // HandleSuite.cpp, also in utils
void installWorldSuites(Host::Context& ctx);     // WorldSuites.cpp: world and colour suites
void installIterateSuites(Host::Context& ctx);   // IterateSuites.cpp, also in utils
void installParamCallbacks(Host::Context& ctx);  // ParamCallbacks.cpp: in_data->inter
void installUtilCallbacks(Host::Context& ctx);   // UtilCallbacks.cpp: copy, ANSI maths and text
void installRenderCallbacks(
    Host::Context& ctx);  // RenderCallbacks.cpp: pre-render and smart render

// ===========================================================================
// Finding the host from a callback
// ===========================================================================

// The calling thread's current command. Callbacks that receive no effect_ref
// (basic suite, handle suite, PF_GetPixelFormat, sprintf, strcpy) can only
// find their host this way; the interface has them called on the thread
// that runs the command.
Host::Context* currentContext();

// effect_ref must be the token of the command running on this thread: a
// stale or foreign token is refused instead of being dereferenced.
Host::Context* contextOf(PF_ProgPtr ref);
inline Host::Context* contextOf(const PF_InData* in_data) {
    return in_data ? contextOf(in_data->effect_ref) : nullptr;
}

void setCurrentContext(Host::Context* ctx);

// Makes the calling thread run a command of `ctx` for the guard's lifetime.
class CurrentGuard {
public:
    explicit CurrentGuard(Host::Context* ctx) : previous_(currentContext()) {
        setCurrentContext(ctx);
    }
    ~CurrentGuard() { setCurrentContext(previous_); }
    CurrentGuard(const CurrentGuard&) = delete;
    CurrentGuard& operator=(const CurrentGuard&) = delete;

private:
    Host::Context* previous_;
};

// ===========================================================================
// The frame of every callback
// ===========================================================================

// How a planned FaultMode::Error meets the call.
enum class OnError {
    // Returned before the call does anything.
    ReturnFirst,
    // Closing calls (release, check-in) cannot be retried, so they do their
    // work and then report the planned error; arguments they cannot take
    // are still refused as such.
    AfterWork,
    // The body reads the plan itself.
    InBody,
};

// A call's detail for the trace: text, or a function that makes it (from
// nothing or from the Context), called only once the call is inside the
// frame below, so that nothing it throws reaches the plug-in.
template <class Detail>
std::string detailText(Host::Context& ctx, Detail& detail) {
    if constexpr (std::is_invocable_v<Detail&, Host::Context&>)
        return detail(ctx);
    else if constexpr (std::is_invocable_v<Detail&>)
        return detail();
    else
        return std::string(detail);
}

// What every callback that returns PF_Err does around its own work: no C++
// exception reaches the plug-in, a call outside a command (ctx null) is
// refused with `refused`, the call is traced, and the fault plan applies as
// `onError` says. `body(Host::Context&, std::optional<FaultMode>)` sees the
// planned mode that is left for it to show (NullResult, BadFormat).
template <class Detail, class Body>
PF_Err hostCall(Host::Context* ctx, CallPoint point, Detail&& detail, Body&& body,
                OnError onError = OnError::ReturnFirst,
                PF_Err refused = PF_Err_BAD_CALLBACK_PARAM) noexcept {
    try {
        if (!ctx) return refused;
        const std::optional<FaultMode> fault = ctx->record(point, detailText(*ctx, detail));
        const bool planned = fault == FaultMode::Error;
        if (planned && onError == OnError::ReturnFirst) return ctx->faultError;
        const PF_Err err = body(*ctx, fault);
        if (planned && onError == OnError::AfterWork && err != PF_Err_BAD_CALLBACK_PARAM)
            return ctx->faultError;
        return err;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

// The same for the callbacks that return a value instead of an error
// (the handle functions): `none` is what a refused or failed call returns.
template <class T, class Detail, class Body>
T hostValueCall(T none, Host::Context* ctx, CallPoint point, Detail&& detail,
                Body&& body) noexcept {
    try {
        if (!ctx) return none;
        return body(*ctx, ctx->record(point, detailText(*ctx, detail)));
    } catch (...) {
        return none;
    }
}

// ===========================================================================
// Rectangles and worlds
// ===========================================================================

std::string rectText(const PF_LRect& r);
PF_LRect intersect(PF_LRect a, const PF_LRect& b);
inline bool emptyRect(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

// A world whose rows can be walked with pixels of `pixelSize` bytes: an
// empty world needs no pixels, any other a pointer and rows wide enough.
bool validWorld(const PF_EffectWorld* w, std::size_t pixelSize);

// return_msg up to its NUL (all of it when it has none).
std::string returnMessage(const PF_OutData& out);

}  // namespace refhost

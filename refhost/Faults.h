// Host call points and fault injection.
//
// Every call that the plug-in makes into the host during a command is a
// "call point": it is recorded, in order, in the command's trace
// (CommandResult::calls), and any one of them can be made to fail in a way
// that call can really fail. A sweep therefore runs a command once cleanly,
// takes its trace, and then re-runs it once for every (index, mode) pair with
// mode in faultModesOf(trace[index].point):
//
//     auto clean = host.renderFrame(in, out);
//     for (const CommandResult* cmd : {&clean.preRender, &clean.render})
//       for (std::size_t i = 0; i < cmd->calls.size(); ++i)
//         for (FaultMode mode : faultModesOf(cmd->calls[i].point)) {
//           host.setFaultPlan(FaultPlan{cmd->cmd, i, mode});
//           auto faulty = host.renderFrame(in, out);
//           ... faulty.injected tells which call failed ...
//         }
//
// The commands are deterministic, so the calls before the failing one are
// the same as in the clean run.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "host/HostTypes.h"

namespace refhost {

// Every host function that the reference host implements for a plug-in.
enum class CallPoint {
    // Basic suite (in_data->pica_basicP)
    AcquireSuite,
    ReleaseSuite,
    // "PF Handle Suite" v2, and the same functions in utils
    HandleNew,
    HandleLock,
    HandleUnlock,
    HandleDispose,
    HandleGetSize,
    HandleResize,
    // "PF ColorParamSuite" v1
    ColorFromColorDef,
    // "PF World Suite" v2 (and v1's two functions)
    WorldNew,
    WorldDispose,
    WorldGetPixelFormat,
    // "PF Iterate8 Suite", "PF iterate16 Suite", "PF iterateFloat Suite"
    // (v1 and v2), and utils->iterate / iterate16; the detail names the depth
    Iterate,
    // in_data->inter
    CheckoutParam,
    CheckinParam,
    AddParam,
    // in_data->utils
    AnsiSprintf,
    AnsiStrcpy,
    UtilsCopy,
    // PF_PreRenderCallbacks
    CheckoutLayer,
    GuidMixIn,
    // PF_SmartRenderCallbacks
    CheckoutLayerPixels,
    CheckinLayerPixels,
    CheckoutOutput,
};

// How an injected failure shows itself to the plug-in.
enum class FaultMode {
    // The call returns FaultPlan::error and does nothing else: a suite is
    // refused (the suite pointer is set to null), a checkout hands out nothing
    // and leaves the world pointer untouched, a copy or iterate draws nothing,
    // add_param adds nothing. Closing calls (ReleaseSuite, CheckinParam,
    // CheckinLayerPixels) still do their work and only report the error: the
    // caller cannot retry them, so the host must not keep the resource.
    Error,
    // The call reports success but delivers nothing: AcquireSuite returns 0
    // with a null suite, host_new_handle and host_lock_handle return null,
    // checkout_layer_pixels and checkout_output return 0 with a null world.
    NullResult,
    // PF_GetPixelFormat returns 0 but writes PF_PixelFormat_INVALID ("badf").
    BadFormat,
};

// The failure modes that the call point can really show; empty for calls
// that cannot fail (unlock, dispose, sprintf, strcpy, ...).
std::vector<FaultMode> faultModesOf(CallPoint point);

const char* toString(CallPoint point);  // "AcquireSuite", ...
const char* toString(FaultMode mode);   // "Error", "NullResult", "BadFormat"

// One call into the host, as recorded in a command's trace.
struct HostCall {
    CallPoint point;
    // What the call was about, for messages: suite name and version
    // ("PF Handle Suite v2"), parameter index, checkout id, depth, ...
    std::string detail;
};

std::string describe(const HostCall& call);  // "AcquireSuite(PF Handle Suite v2)"

// Fail the call with 0-based index `callIndex` in the trace of the next
// command `command` in the way `mode`. The plan fires at most once and is
// then spent; a plan whose call point cannot fail in `mode` does nothing
// (CommandResult::injected stays empty).
struct FaultPlan {
    PF_Cmd command = PF_Cmd_SMART_RENDER;
    std::size_t callIndex = 0;
    FaultMode mode = FaultMode::Error;
    // Returned by Error-mode calls. User cancel by default: a code the
    // plug-in never produces itself, so its propagation can be told apart.
    PF_Err error = PF_Interrupt_CANCEL;
};

}  // namespace refhost

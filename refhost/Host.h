// The reference host: drives an effect through EntryPointFunc the way the
// compositing host does, and provides the host side of every callback and
// suite the effect uses.
//
// Order of commands, as the host sends them: about() and globalSetup() once
// after loading, paramsSetup() once, then renderFrame() for every frame
// (a smart pre-render, then a smart render of the same frame, the
// pre-render data passed from one to the other).
//
// Every command returns a CommandResult: the plug-in's PF_Err, the PF_OutData
// it wrote, the trace of host calls it made, and the ledger's imbalances.
// The host never throws from inside a callback and catches anything the
// plug-in lets out of EntryPointFunc (CommandResult::exceptionEscaped).
//
// A Host is used from one thread at a time. Its callbacks find the Host
// through effect_ref where the host interface passes one; the functions
// that carry no token (basic suite, handle suite, PF_GetPixelFormat,
// sprintf, strcpy) find it through the calling thread's current command,
// which is why the plug-in must call them from the thread that runs the
// command, as the interface requires. Called from elsewhere they fail
// cleanly (error code or null), never crash. Kernels run on the iterate
// threads and must not call the host.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/HostSuites.h"
#include "host/HostTypes.h"
#include "refhost/Faults.h"
#include "refhost/Ledger.h"
#include "refhost/Pipl.h"
#include "refhost/PluginLibrary.h"
#include "refhost/World.h"

namespace refhost {

// What AcquireSuite and ReleaseSuite return for a suite the host does not
// offer (or does not hold), and what every token-less function returns when
// called outside a command.
constexpr SPErr SUITE_NOT_FOUND = -1;

struct HostOptions {
    // Threads over which iterate spreads the rows of an image. 1 (one
    // thread, the caller's) suits tests; 0 means std::thread::
    // hardware_concurrency(), which suits tools.
    unsigned threads = 1;
    // The frame's time, passed in in_data and expected back in checkouts.
    A_long currentTime = 0;
    A_long timeStep = 1;
    A_u_long timeScale = 24;
    // The layer's pixel aspect ratio and downsampling are always 1/1.
};

// One parameter as the host holds it. Index 0 is the input layer, which the
// host supplies itself (type PF_Param_LAYER).
struct ParamInfo {
    int index = 0;
    PF_ParamType type = PF_Param_LAYER;
    A_long id = 0;             // uu.id as added
    std::string name;          // label bytes as given (GBK for this effect), without the NUL
    std::string choices;       // popup: the choice list's bytes, copied when added; else empty
    PF_ParamDef definition{};  // the record as added; u.pd.u.namesptr points at `choices`
    PF_ParamDef
        current{};  // the record checkout_param hands out: definition with the current value
};

struct CommandResult {
    PF_Cmd cmd = 0;
    PF_Err err = PF_Err_NONE;             // what EntryPointFunc returned
    bool exceptionEscaped = false;        // an exception left EntryPointFunc (err is then 512)
    PF_OutData out{};                     // as the plug-in left it
    std::vector<HostCall> calls;          // every host call, in order
    std::optional<HostCall> injected;     // the call made to fail, if the fault plan fired
    std::size_t injectedIndex = 0;        // its index in `calls`
    std::vector<std::string> imbalances;  // Ledger::imbalances() at the end
    std::vector<std::string> notes;       // Ledger::notes()
    std::vector<std::string> warnings;    // host warnings raised by this command

    // The plug-in asked the host to show return_msg (PF_OutFlag_DISPLAY_ERROR_MESSAGE).
    bool displaysError() const;
    // return_msg when displaysError(), else empty. Bytes as written (the
    // plug-in's texts are not converted).
    std::string message() const;
};

struct FrameResult {
    CommandResult preRender;
    // Run only when the pre-render returned 0, as the host does.
    std::optional<CommandResult> render;
    // The pre-render output record after the pre-render: result rectangles
    // as the plug-in widened them (the host passes them in empty).
    PF_LRect resultRect{};
    PF_LRect maxResultRect{};
    bool hadPreRenderData = false;  // the pre-render recorded pre_render_data
    // The host handed it to the plug-in's delete_pre_render_data_func after
    // the frame. Data that nothing can delete (no such function, or set by
    // a pre-render that failed) is an imbalance of the pre-render.
    bool preRenderDataDeleted = false;

    // The first non-zero error of the two commands, else 0.
    PF_Err err() const;
    // Imbalances of both commands, each prefixed with the command's name.
    std::vector<std::string> imbalances() const;
    // The injected failure of either command.
    std::optional<HostCall> injected() const;
    // Whether either command let an exception out.
    bool exceptionEscaped() const;
};

class Host {
public:
    explicit Host(PF_FilterProc entry, HostOptions options = {});
    // Also reads the library's registration resource, when it has one, for
    // the comparison in globalSetup() (a resource that does not parse is a
    // warning, not an error).
    explicit Host(const PluginLibrary& library, HostOptions options = {});
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host();  // disposes of every handle still held, frees everything

    // ---- Configuration ---------------------------------------------------
    void setThreads(unsigned threads);  // 0 = hardware_concurrency
    unsigned threads() const;           // resolved, >= 1
    void setTime(A_long currentTime, A_long timeStep, A_u_long timeScale);
    // With false, in_data->pica_basicP is null (a host without the basic suite).
    void setBasicSuiteAvailable(bool available);
    // The registration resource that globalSetup() compares with; set from
    // the library by the second constructor.
    void setRegistration(const PiplInfo& pipl);
    void clearRegistration();
    const std::optional<PiplInfo>& registration() const;
    // Every warning raised so far (resource mismatch, unreadable resource).
    const std::vector<std::string>& warnings() const;

    // ---- Fault injection (see Faults.h) ------------------------------------
    void setFaultPlan(std::optional<FaultPlan> plan);
    const std::optional<FaultPlan>& faultPlan() const;  // empty once fired

    // ---- Commands ----------------------------------------------------------
    // PF_Cmd_ABOUT. `text` receives return_msg up to its NUL (raw bytes).
    CommandResult about(std::string& text);
    // PF_Cmd_GLOBAL_SETUP. Reads my_version, out_flags, out_flags2 from
    // the result's `out`; when a registration resource is known, compares
    // them with its eVER, eGLO and eGL2 and adds a warning for each mismatch.
    CommandResult globalSetup();
    // PF_Cmd_PARAMS_SETUP. Clears the parameters added before (the input
    // layer stays) and stores every add_param definition; see params().
    CommandResult paramsSetup();
    // Any other command, with zeroed params/output and a null extra; for
    // checking that unknown commands are acknowledged and change nothing.
    CommandResult sendCommand(PF_Cmd cmd);

    // One frame: smartPreRender() then, if it returned 0, smartRender() of
    // the same frame with the pre-render data; then, after a pre-render that
    // succeeded, the host hands that data to the plug-in's
    // delete_pre_render_data_func (the only way the host frees it).
    // `in` and `out` must have the same depth and size; the plug-in sees
    // them through checkout_layer_pixels (checkout id as asked in the
    // pre-render) and checkout_output. Throws refhost::Error on a mismatch.
    FrameResult renderFrame(World& in, World& out);

    // The two passes one by one, for tests of a single pass.
    // smartPreRender: `output` is the pre-render output record as the host
    // passes it in (result rectangles usually empty) and as the plug-in
    // leaves it. After a success the host takes over output.pre_render_data:
    // delete it with disposePreRenderData() (renderFrame() does); what is
    // not deleted by then is deleted before the next pre-render or when the
    // Host goes, as for a frame whose render never came. Data set without a
    // delete function, or by a pre-render that failed, is reported among
    // the result's imbalances: nothing deletes it.
    CommandResult smartPreRender(World& in, PF_PreRenderOutput& output);
    // smartRender: `preRenderData` is handed to the plug-in as
    // extra->input->pre_render_data (null allowed). Checkout ids are the
    // ones the last smartPreRender() asked for; others are refused (516).
    CommandResult smartRender(World& in, World& out, void* preRenderData);
    // What the host does with pre-render data after its frame: hands the
    // data the last successful pre-render set to the plug-in's
    // delete_pre_render_data_func, on the calling thread, whichever it is.
    // Returns whether it did; any other value is left alone.
    bool disposePreRenderData(void* preRenderData);
    // The request the plug-in passed to checkout_layer in the last
    // pre-render (the host's output_request is {0, 0, width, height}, field
    // 0, channel mask 15, preserve_rgb_of_zero_alpha 0).
    std::optional<PF_RenderRequest> lastLayerRequest() const;

    // ---- Parameters ----------------------------------------------------------
    // params()[0] is the input layer; 1.. are the added parameters in order.
    const std::vector<ParamInfo>& params() const;
    // Set the value that checkout_param hands out from now on, at any time.
    // Throws refhost::Error for an index that does not exist or has another type.
    void setColor(int index, PF_Pixel value);  // PF_Param_COLOR: u.cd.value
    void setFloat(int index, double value);    // PF_Param_FLOAT_SLIDER: u.fs_d.value
    void setPopup(int index, A_long value);    // PF_Param_POPUP: u.pd.value (1-based)
    const PF_ParamDef& paramValue(int index) const;

    // ---- Books -------------------------------------------------------------
    // The ledger and trace of the last command (or of the current CallScope).
    const Ledger& ledger() const;
    std::vector<HostCall> trace() const;

    // ---- Direct access, for tests of the host's own functions ---------------
    // While a CallScope lives, the calling thread acts as if inside a command:
    // the basic suite and the other token-less functions work, calls are
    // traced and counted (ledger and trace cleared when the scope opens),
    // and the fault plan applies to command `PF_Cmd` -1.
    class CallScope {
    public:
        explicit CallScope(Host& host);
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;
        ~CallScope();

    private:
        Host& host_;
        void* previous_;
    };
    SPBasicSuite* basicSuite();  // the host's basic suite (valid while the Host lives)
    PF_InData* inData();         // an in_data as commands receive it (effect_ref, utils, ...)
    // Makes a world known to PF_GetPixelFormat and utils->copy outside
    // renderFrame(), until forgetWorlds(). The World must outlive that.
    void exposeWorld(World& world);
    void forgetWorlds();

    struct Context;  // implementation; effect_ref points at it

private:
    CommandResult run(PF_Cmd cmd, PF_ParamDef** params, PF_LayerDef* output, void* extra);

    std::unique_ptr<Context> ctx_;
};

}  // namespace refhost

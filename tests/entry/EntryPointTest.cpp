// Nothing thrown below EntryPointFunc may reach the host: every exception
// becomes a return code.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "entry/EntryPoint.h"
#include "host/HostConstants.h"
#include "host/HostError.h"
#include "host/HostSuites.h"
#include "render/KeySettings.h"

namespace {

enum class Throw { HostError77, PfErr77, BadAlloc, Runtime };

Throw& toThrow() {
    static Throw what = Throw::PfErr77;
    return what;
}

SPErr ThrowingAcquire(const char*, int32_t, const void**) {
    switch (toThrow()) {
        case Throw::HostError77: throw kestrelumen::HostError{77};
        case Throw::PfErr77: throw static_cast<PF_Err>(77);
        case Throw::BadAlloc: throw std::bad_alloc();
        case Throw::Runtime: throw std::runtime_error("host fault");
    }
    return 0;
}

SPErr NoRelease(const char*, int32_t) { return 0; }

// Records enough for both smart commands to reach their first suite request.
struct Frame {
    Frame() {
        std::memset(&in_data, 0, sizeof in_data);
        std::memset(&out_data, 0, sizeof out_data);
        basic.AcquireSuite = &ThrowingAcquire;
        basic.ReleaseSuite = &NoRelease;
        pre.input = &pre_input;
        pre.output = &pre_output;
        pre.cb = &pre_cb;
        smart.input = &smart_input;
        smart.cb = &smart_cb;
        smart_cb.checkout_layer_pixels = [](PF_ProgPtr, A_long, PF_EffectWorld** w) -> PF_Err {
            *w = nullptr;
            return PF_Err_NONE;
        };
        smart_cb.checkout_output = [](PF_ProgPtr, PF_EffectWorld** w) -> PF_Err {
            *w = nullptr;
            return PF_Err_NONE;
        };
        smart_cb.checkin_layer_pixels = [](PF_ProgPtr, A_long) -> PF_Err { return PF_Err_NONE; };
        // The pre-render pass reads the controls before it asks for a suite.
        in_data.inter.checkout_param = [](PF_ProgPtr, PF_ParamIndex, A_long, A_long, A_u_long,
                                          PF_ParamDef*) -> PF_Err { return PF_Err_NONE; };
        smart_input.pre_render_data = &settings;
    }
    PF_Err run(PF_Cmd cmd) {
        void* extra =
            cmd == PF_Cmd_SMART_PRE_RENDER ? static_cast<void*>(&pre) : static_cast<void*>(&smart);
        return EntryPointFunc(cmd, &in_data, &out_data, nullptr, nullptr, extra);
    }

    PF_InData in_data;
    PF_OutData out_data;
    SPBasicSuite basic{};
    PF_PreRenderInput pre_input{};
    PF_PreRenderOutput pre_output{};
    PF_PreRenderCallbacks pre_cb{};
    PF_PreRenderExtra pre{};
    PF_SmartRenderInput smart_input{};
    PF_SmartRenderCallbacks smart_cb{};
    PF_SmartRenderExtra smart{};
    kestrelumen::KeySettings settings{};
};

TEST(EntryPoint, MissingBasicSuiteIsReturnedAs516) {
    for (PF_Cmd cmd : {PF_Cmd_SMART_PRE_RENDER, PF_Cmd_SMART_RENDER}) {
        SCOPED_TRACE(cmd);
        Frame frame;
        frame.in_data.pica_basicP = nullptr;
        EXPECT_EQ(frame.run(cmd), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(frame.pre_output.pre_render_data, nullptr);
    }
}

TEST(EntryPoint, ExceptionsFromBelowBecomeReturnCodes) {
    const struct {
        Throw what;
        PF_Err code;
    } rows[] = {
        {Throw::HostError77, 77},                          // a host code travels unchanged
        {Throw::PfErr77, PF_Err_INTERNAL_STRUCT_DAMAGED},  // a stray integer is no host code
        {Throw::BadAlloc, PF_Err_OUT_OF_MEMORY},
        {Throw::Runtime, PF_Err_INTERNAL_STRUCT_DAMAGED},
    };
    for (const auto& row : rows) {
        for (PF_Cmd cmd : {PF_Cmd_SMART_PRE_RENDER, PF_Cmd_SMART_RENDER}) {
            SCOPED_TRACE(cmd);
            toThrow() = row.what;
            Frame frame;
            frame.in_data.pica_basicP = &frame.basic;
            EXPECT_EQ(frame.run(cmd), row.code);
            // The record allocated before the throw is not handed over (nor leaked).
            EXPECT_EQ(frame.pre_output.pre_render_data, nullptr);
            EXPECT_EQ(frame.pre_output.delete_pre_render_data_func, nullptr);
        }
    }
}

}  // namespace

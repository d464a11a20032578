// Each injected failure must look to a plug-in exactly like the failure it
// stands for, fire once at the call it names, and leave the host's books
// straight; otherwise a sweep built on it proves nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/refhost/Probe.h"

namespace refhosttest {
namespace {

using refhost::CallPoint;
using refhost::Depth;
using refhost::FaultMode;
using refhost::FaultPlan;
using refhost::FrameResult;
using refhost::Host;
using refhost::World;

constexpr PF_Err INJECTED = PF_Interrupt_CANCEL;
constexpr PF_PixelFormat UNTOUCHED_FORMAT = 0x12345678;

// What the stand-in plug-in saw from each host call of its frame.
struct Seen {
    SPErr acquireErr = -2;
    bool suiteNull = false;
    bool handleNull = false;
    bool lockNull = false;
    PF_Err paramErr = -2;
    PF_ParamType paramType = -2;
    PF_Err colorErr = -2;
    float colorRed = -1;
    PF_Err layerErr = -2;
    PF_Err pixelsErr = -2;
    bool pixelsUntouched = false, pixelsNull = false;
    PF_Err outputErr = -2;
    bool outputUntouched = false, outputNull = false;
    PF_Err formatErr = -2;
    PF_PixelFormat format = 0;
    PF_Err iterateErr = -2;
    int kernelCalls = 0;
    PF_Err copyErr = -2;
    bool copied = false;
    PF_Err checkinErr = -2;
    SPErr releaseErr = -2;
};

PF_Err countKernel(void* refcon, A_long, A_long, PF_Pixel*, PF_Pixel* out) {
    ++*static_cast<int*>(refcon);
    out->alpha = 1;
    return PF_Err_NONE;
}

// A frame that makes every kind of host call once, copes with each one
// failing, and gives back all it took.
PF_Err everyCall(const ProbeCall& c, Seen& s) {
    const SPBasicSuite* basic = c.in->pica_basicP;
    if (c.cmd == PF_Cmd_SMART_PRE_RENDER) {
        auto* e = static_cast<PF_PreRenderExtra*>(c.extra);
        const void* suite = nullptr;
        s.acquireErr = basic->AcquireSuite(kPFHandleSuite, 2, &suite);
        s.suiteNull = suite == nullptr;
        if (suite) {
            const auto* h = static_cast<const PF_HandleSuite1*>(suite);
            PF_Handle handle = h->host_new_handle(36);
            s.handleNull = handle == nullptr;
            if (handle) {
                void* p = h->host_lock_handle(handle);
                s.lockNull = p == nullptr;
                if (p) h->host_unlock_handle(handle);
                h->host_dispose_handle(handle);
            }
            s.releaseErr = basic->ReleaseSuite(kPFHandleSuite, 2);
        }
        PF_ParamDef layer{};
        layer.param_type = -2;
        s.paramErr = c.in->inter.checkout_param(c.in->effect_ref, 0, c.in->current_time,
                                                c.in->time_step, c.in->time_scale, &layer);
        s.paramType = layer.param_type;
        if (basic->AcquireSuite(kPFColorParamSuite, 1, &suite) == 0 && suite) {
            PF_ParamDef color{};
            color.param_type = PF_Param_COLOR;
            color.u.cd.value = PF_Pixel{255, 255, 0, 0};
            PF_PixelFloat f{-1, -1, -1, -1};
            s.colorErr = static_cast<const PF_ColorParamSuite1*>(suite)
                             ->PF_GetFloatingPointColorFromColorDef(c.in->effect_ref, &color, &f);
            s.colorRed = f.red;
            basic->ReleaseSuite(kPFColorParamSuite, 1);
        }
        PF_CheckoutResult result{};
        s.layerErr =
            e->cb->checkout_layer(c.in->effect_ref, 0, 0, &e->input->output_request,
                                  c.in->current_time, c.in->time_step, c.in->time_scale, &result);
        return PF_Err_NONE;  // the render runs whatever failed here
    }
    if (c.cmd != PF_Cmd_SMART_RENDER) return PF_Err_NONE;
    auto* e = static_cast<PF_SmartRenderExtra*>(c.extra);
    PF_EffectWorld sentinel{};
    PF_EffectWorld* in = &sentinel;
    PF_EffectWorld* out = &sentinel;
    s.pixelsErr = e->cb->checkout_layer_pixels(c.in->effect_ref, 0, &in);
    s.pixelsUntouched = in == &sentinel;
    s.pixelsNull = in == nullptr;
    s.outputErr = e->cb->checkout_output(c.in->effect_ref, &out);
    s.outputUntouched = out == &sentinel;
    s.outputNull = out == nullptr;
    const bool worlds = s.pixelsErr == 0 && s.outputErr == 0 && in && out;
    const void* suite = nullptr;
    if (basic->AcquireSuite(kPFWorldSuite, 2, &suite) == 0 && suite) {
        s.format = UNTOUCHED_FORMAT;
        s.formatErr = static_cast<const PF_WorldSuite2*>(suite)->PF_GetPixelFormat(in, &s.format);
        basic->ReleaseSuite(kPFWorldSuite, 2);
    }
    if (worlds && basic->AcquireSuite(kPFIterate8Suite, 1, &suite) == 0 && suite) {
        s.iterateErr = static_cast<const PF_Iterate8Suite1*>(suite)->iterate(
            c.in, 0, out->height, in, nullptr, &s.kernelCalls, countKernel, out);
        basic->ReleaseSuite(kPFIterate8Suite, 1);
    }
    if (worlds) {
        s.copyErr = c.in->utils->copy(c.in->effect_ref, in, out, nullptr, nullptr);
        s.copied = reinterpret_cast<PF_Pixel*>(out->data)->red == 200;
    }
    s.checkinErr = e->cb->checkin_layer_pixels(c.in->effect_ref, 0);
    return PF_Err_NONE;
}

struct Row {
    CallPoint point;
    FaultMode mode;
    std::function<void(const Seen&)> expect;
};

TEST(FaultPlan, EachFailureLooksToThePlugInLikeTheRealOne) {
    const Row rows[] = {
        {CallPoint::AcquireSuite, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.acquireErr, INJECTED);
             EXPECT_TRUE(s.suiteNull);
         }},
        {CallPoint::AcquireSuite, FaultMode::NullResult,
         [](const Seen& s) {
             EXPECT_EQ(s.acquireErr, 0);
             EXPECT_TRUE(s.suiteNull);
         }},
        {CallPoint::ReleaseSuite, FaultMode::Error,
         [](const Seen& s) { EXPECT_EQ(s.releaseErr, INJECTED); }},
        {CallPoint::HandleNew, FaultMode::NullResult,
         [](const Seen& s) { EXPECT_TRUE(s.handleNull); }},
        {CallPoint::HandleLock, FaultMode::NullResult,
         [](const Seen& s) { EXPECT_TRUE(s.lockNull); }},
        {CallPoint::CheckoutParam, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.paramErr, INJECTED);
             EXPECT_EQ(s.paramType, -2) << "a failed checkout must not fill the record";
         }},
        {CallPoint::ColorFromColorDef, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.colorErr, INJECTED);
             EXPECT_EQ(s.colorRed, -1.0f);
         }},
        {CallPoint::CheckoutLayer, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.layerErr, INJECTED);
             // Nothing was asked for, so nothing can be fetched.
             EXPECT_EQ(s.pixelsErr, PF_Err_BAD_CALLBACK_PARAM);
         }},
        {CallPoint::CheckoutLayerPixels, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.pixelsErr, INJECTED);
             EXPECT_TRUE(s.pixelsUntouched);
             EXPECT_EQ(s.kernelCalls, 0);
         }},
        {CallPoint::CheckoutLayerPixels, FaultMode::NullResult,
         [](const Seen& s) {
             EXPECT_EQ(s.pixelsErr, 0);
             EXPECT_TRUE(s.pixelsNull);
             EXPECT_EQ(s.formatErr, PF_Err_BAD_CALLBACK_PARAM) << "format of a null world";
         }},
        {CallPoint::CheckoutOutput, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.outputErr, INJECTED);
             EXPECT_TRUE(s.outputUntouched);
         }},
        {CallPoint::CheckoutOutput, FaultMode::NullResult,
         [](const Seen& s) {
             EXPECT_EQ(s.outputErr, 0);
             EXPECT_TRUE(s.outputNull);
         }},
        {CallPoint::WorldGetPixelFormat, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.formatErr, INJECTED);
             EXPECT_EQ(s.format, UNTOUCHED_FORMAT);
         }},
        {CallPoint::WorldGetPixelFormat, FaultMode::BadFormat,
         [](const Seen& s) {
             EXPECT_EQ(s.formatErr, 0);
             EXPECT_EQ(s.format, PF_PixelFormat_INVALID);
         }},
        {CallPoint::Iterate, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.iterateErr, INJECTED);
             EXPECT_EQ(s.kernelCalls, 0);
         }},
        {CallPoint::UtilsCopy, FaultMode::Error,
         [](const Seen& s) {
             EXPECT_EQ(s.copyErr, INJECTED);
             EXPECT_FALSE(s.copied);
         }},
        {CallPoint::CheckinLayerPixels, FaultMode::Error,
         [](const Seen& s) { EXPECT_EQ(s.checkinErr, INJECTED); }},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(refhost::toString(row.point)) + " / " +
                     refhost::toString(row.mode));
        Host host(ProbeEntry);
        Seen seen;
        Probe probe([&](const ProbeCall& c) { return everyCall(c, seen); });
        World in(Depth::U8, 3, 2, 4), out(Depth::U8, 3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) in.at<PF_Pixel>(x, y) = PF_Pixel{255, 200, 100, 50};

        const FrameResult clean = host.renderFrame(in, out);
        ASSERT_TRUE(clean.render.has_value());
        ASSERT_TRUE(clean.imbalances().empty());
        ASSERT_EQ(seen.kernelCalls, 6);
        ASSERT_TRUE(seen.copied);

        // The first call of the row's kind, in whichever pass makes it.
        FaultPlan plan;
        plan.mode = row.mode;
        bool found = false;
        for (const refhost::CommandResult* pass : {&clean.preRender, &*clean.render}) {
            for (std::size_t i = 0; i < pass->calls.size() && !found; ++i)
                if (pass->calls[i].point == row.point) {
                    plan.command = pass->cmd;
                    plan.callIndex = i;
                    found = true;
                }
        }
        ASSERT_TRUE(found);
        host.setFaultPlan(plan);
        seen = Seen{};
        out = World(Depth::U8, 3, 2);
        const FrameResult faulty = host.renderFrame(in, out);
        ASSERT_TRUE(faulty.injected().has_value());
        EXPECT_EQ(faulty.injected()->point, row.point);
        EXPECT_FALSE(host.faultPlan().has_value()) << "a plan fires once";
        row.expect(seen);
        // Closing calls that "fail" still close: the books stay straight.
        EXPECT_TRUE(faulty.imbalances().empty()) << faulty.imbalances()[0];
    }
}

TEST(FaultPlan, FiresOnceOnlyInItsCommandAndOnlyInAModeTheCallHas) {
    Host host(ProbeEntry);
    Seen seen;
    Probe probe([&](const ProbeCall& c) { return everyCall(c, seen); });
    World in(Depth::U8, 2, 2), out(Depth::U8, 2, 2);

    // Call 0 of a render is its checkout; aimed at parameter setup, nothing fires.
    host.setFaultPlan(FaultPlan{PF_Cmd_PARAMS_SETUP, 0, FaultMode::Error, INJECTED});
    EXPECT_FALSE(host.renderFrame(in, out).injected().has_value());
    EXPECT_TRUE(host.faultPlan().has_value());

    host.setFaultPlan(FaultPlan{PF_Cmd_SMART_RENDER, 0, FaultMode::Error, INJECTED});
    EXPECT_TRUE(host.renderFrame(in, out).injected().has_value());
    EXPECT_EQ(seen.pixelsErr, INJECTED);
    EXPECT_EQ(host.renderFrame(in, out).err(), PF_Err_NONE);
    EXPECT_EQ(seen.pixelsErr, PF_Err_NONE) << "the next frame is clean again";

    // A lock cannot fail with an error code: the plan is spent, nothing fails.
    host.setFaultPlan(FaultPlan{PF_Cmd_SMART_PRE_RENDER, 2, FaultMode::Error, INJECTED});
    const FrameResult r = host.renderFrame(in, out);
    EXPECT_FALSE(r.injected().has_value());
    EXPECT_FALSE(seen.lockNull);
    EXPECT_FALSE(host.faultPlan().has_value());
}

TEST(FaultPlan, ModesOfEachCallPoint) {
    // The calls that cannot fail are exactly those with no way to report it.
    for (CallPoint p : {CallPoint::HandleUnlock, CallPoint::HandleDispose, CallPoint::AnsiSprintf,
                        CallPoint::AnsiStrcpy, CallPoint::HandleGetSize})
        EXPECT_TRUE(refhost::faultModesOf(p).empty()) << refhost::toString(p);
    EXPECT_EQ(refhost::faultModesOf(CallPoint::HandleNew),
              std::vector<FaultMode>{FaultMode::NullResult});
    EXPECT_EQ(refhost::faultModesOf(CallPoint::WorldGetPixelFormat),
              (std::vector<FaultMode>{FaultMode::Error, FaultMode::BadFormat}));
}

}  // namespace
}  // namespace refhosttest

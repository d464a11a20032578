// The two passes of a frame through the loaded library: what each failure
// leaves behind, what the settings record holds, and the keyed pixels
// compared with the kernels called directly.
#include <cmath>
#include <cstring>
#include <string>

#include "render/KeyKernels.h"
#include "tests/plugin/PluginFixture.h"

namespace plugintest {
namespace {

using refhost::FaultPlan;
using refhost::FrameResult;

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

bool sameRect(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

FaultPlan planFor(PF_Cmd cmd, std::size_t index, FaultMode mode) {
    FaultPlan plan;
    plan.command = cmd;
    plan.callIndex = index;
    plan.mode = mode;
    return plan;
}

class FramePasses : public PluginTest {
protected:
    FrameResult cleanFrame(Depth depth = Depth::U8) {
        World in(depth, WIDTH, HEIGHT), out(depth, WIDTH, HEIGHT);
        fill(in, 1);
        return host_.renderFrame(in, out);
    }
};

// ---- Pre-render ------------------------------------------------------------

TEST_F(FramePasses, PreRenderFailuresHandOverNoSettingsAndStopTheReading) {
    const FrameResult clean = cleanFrame();
    const auto& calls = clean.preRender.calls;
    ASSERT_EQ(count(calls, CallPoint::CheckoutParam), 6u) << traceText(calls);
    const struct {
        const char* what;
        std::size_t index;
        std::size_t param_checkouts;  // made in all, the failing one included
        bool input_checkout;
    } rows[] = {
        {"parameter 1", indexOf(calls, CallPoint::CheckoutParam, 0), 1, false},
        {"parameter 2", indexOf(calls, CallPoint::CheckoutParam, 1), 2, false},
        {"parameter 6", indexOf(calls, CallPoint::CheckoutParam, 5), 6, false},
        {"colour conversion", indexOf(calls, CallPoint::ColorFromColorDef), 6, false},
        {"input checkout", indexOf(calls, CallPoint::CheckoutLayer), 6, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        World in(Depth::U8, WIDTH, HEIGHT), out(Depth::U8, WIDTH, HEIGHT);
        const FaultPlan plan = planFor(PF_Cmd_SMART_PRE_RENDER, row.index, FaultMode::Error);
        host_.setFaultPlan(plan);
        const FrameResult frame = host_.renderFrame(in, out);

        EXPECT_EQ(frame.err(), plan.error);
        // No render follows a failed pre-render, so nothing is handed over.
        EXPECT_FALSE(frame.hadPreRenderData);
        EXPECT_EQ(count(frame.preRender.calls, CallPoint::CheckoutParam), row.param_checkouts);
        EXPECT_EQ(has(frame.preRender.calls, CallPoint::CheckoutLayer), row.input_checkout);
        // The host passed the rectangles in empty; a failed pass leaves them so.
        EXPECT_TRUE(sameRect(frame.resultRect, PF_LRect{0, 0, 0, 0}));
        EXPECT_TRUE(sameRect(frame.maxResultRect, PF_LRect{0, 0, 0, 0}));
        EXPECT_TRUE(frame.imbalances().empty()) << lines(frame.imbalances());
    }
}

TEST_F(FramePasses, PreRenderReportsTheInputsAreaAsItsOwn) {
    const FrameResult frame = cleanFrame();
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    EXPECT_TRUE(sameRect(frame.resultRect, PF_LRect{0, 0, WIDTH, HEIGHT}));
    EXPECT_TRUE(sameRect(frame.maxResultRect, PF_LRect{0, 0, WIDTH, HEIGHT}));
}

TEST_F(FramePasses, SettingsRecordHoldsTheControlsNarrowedToFloats) {
    const struct {
        double sliders[4];
        A_long view;
    } rows[] = {
        {{0.1, 0.2, 0.3, 0.4}, 1},
        {{0.0, 1.0, 0.5, 0.0}, 4},
        {{1.0 / 3.0, 0.7, 0.999, 0.05}, 2},
    };
    for (const auto& row : rows) {
        for (int i = 0; i < 4; ++i) host_.setFloat(2 + i, row.sliders[i]);
        host_.setPopup(6, row.view);
        World in(Depth::F32, WIDTH, HEIGHT);
        PF_PreRenderOutput pre{};
        ASSERT_EQ(host_.smartPreRender(in, pre).err, PF_Err_NONE);
        ASSERT_NE(pre.pre_render_data, nullptr);
        const kestrelumen::KeySettings s = readSettings(pre.pre_render_data);
        host_.disposePreRenderData(pre.pre_render_data);

        EXPECT_EQ(bits(s.choke_clear), bits(static_cast<float>(row.sliders[0])));
        EXPECT_EQ(bits(s.choke_opaque), bits(static_cast<float>(row.sliders[1])));
        EXPECT_EQ(bits(s.spill_amount), bits(static_cast<float>(row.sliders[2])));
        EXPECT_EQ(bits(s.spill_size), bits(static_cast<float>(row.sliders[3])));
        EXPECT_EQ(s.view, row.view);
    }
    EXPECT_EQ(bits(static_cast<float>(0.1)), 0x3DCCCCCDu);
}

// ---- Render ----------------------------------------------------------------

TEST_F(FramePasses, RenderWithoutSettingsCopiesTheSourceAndReports512) {
    const struct {
        const char* what;
        bool fail_input_checkout;
        bool copied;
    } rows[] = {
        {"worlds fetched", false, true},
        {"input checkout failed", true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        World in(Depth::U16, WIDTH, HEIGHT), out(Depth::U16, WIDTH, HEIGHT),
            untouched(Depth::U16, WIDTH, HEIGHT);
        fill(in, 5);
        fill(out, 6);
        fill(untouched, 6);
        // A pre-render first, so that the host knows the input's checkout id.
        PF_PreRenderOutput pre{};
        ASSERT_EQ(host_.smartPreRender(in, pre).err, PF_Err_NONE);
        host_.disposePreRenderData(pre.pre_render_data);
        if (row.fail_input_checkout) {
            host_.setFaultPlan(planFor(PF_Cmd_SMART_RENDER, 0, FaultMode::Error));
        }
        const refhost::CommandResult render = host_.smartRender(in, out, nullptr);

        EXPECT_EQ(render.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_TRUE(out.samePixels(row.copied ? in : untouched));
        EXPECT_TRUE(has(render.calls, CallPoint::CheckinLayerPixels));
        EXPECT_FALSE(has(render.calls, CallPoint::AcquireSuite));
        EXPECT_TRUE(render.imbalances.empty()) << lines(render.imbalances);
    }
}

TEST_F(FramePasses, RenderInputCheckoutFailureStillChecksIn) {
    World in(Depth::U8, WIDTH, HEIGHT), out(Depth::U8, WIDTH, HEIGHT);
    const FaultPlan plan = planFor(PF_Cmd_SMART_RENDER, 0, FaultMode::Error);
    host_.setFaultPlan(plan);
    const FrameResult frame = host_.renderFrame(in, out);
    ASSERT_TRUE(frame.render.has_value());
    EXPECT_EQ(frame.err(), plan.error);
    EXPECT_FALSE(has(frame.render->calls, CallPoint::CheckoutOutput));
    EXPECT_TRUE(has(frame.render->calls, CallPoint::CheckinLayerPixels));
    EXPECT_TRUE(frame.imbalances().empty()) << lines(frame.imbalances());
}

TEST_F(FramePasses, RefusedWorldSuiteIsShownAndNotReleased) {
    const FrameResult clean = cleanFrame();
    ASSERT_TRUE(clean.render.has_value());
    const std::size_t acquire =
        indexOf(clean.render->calls, CallPoint::AcquireSuite, 0, "PF World Suite");
    const FaultMode modes[] = {FaultMode::Error, FaultMode::NullResult};
    for (FaultMode mode : modes) {
        SCOPED_TRACE(refhost::toString(mode));
        World in(Depth::U8, WIDTH, HEIGHT), out(Depth::U8, WIDTH, HEIGHT);
        host_.setFaultPlan(planFor(PF_Cmd_SMART_RENDER, acquire, mode));
        const FrameResult frame = host_.renderFrame(in, out);
        ASSERT_TRUE(frame.render.has_value());

        EXPECT_EQ(frame.err(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_TRUE(frame.render->displaysError());
        EXPECT_EQ(frame.render->message(), "Couldn't load suite.");
        // Giving back a suite the host refused would unbalance its count.
        EXPECT_FALSE(has(frame.render->calls, CallPoint::ReleaseSuite, "PF World Suite"));
        EXPECT_FALSE(has(frame.render->calls, CallPoint::Iterate));
        EXPECT_TRUE(has(frame.render->calls, CallPoint::CheckinLayerPixels));
        EXPECT_TRUE(frame.imbalances().empty()) << lines(frame.imbalances());
    }
}

TEST_F(FramePasses, EachDepthRunsItsOwnIterateSuiteAndTheSourceViewNone) {
    for (Depth depth : DEPTHS) {
        for (int view : VIEWS) {
            SCOPED_TRACE(std::string(refhost::depthName(depth)) + " view " + std::to_string(view));
            host_.setPopup(6, view);
            World in(depth, WIDTH, HEIGHT), out(depth, WIDTH, HEIGHT);
            fill(in, 11);
            const FrameResult frame = host_.renderFrame(in, out);
            ASSERT_EQ(frame.err(), PF_Err_NONE);
            ASSERT_TRUE(frame.render.has_value());
            const auto& calls = frame.render->calls;

            const bool source = view == kestrelumen::VIEW_SOURCE;
            EXPECT_EQ(has(calls, CallPoint::UtilsCopy), source);
            EXPECT_EQ(has(calls, CallPoint::Iterate), !source);
            for (Depth other : DEPTHS) {
                EXPECT_EQ(has(calls, CallPoint::AcquireSuite, iterateSuiteOf(other)),
                          !source && other == depth)
                    << iterateSuiteOf(other) << traceText(calls);
            }
            if (source) {
                EXPECT_TRUE(out.samePixels(in));
            }
            // The settings are the plug-in's own record: no host handle in either pass.
            EXPECT_FALSE(has(frame.preRender.calls, CallPoint::AcquireSuite, "PF Handle Suite"));
            EXPECT_FALSE(has(calls, CallPoint::AcquireSuite, "PF Handle Suite"));
            EXPECT_TRUE(frame.imbalances().empty()) << lines(frame.imbalances());
        }
    }
}

TEST_F(FramePasses, UnknownPixelFormatIsRefusedExceptForTheSourceView) {
    for (int view : VIEWS) {
        SCOPED_TRACE(view);
        host_.setPopup(6, view);
        const FrameResult clean = cleanFrame(Depth::F32);
        ASSERT_TRUE(clean.render.has_value());
        World in(Depth::F32, WIDTH, HEIGHT), out(Depth::F32, WIDTH, HEIGHT),
            untouched(Depth::F32, WIDTH, HEIGHT);
        fill(in, 2);
        fill(out, 8);
        fill(untouched, 8);
        host_.setFaultPlan(planFor(PF_Cmd_SMART_RENDER,
                                   indexOf(clean.render->calls, CallPoint::WorldGetPixelFormat),
                                   FaultMode::BadFormat));
        const FrameResult frame = host_.renderFrame(in, out);
        const bool source = view == kestrelumen::VIEW_SOURCE;
        EXPECT_EQ(frame.err(), source ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_TRUE(out.samePixels(source ? in : untouched));
    }
}

// ---- Keyed pixels ------------------------------------------------------------

// The frame keyed through the host equals the kernel applied pixel by pixel
// to the same settings record, in every depth and view, padded rows included.
TEST_F(FramePasses, KeyedFrameEqualsTheKernelCalledDirectly) {
    for (Depth depth : DEPTHS) {
        for (int view : {2, 3, 4}) {
            SCOPED_TRACE(std::string(refhost::depthName(depth)) + " view " + std::to_string(view));
            host_.setPopup(6, view);
            World in(depth, WIDTH, HEIGHT, 8), out(depth, WIDTH, HEIGHT, 8);
            fill(in, 21);
            PF_PreRenderOutput pre{};
            ASSERT_EQ(host_.smartPreRender(in, pre).err, PF_Err_NONE);
            kestrelumen::KeySettings settings = readSettings(pre.pre_render_data);
            const refhost::CommandResult render = host_.smartRender(in, out, pre.pre_render_data);
            host_.disposePreRenderData(pre.pre_render_data);
            ASSERT_EQ(render.err, PF_Err_NONE);
            EXPECT_TRUE(out.paddingIntact());

            World expected(depth, WIDTH, HEIGHT);
            for (int y = 0; y < HEIGHT; ++y) {
                for (int x = 0; x < WIDTH; ++x) {
                    switch (depth) {
                        case Depth::U8:
                            kestrelumen::KeyPixel8(&settings, x, y, &in.at<PF_Pixel>(x, y),
                                                   &expected.at<PF_Pixel>(x, y));
                            break;
                        case Depth::U16:
                            kestrelumen::KeyPixel16(&settings, x, y, &in.at<PF_Pixel16>(x, y),
                                                    &expected.at<PF_Pixel16>(x, y));
                            break;
                        case Depth::F32:
                            kestrelumen::KeyPixelFloat(&settings, x, y, &in.at<PF_PixelFloat>(x, y),
                                                       &expected.at<PF_PixelFloat>(x, y));
                            break;
                    }
                }
            }
            EXPECT_TRUE(out.samePixels(expected));
        }
    }
}

}  // namespace
}  // namespace plugintest

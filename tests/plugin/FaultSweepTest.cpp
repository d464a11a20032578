// Every host call of a whole frame made to fail in turn, in every way it can
// fail, for every depth and view: the frame must return the documented code,
// never let an exception out, and give back everything it took.
#include <optional>
#include <string>

#include "tests/plugin/PluginFixture.h"

namespace plugintest {
namespace {

enum class Pass { PreRender, Render };

enum class Outcome {
    Code,                 // the fixed code of the row
    Injected,             // the code the failing call returned, unchanged
    NullInputFormat,      // what the format query says of a null world
    RefusedUnlessSource,  // 516, but 0 for the source view
};

struct Row {
    Pass pass;
    CallPoint point;
    FaultMode mode;
    Outcome outcome;
    PF_Err code;
};

constexpr PF_Err REFUSED = PF_Err_BAD_CALLBACK_PARAM;

// What a frame returns when one host call fails. Closing calls (releases,
// the checkin) report an error only when none was set before.
const Row ROWS[] = {
    // Suites refused: the suite cache's 516, whichever suite and pass.
    {Pass::PreRender, CallPoint::AcquireSuite, FaultMode::Error, Outcome::Code, REFUSED},
    {Pass::PreRender, CallPoint::AcquireSuite, FaultMode::NullResult, Outcome::Code, REFUSED},
    {Pass::PreRender, CallPoint::CheckoutParam, FaultMode::Error, Outcome::Injected, 0},
    {Pass::PreRender, CallPoint::ColorFromColorDef, FaultMode::Error, Outcome::Injected, 0},
    {Pass::PreRender, CallPoint::CheckoutLayer, FaultMode::Error, Outcome::Injected, 0},
    {Pass::PreRender, CallPoint::ReleaseSuite, FaultMode::Error, Outcome::Code, PF_Err_NONE},

    {Pass::Render, CallPoint::CheckoutLayerPixels, FaultMode::Error, Outcome::Injected, 0},
    {Pass::Render, CallPoint::CheckoutLayerPixels, FaultMode::NullResult, Outcome::NullInputFormat,
     0},
    {Pass::Render, CallPoint::CheckoutOutput, FaultMode::Error, Outcome::Injected, 0},
    // No output buffer: nothing to draw into, nothing wrong reported.
    {Pass::Render, CallPoint::CheckoutOutput, FaultMode::NullResult, Outcome::Code, PF_Err_NONE},
    {Pass::Render, CallPoint::AcquireSuite, FaultMode::Error, Outcome::Code, REFUSED},
    {Pass::Render, CallPoint::AcquireSuite, FaultMode::NullResult, Outcome::Code, REFUSED},
    {Pass::Render, CallPoint::WorldGetPixelFormat, FaultMode::Error, Outcome::Injected, 0},
    {Pass::Render, CallPoint::WorldGetPixelFormat, FaultMode::BadFormat,
     Outcome::RefusedUnlessSource, 0},
    {Pass::Render, CallPoint::Iterate, FaultMode::Error, Outcome::Injected, 0},
    {Pass::Render, CallPoint::UtilsCopy, FaultMode::Error, Outcome::Injected, 0},
    {Pass::Render, CallPoint::ReleaseSuite, FaultMode::Error, Outcome::Code, PF_Err_NONE},
    {Pass::Render, CallPoint::CheckinLayerPixels, FaultMode::Error, Outcome::Injected, 0},
};

const Row* rowFor(Pass pass, CallPoint point, FaultMode mode) {
    for (const Row& row : ROWS) {
        if (row.pass == pass && row.point == point && row.mode == mode) return &row;
    }
    return nullptr;
}

class FaultSweep : public PluginTest {
protected:
    // What the host's format query answers for a null world: the render
    // pass passes that answer on when the input checkout delivers nothing.
    PF_Err nullWorldFormatError() {
        refhost::Host::CallScope scope(host_);
        SPBasicSuite* basic = host_.basicSuite();
        const void* suite = nullptr;
        EXPECT_EQ(basic->AcquireSuite("PF World Suite", 2, &suite), 0);
        PF_PixelFormat format = 0;
        const PF_Err err =
            static_cast<const PF_WorldSuite2*>(suite)->PF_GetPixelFormat(nullptr, &format);
        basic->ReleaseSuite("PF World Suite", 2);
        return err;
    }

    PF_Err expected(const Row& row, int view, PF_Err injected) {
        switch (row.outcome) {
            case Outcome::Code: return row.code;
            case Outcome::Injected: return injected;
            case Outcome::NullInputFormat: return nullWorldFormatError();
            case Outcome::RefusedUnlessSource:
                return view == kestrelumen::VIEW_SOURCE ? PF_Err_NONE : REFUSED;
        }
        return -1;
    }
};

TEST_F(FaultSweep, EveryHostCallFailingGivesTheDocumentedCodeAndABalancedLedger) {
    int faults_run = 0;
    for (Depth depth : DEPTHS) {
        for (int view : VIEWS) {
            SCOPED_TRACE(std::string("depth ") + refhost::depthName(depth) + ", view " +
                         std::to_string(view));
            host_.setPopup(6, view);
            World in(depth, WIDTH, HEIGHT), out(depth, WIDTH, HEIGHT);
            fill(in, 7);

            const refhost::FrameResult clean = host_.renderFrame(in, out);
            ASSERT_EQ(clean.err(), PF_Err_NONE) << traceText(clean.preRender.calls);
            ASSERT_TRUE(clean.render.has_value());
            ASSERT_TRUE(clean.imbalances().empty()) << lines(clean.imbalances());

            const struct {
                Pass pass;
                const refhost::CommandResult* result;
            } passes[] = {{Pass::PreRender, &clean.preRender}, {Pass::Render, &*clean.render}};
            for (const auto& pass : passes) {
                const auto& calls = pass.result->calls;
                for (std::size_t i = 0; i < calls.size(); ++i) {
                    for (FaultMode mode : refhost::faultModesOf(calls[i].point)) {
                        SCOPED_TRACE(refhost::describe(calls[i]) + " #" + std::to_string(i) +
                                     " fails with " + refhost::toString(mode));
                        const Row* row = rowFor(pass.pass, calls[i].point, mode);
                        ASSERT_NE(row, nullptr) << "no documented outcome for this failure";

                        refhost::FaultPlan plan;
                        plan.command = pass.result->cmd;
                        plan.callIndex = i;
                        plan.mode = mode;
                        host_.setFaultPlan(plan);
                        fill(out, 99);
                        const refhost::FrameResult faulty = host_.renderFrame(in, out);
                        ++faults_run;

                        ASSERT_TRUE(faulty.injected().has_value()) << "the fault did not fire";
                        EXPECT_FALSE(faulty.exceptionEscaped());
                        EXPECT_EQ(faulty.err(), expected(*row, view, plan.error)) << traceText(
                            pass.pass == Pass::PreRender
                                ? faulty.preRender.calls
                                : (faulty.render ? faulty.render->calls : faulty.preRender.calls));
                        EXPECT_TRUE(faulty.imbalances().empty()) << lines(faulty.imbalances());
                    }
                }
            }
        }
    }
    // A frame has well over a dozen failure points in each pass.
    EXPECT_GT(faults_run, 12 * 20);
}

TEST_F(FaultSweep, NoBasicSuiteFailsEitherPassWith516) {
    World in(Depth::U8, WIDTH, HEIGHT), out(Depth::U8, WIDTH, HEIGHT);
    fill(in, 3);

    host_.setBasicSuiteAvailable(false);
    const refhost::FrameResult frame = host_.renderFrame(in, out);
    EXPECT_EQ(frame.err(), REFUSED);
    EXPECT_FALSE(frame.exceptionEscaped());
    EXPECT_FALSE(frame.hadPreRenderData);
    EXPECT_TRUE(frame.imbalances().empty()) << lines(frame.imbalances());

    // The render pass on its own, with settings from a pre-render that had one.
    host_.setBasicSuiteAvailable(true);
    PF_PreRenderOutput pre{};
    ASSERT_EQ(host_.smartPreRender(in, pre).err, PF_Err_NONE);
    host_.setBasicSuiteAvailable(false);
    const refhost::CommandResult render = host_.smartRender(in, out, pre.pre_render_data);
    EXPECT_EQ(render.err, REFUSED);
    EXPECT_FALSE(render.exceptionEscaped);
    EXPECT_TRUE(render.calls.empty()) << traceText(render.calls);
    host_.setBasicSuiteAvailable(true);
    host_.disposePreRenderData(pre.pre_render_data);
}

}  // namespace
}  // namespace plugintest

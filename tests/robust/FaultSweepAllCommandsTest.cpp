// Every command the effect handles, with every host call it makes failing in
// turn, in every way that call can fail and with several error codes: the
// command must return the documented code, never let an exception out, give
// back everything it took, say only the documented message, and leave the
// images as documented: the input untouched, the output either the clean
// frame's output (when the drawing call ran) or not written at all, and no
// row padding touched.
//
// The failure points are taken from the host's own trace of a clean run, so
// a host call added to the effect is walked without a change here; a call
// that can fail in a way this file gives no outcome for fails the test until
// its documented outcome is written down below.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "refhost/RefHost.h"

namespace robusttest {
namespace {

using refhost::CallPoint;
using refhost::CommandResult;
using refhost::Depth;
using refhost::FaultMode;
using refhost::FaultPlan;
using refhost::FrameResult;
using refhost::HostCall;
using refhost::World;

constexpr PF_Err REFUSED = PF_Err_BAD_CALLBACK_PARAM;
constexpr char WORLD_SUITE_MESSAGE[] = "Couldn't load suite.";

// Error-mode failures are injected with each of these: the user's cancel
// (a code the effect never makes itself), out of memory, and a code outside
// the effect's vocabulary altogether.
constexpr PF_Err ERROR_CODES[] = {PF_Interrupt_CANCEL, PF_Err_OUT_OF_MEMORY, -7};

constexpr Depth DEPTHS[] = {Depth::U8, Depth::U16, Depth::F32};
constexpr int VIEWS[] = {1, 2, 3, 4};
// Four rows, so that the host's iterate really runs on both of its threads.
constexpr int WIDTH = 6;
constexpr int HEIGHT = 4;
// Padding after every row; a multiple of every channel size.
constexpr int PADDING = 16;

std::string traceText(const std::vector<HostCall>& calls) {
    std::string out;
    for (std::size_t i = 0; i < calls.size(); ++i)
        out += "\n  " + std::to_string(i) + ": " + refhost::describe(calls[i]);
    return out;
}

std::string lines(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items) out += "\n  " + s;
    return out;
}

// Every byte of every pixel from a seeded generator: any bit pattern, NaNs
// and infinities included for float, codes above white for 16 bits.
void scramble(World& w, uint32_t seed) {
    uint32_t s = seed * 2654435761u + 0x9E3779B9u;
    for (int y = 0; y < w.height(); ++y) {
        std::uint8_t* row = w.rowBytes(y);
        for (std::size_t i = 0; i < static_cast<std::size_t>(w.width()) * w.pixelSize(); ++i) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            row[i] = static_cast<std::uint8_t>(s >> 7);
        }
    }
}

const char* commandName(PF_Cmd cmd) {
    switch (cmd) {
        case PF_Cmd_ABOUT: return "About";
        case PF_Cmd_GLOBAL_SETUP: return "GlobalSetup";
        case PF_Cmd_PARAMS_SETUP: return "ParamsSetup";
        case PF_Cmd_SMART_PRE_RENDER: return "SmartPreRender";
        case PF_Cmd_SMART_RENDER: return "SmartRender";
        default: return "?";
    }
}

// The ways one trace entry is failed: each mode, and each error code for
// the Error mode.
struct Way {
    FaultMode mode;
    PF_Err code;
};

std::vector<Way> waysToFail(CallPoint point) {
    std::vector<Way> ways;
    for (FaultMode mode : refhost::faultModesOf(point)) {
        if (mode == FaultMode::Error) {
            for (PF_Err code : ERROR_CODES) ways.push_back({mode, code});
        } else {
            ways.push_back({mode, PF_Interrupt_CANCEL});
        }
    }
    return ways;
}

bool drew(const std::optional<CommandResult>& render) {
    if (!render) return false;
    for (std::size_t i = 0; i < render->calls.size(); ++i) {
        const CallPoint p = render->calls[i].point;
        const bool failed = render->injected && render->injectedIndex == i;
        if ((p == CallPoint::Iterate || p == CallPoint::UtilsCopy) && !failed) return true;
    }
    return false;
}

// What the documentation of the effect says a frame gives when the call
// `call` of pass `cmd` fails in the way `way`.
struct FrameOutcome {
    bool documented = true;
    PF_Err err = PF_Err_NONE;
    std::string message;  // what the render pass asks the host to show
};

class FaultSweepAllCommands : public ::testing::Test {
protected:
    FaultSweepAllCommands()
        : library_(refhost::PluginLibrary::load(KESTRELUMEN_PLUGIN_PATH)),
          host_(library_, refhost::HostOptions{2}) {}

    void setUpEffect() {
        ASSERT_EQ(host_.globalSetup().err, PF_Err_NONE);
        ASSERT_EQ(host_.paramsSetup().err, PF_Err_NONE);
        ASSERT_EQ(host_.params().size(), 7u);
        host_.setColor(1, PF_Pixel{255, 30, 210, 50});
        host_.setFloat(2, 0.15);
        host_.setFloat(3, 0.25);
        host_.setFloat(4, 0.6);
        host_.setFloat(5, 0.45);
    }

    // The host's own answer to a format query about a null world, which the
    // render pass passes on when the input checkout delivers nothing.
    PF_Err nullWorldFormatError() {
        refhost::Host::CallScope scope(host_);
        SPBasicSuite* basic = host_.basicSuite();
        const void* suite = nullptr;
        EXPECT_EQ(basic->AcquireSuite("PF World Suite", 2, &suite), 0);
        if (suite == nullptr) return -1;
        PF_PixelFormat format = 0;
        const PF_Err err =
            static_cast<const PF_WorldSuite2*>(suite)->PF_GetPixelFormat(nullptr, &format);
        basic->ReleaseSuite("PF World Suite", 2);
        return err;
    }

    FrameOutcome frameOutcome(PF_Cmd cmd, const HostCall& call, Way way, int view) {
        FrameOutcome o;
        const bool error = way.mode == FaultMode::Error;
        const bool null = way.mode == FaultMode::NullResult;
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            switch (call.point) {
                case CallPoint::AcquireSuite: o.err = REFUSED; return o;
                case CallPoint::ReleaseSuite: o.err = PF_Err_NONE; return o;
                case CallPoint::CheckoutParam:
                case CallPoint::ColorFromColorDef:
                case CallPoint::CheckoutLayer:
                    if (error) {
                        o.err = way.code;
                        return o;
                    }
                    break;
                default: break;
            }
        } else if (cmd == PF_Cmd_SMART_RENDER) {
            switch (call.point) {
                case CallPoint::AcquireSuite:
                    o.err = REFUSED;
                    // Only the world suite is reported to the user; the
                    // suite cache's refusals carry no message.
                    if (call.detail.find("PF World Suite") != std::string::npos)
                        o.message = WORLD_SUITE_MESSAGE;
                    return o;
                case CallPoint::ReleaseSuite: o.err = PF_Err_NONE; return o;
                case CallPoint::CheckoutLayerPixels:
                    if (error) {
                        o.err = way.code;
                        return o;
                    }
                    if (null) {
                        o.err = nullWorldFormatError();
                        return o;
                    }
                    break;
                case CallPoint::CheckoutOutput:
                    if (error) {
                        o.err = way.code;
                        return o;
                    }
                    if (null) {
                        o.err = PF_Err_NONE;
                        return o;
                    }  // nothing to draw into
                    break;
                case CallPoint::WorldGetPixelFormat:
                    if (error) {
                        o.err = way.code;
                        return o;
                    }
                    if (way.mode == FaultMode::BadFormat) {
                        o.err = view == 1 ? PF_Err_NONE : REFUSED;
                        return o;
                    }
                    break;
                case CallPoint::Iterate:
                case CallPoint::UtilsCopy:
                case CallPoint::CheckinLayerPixels:
                    if (error) {
                        o.err = way.code;
                        return o;
                    }
                    break;
                default: break;
            }
        }
        o.documented = false;
        return o;
    }

    refhost::PluginLibrary library_;
    refhost::Host host_;
};

TEST_F(FaultSweepAllCommands, EveryFailureOfEveryHostCallIsSurvivedAsDocumented) {
    std::map<std::string, int> points;  // failure points walked, by command
    int runs = 0;

    // ---- About: its text, whatever fails. ------------------------------------
    {
        std::string clean_text;
        const CommandResult clean = host_.about(clean_text);
        ASSERT_EQ(clean.err, PF_Err_NONE);
        ASSERT_EQ(clean_text.size(), 28u);
        for (std::size_t i = 0; i < clean.calls.size(); ++i) {
            for (Way way : waysToFail(clean.calls[i].point)) {
                SCOPED_TRACE("About: " + refhost::describe(clean.calls[i]) + " fails with " +
                             refhost::toString(way.mode));
                ADD_FAILURE() << "no documented outcome: About does not fail";
                static_cast<void>(way);
            }
        }
    }

    // ---- Parameter setup: the refused add_param's code, the parameters
    // before it kept, none after it, num_params not written. ------------------
    {
        const CommandResult clean = host_.paramsSetup();
        ASSERT_EQ(clean.err, PF_Err_NONE);
        ASSERT_EQ(clean.out.num_params, 7);
        for (std::size_t i = 0; i < clean.calls.size(); ++i) {
            const HostCall& call = clean.calls[i];
            for (Way way : waysToFail(call.point)) {
                SCOPED_TRACE("ParamsSetup: " + refhost::describe(call) + " #" + std::to_string(i) +
                             " fails with " + refhost::toString(way.mode) + " " +
                             std::to_string(way.code));
                ASSERT_EQ(call.point, CallPoint::AddParam) << "no documented outcome";
                std::size_t added_before = 0;
                for (std::size_t j = 0; j < i; ++j)
                    added_before += clean.calls[j].point == CallPoint::AddParam ? 1 : 0;

                host_.setFaultPlan(FaultPlan{PF_Cmd_PARAMS_SETUP, i, way.mode, way.code});
                const CommandResult r = host_.paramsSetup();
                ++runs;
                ASSERT_TRUE(r.injected.has_value()) << "the fault did not fire";
                EXPECT_FALSE(r.exceptionEscaped);
                EXPECT_EQ(r.err, way.code);
                EXPECT_EQ(r.out.num_params, 0);
                EXPECT_FALSE(r.displaysError());
                EXPECT_EQ(host_.params().size(), 1 + added_before);
                EXPECT_EQ(r.calls.size(), i + 1) << "calls after the refusal" << traceText(r.calls);
                EXPECT_TRUE(r.imbalances.empty()) << lines(r.imbalances);
            }
            points["ParamsSetup"] += static_cast<int>(refhost::faultModesOf(call.point).size());
        }
    }

    // ---- A host without the basic suite: the commands that need none
    // still succeed. ---------------------------------------------------------
    host_.setBasicSuiteAvailable(false);
    {
        std::string text;
        EXPECT_EQ(host_.about(text).err, PF_Err_NONE);
        EXPECT_EQ(text.size(), 28u);
        const CommandResult global = host_.globalSetup();
        EXPECT_EQ(global.err, PF_Err_NONE);
        EXPECT_FALSE(global.exceptionEscaped);
        const CommandResult params = host_.paramsSetup();
        EXPECT_EQ(params.err, PF_Err_NONE);
        EXPECT_EQ(params.out.num_params, 7);
    }
    host_.setBasicSuiteAvailable(true);

    // ---- Global setup makes no host call; a failure-free command must
    // still say so here, so a call added to it is walked. ---------------------
    {
        const CommandResult clean = host_.globalSetup();
        ASSERT_EQ(clean.err, PF_Err_NONE);
        for (const HostCall& call : clean.calls)
            EXPECT_TRUE(waysToFail(call.point).empty())
                << "no documented outcome for GlobalSetup: " << refhost::describe(call);
    }

    // ---- Frames: pre-render then render, every depth and view. --------------
    setUpEffect();
    for (Depth depth : DEPTHS) {
        for (int view : VIEWS) {
            const std::string where = std::string("depth ") + refhost::depthName(depth) +
                                      ", view " + std::to_string(view);
            SCOPED_TRACE(where);
            host_.setPopup(6, view);
            World in(depth, WIDTH, HEIGHT, PADDING), out(depth, WIDTH, HEIGHT, PADDING);
            World in_copy(depth, WIDTH, HEIGHT), sentinel(depth, WIDTH, HEIGHT),
                clean_out(depth, WIDTH, HEIGHT);
            scramble(in, 11u + static_cast<uint32_t>(view));
            scramble(in_copy, 11u + static_cast<uint32_t>(view));
            scramble(sentinel, 97u);

            auto resetOut = [&] {
                for (int y = 0; y < HEIGHT; ++y)
                    std::memcpy(out.rowBytes(y), sentinel.rowBytes(y), WIDTH * out.pixelSize());
            };
            resetOut();
            const FrameResult clean = host_.renderFrame(in, out);
            ASSERT_EQ(clean.err(), PF_Err_NONE) << traceText(clean.preRender.calls);
            ASSERT_TRUE(clean.render.has_value());
            ASSERT_TRUE(clean.imbalances().empty()) << lines(clean.imbalances());
            for (int y = 0; y < HEIGHT; ++y)
                std::memcpy(clean_out.rowBytes(y), out.rowBytes(y), WIDTH * out.pixelSize());

            for (const CommandResult* pass : {&clean.preRender, &*clean.render}) {
                const std::vector<HostCall>& calls = pass->calls;
                for (std::size_t i = 0; i < calls.size(); ++i) {
                    const std::vector<Way> ways = waysToFail(calls[i].point);
                    for (Way way : ways) {
                        SCOPED_TRACE(std::string(commandName(pass->cmd)) + ": " +
                                     refhost::describe(calls[i]) + " #" + std::to_string(i) +
                                     " fails with " + refhost::toString(way.mode) + " " +
                                     std::to_string(way.code));
                        const FrameOutcome expected = frameOutcome(pass->cmd, calls[i], way, view);
                        ASSERT_TRUE(expected.documented)
                            << "no documented outcome for this failure";

                        host_.setFaultPlan(FaultPlan{pass->cmd, i, way.mode, way.code});
                        resetOut();
                        const FrameResult r = host_.renderFrame(in, out);
                        ++runs;

                        const CommandResult& failing =
                            pass->cmd == PF_Cmd_SMART_PRE_RENDER ? r.preRender : *r.render;
                        ASSERT_TRUE(pass->cmd == PF_Cmd_SMART_PRE_RENDER || r.render.has_value());
                        ASSERT_TRUE(failing.injected.has_value()) << "the fault did not fire";
                        EXPECT_FALSE(r.exceptionEscaped());
                        EXPECT_EQ(r.err(), expected.err) << traceText(failing.calls);
                        EXPECT_TRUE(r.imbalances().empty()) << lines(r.imbalances());

                        // The settings record is handed over only by a pre-render
                        // that succeeds.
                        EXPECT_EQ(r.hadPreRenderData, r.preRender.err == PF_Err_NONE);
                        // The pre-render pass never speaks; the render pass
                        // only about the world suite.
                        EXPECT_FALSE(r.preRender.displaysError()) << r.preRender.message();
                        if (r.render) {
                            EXPECT_EQ(r.render->message(), expected.message);
                        }

                        EXPECT_TRUE(in.samePixels(in_copy)) << "the input was written";
                        EXPECT_TRUE(in.paddingIntact());
                        EXPECT_TRUE(out.paddingIntact());
                        const bool drawn = drew(r.render);
                        // A drawing call that ran gives the clean frame's
                        // pixels; without one the output is not written.
                        EXPECT_TRUE(out.samePixels(drawn ? clean_out : sentinel))
                            << (drawn ? "the output differs from the clean frame's"
                                      : "the output was written without a drawing call");
                    }
                    points[commandName(pass->cmd)] +=
                        static_cast<int>(refhost::faultModesOf(calls[i].point).size());
                }
            }
        }
    }

    int total = 0;
    std::string by_command;
    for (const auto& [name, n] : points) {
        total += n;
        by_command += " " + name + " " + std::to_string(n);
    }
    std::printf("fault sweep: %d failure points walked (%s ), %d faulty commands run\n", total,
                by_command.c_str(), runs);
    RecordProperty("failure_points", total);
    // Twelve views and depths, each with well over a dozen failure points.
    EXPECT_GT(total, 12 * 20);
}

}  // namespace
}  // namespace robusttest

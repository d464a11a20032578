// The built effect library, driven through its exported entry point by the
// reference host: keyed frames must equal the kernels called directly, bit
// for bit, and no single failing host call may crash it, let an exception
// out, pass as success where it matters, or leave anything taken.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "refhost/RefHost.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace refhosttest {
namespace {

using refhost::CallPoint;
using refhost::Depth;
using refhost::FaultMode;
using refhost::FrameResult;
using refhost::Host;
using refhost::PluginLibrary;
using refhost::World;

constexpr Depth DEPTHS[] = {Depth::U8, Depth::U16, Depth::F32};
constexpr int VIEWS[] = {kestrelumen::VIEW_SOURCE, kestrelumen::VIEW_ALPHA_MATTE,
                         kestrelumen::VIEW_SPILL_MATTE, kestrelumen::VIEW_FINAL};
constexpr int PARAM_KEY_COLOR = 1, PARAM_VIEW = 6;

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items) out += "\n  " + s;
    return out;
}

// Pixels with the extremes every depth must survive mixed into random ones;
// float frames also carry values outside 0..1, infinities and NaN.
void fillRandom(World& w, std::mt19937& rng) {
    const float specials[] = {0.0f,
                              1.0f,
                              -0.25f,
                              1.5f,
                              std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(),
                              1e-40f};
    for (int y = 0; y < w.height(); ++y)
        for (int x = 0; x < w.width(); ++x) {
            const bool special = (x + y) % 5 == 0;
            switch (w.depth()) {
                case Depth::U8: {
                    std::uniform_int_distribution<int> d(0, 255);
                    auto c = [&] {
                        return static_cast<A_u_char>(special ? (rng() % 2) * 255 : d(rng));
                    };
                    w.at<PF_Pixel>(x, y) = PF_Pixel{c(), c(), c(), c()};
                    break;
                }
                case Depth::U16: {
                    std::uniform_int_distribution<int> d(0, PF_MAX_CHAN16);
                    auto c = [&] {
                        return static_cast<A_u_short>(special ? (rng() % 2) * PF_MAX_CHAN16
                                                              : d(rng));
                    };
                    w.at<PF_Pixel16>(x, y) = PF_Pixel16{c(), c(), c(), c()};
                    break;
                }
                case Depth::F32: {
                    std::uniform_real_distribution<float> d(0.0f, 1.0f);
                    auto c = [&] { return special ? specials[rng() % 7] : d(rng); };
                    w.at<PF_PixelFloat>(x, y) = PF_PixelFloat{c(), c(), c(), c()};
                    break;
                }
            }
        }
}

// The settings record the frame's pre-render builds from these parameter
// values, given this host's colour conversion (c / 255 in single precision).
kestrelumen::KeySettings settingsFor(const PF_Pixel& key, const double sliders[4], int view) {
    kestrelumen::KeySettings s{};
    s.key_color =
        PF_PixelFloat{key.alpha / 255.0f, key.red / 255.0f, key.green / 255.0f, key.blue / 255.0f};
    s.choke_clear = static_cast<float>(sliders[0]);
    s.choke_opaque = static_cast<float>(sliders[1]);
    s.spill_amount = static_cast<float>(sliders[2]);
    s.spill_size = static_cast<float>(sliders[3]);
    s.view = view;
    return s;
}

// The expected output: the source itself for the source view, else the
// depth's kernel called directly on every pixel.
void expectedFrame(const World& in, World& out, kestrelumen::KeySettings s) {
    for (int y = 0; y < in.height(); ++y)
        for (int x = 0; x < in.width(); ++x) {
            if (s.view == kestrelumen::VIEW_SOURCE) {
                std::memcpy(out.rowBytes(y) + static_cast<std::size_t>(x) * in.pixelSize(),
                            in.rowBytes(y) + static_cast<std::size_t>(x) * in.pixelSize(),
                            in.pixelSize());
                continue;
            }
            switch (in.depth()) {
                case Depth::U8: {
                    PF_Pixel p = in.at<PF_Pixel>(x, y);
                    kestrelumen::KeyPixel8(&s, x, y, &p, &out.at<PF_Pixel>(x, y));
                    break;
                }
                case Depth::U16: {
                    PF_Pixel16 p = in.at<PF_Pixel16>(x, y);
                    kestrelumen::KeyPixel16(&s, x, y, &p, &out.at<PF_Pixel16>(x, y));
                    break;
                }
                case Depth::F32: {
                    PF_PixelFloat p = in.at<PF_PixelFloat>(x, y);
                    kestrelumen::KeyPixelFloat(&s, x, y, &p, &out.at<PF_PixelFloat>(x, y));
                    break;
                }
            }
        }
}

std::string firstDifference(const World& a, const World& b) {
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (std::memcmp(a.rowBytes(y) + static_cast<std::size_t>(x) * a.pixelSize(),
                            b.rowBytes(y) + static_cast<std::size_t>(x) * b.pixelSize(),
                            a.pixelSize()) != 0)
                return "first difference at (" + std::to_string(x) + "," + std::to_string(y) + ")";
    return "";
}

std::string traceText(const FrameResult& r) {
    std::string out;
    for (const refhost::CommandResult* c : {&r.preRender, r.render ? &*r.render : nullptr}) {
        if (!c) continue;
        for (std::size_t i = 0; i < c->calls.size(); ++i)
            out += "\n  " + std::string(c == &r.preRender ? "pre-render " : "render ") +
                   std::to_string(i) + ": " + refhost::describe(c->calls[i]);
    }
    return out;
}

class PluginFrames : public ::testing::Test {
protected:
    PluginFrames() : library_(PluginLibrary::load(KESTRELUMEN_PLUGIN_PATH)), host_(library_, {2}) {}

    void SetUp() override {
        std::string about;
        ASSERT_EQ(host_.about(about).err, PF_Err_NONE);
        ASSERT_EQ(host_.globalSetup().err, PF_Err_NONE);
        const refhost::CommandResult params = host_.paramsSetup();
        ASSERT_EQ(params.err, PF_Err_NONE);
        ASSERT_EQ(host_.params().size(), 7u) << "parameters not declared yet";
    }

    PluginLibrary library_;
    Host host_;
};

TEST_F(PluginFrames, KeyedFramesEqualTheKernelsCalledDirectly) {
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int frames = 0;
    for (Depth depth : DEPTHS) {
        for (int view : VIEWS) {
            for (int trial = 0; trial < 3; ++trial) {
                const PF_Pixel key{static_cast<A_u_char>(rng()), static_cast<A_u_char>(rng()),
                                   static_cast<A_u_char>(rng()), static_cast<A_u_char>(rng())};
                double sliders[4];
                for (double& s : sliders) s = trial == 0 ? (rng() % 2 ? 1.0 : 0.0) : unit(rng);
                host_.setColor(PARAM_KEY_COLOR, key);
                for (int i = 0; i < 4; ++i) host_.setFloat(2 + i, sliders[i]);
                host_.setPopup(PARAM_VIEW, view);

                const int channel = static_cast<int>(refhost::pixelBytes(depth) / 4);
                World in(depth, 19, 11, 2 * channel), out(depth, 19, 11, 6 * channel);
                World expected(depth, 19, 11);
                fillRandom(in, rng);
                expectedFrame(in, expected, settingsFor(key, sliders, view));

                SCOPED_TRACE(std::string(refhost::depthName(depth)) + ", view " +
                             std::to_string(view) + ", trial " + std::to_string(trial));
                const FrameResult frame = host_.renderFrame(in, out);
                ASSERT_EQ(frame.err(), PF_Err_NONE);
                EXPECT_TRUE(frame.imbalances().empty()) << joined(frame.imbalances());
                EXPECT_TRUE(out.samePixels(expected)) << firstDifference(out, expected);
                EXPECT_TRUE(out.paddingIntact());
                ++frames;
            }
        }
    }
    EXPECT_EQ(frames, 36);
}

// Failures the frame is documented to absorb, answering 0; every other
// injected failure must surface as a non-zero result.
bool absorbed(CallPoint point, FaultMode mode, int view) {
    // Release results are ignored everywhere: the suite is given back anyway.
    if (point == CallPoint::ReleaseSuite) return true;
    // A "successful" checkout of no output buffer: nothing to draw into.
    if (point == CallPoint::CheckoutOutput && mode == FaultMode::NullResult) return true;
    // The source view copies whatever the format.
    if (point == CallPoint::WorldGetPixelFormat && mode == FaultMode::BadFormat)
        return view == kestrelumen::VIEW_SOURCE;
    return false;
}

TEST_F(PluginFrames, EveryFailingHostCallOfAFrameIsSurvived) {
    std::mt19937 rng(7);
    int walked = 0;
    for (Depth depth : DEPTHS) {
        for (int view : VIEWS) {
            SCOPED_TRACE(std::string(refhost::depthName(depth)) + ", view " + std::to_string(view));
            host_.setPopup(PARAM_VIEW, view);
            const int channel = static_cast<int>(refhost::pixelBytes(depth) / 4);
            World in(depth, 9, 6, 4 * channel), out(depth, 9, 6, 2 * channel);
            fillRandom(in, rng);
            World original(depth, 9, 6);
            for (int y = 0; y < 6; ++y)
                std::memcpy(original.rowBytes(y), in.rowBytes(y), 9 * in.pixelSize());

            const FrameResult clean = host_.renderFrame(in, out);
            ASSERT_EQ(clean.err(), PF_Err_NONE);
            ASSERT_TRUE(clean.render.has_value());
            for (const refhost::CommandResult* pass : {&clean.preRender, &*clean.render}) {
                for (std::size_t i = 0; i < pass->calls.size(); ++i) {
                    for (FaultMode mode : refhost::faultModesOf(pass->calls[i].point)) {
                        const std::string where = refhost::describe(pass->calls[i]) + " #" +
                                                  std::to_string(i) + " " + refhost::toString(mode);
                        host_.setFaultPlan(
                            refhost::FaultPlan{pass->cmd, i, mode, PF_Interrupt_CANCEL});
                        const FrameResult r = host_.renderFrame(in, out);
                        ++walked;
                        ASSERT_TRUE(r.injected().has_value()) << where;
                        EXPECT_FALSE(r.exceptionEscaped()) << where;
                        if (absorbed(pass->calls[i].point, mode, view))
                            EXPECT_EQ(r.err(), PF_Err_NONE) << where;
                        else
                            EXPECT_NE(r.err(), PF_Err_NONE)
                                << where << ": failure reported as success";
                        EXPECT_TRUE(r.imbalances().empty())
                            << where << joined(r.imbalances()) << "\nafter:" << traceText(r);
                        EXPECT_TRUE(in.samePixels(original)) << where << ": the input was written";
                        EXPECT_TRUE(in.paddingIntact() && out.paddingIntact()) << where;
                    }
                }
            }
        }
    }
    std::printf("[ sweep    ] %d failure points walked over every depth and view\n", walked);
    EXPECT_GT(walked, 0);
}

}  // namespace
}  // namespace refhosttest

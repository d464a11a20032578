// The built effect library, loaded and set up by the reference host the way
// the compositing host does it, with small frames to render.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "refhost/RefHost.h"
#include "render/KeySettings.h"

namespace plugintest {

using refhost::CallPoint;
using refhost::Depth;
using refhost::FaultMode;
using refhost::HostCall;
using refhost::World;

constexpr Depth DEPTHS[] = {Depth::U8, Depth::U16, Depth::F32};
constexpr int VIEWS[] = {1, 2, 3, 4};
constexpr int WIDTH = 5;
constexpr int HEIGHT = 3;

// Deterministic pixels with some spread in every channel, so that a copy, a
// keyed image and an untouched buffer all look different.
inline void fill(World& w, unsigned seed) {
    uint32_t s = seed * 2654435761u + 1u;
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    };
    for (int y = 0; y < w.height(); ++y) {
        for (int x = 0; x < w.width(); ++x) {
            switch (w.depth()) {
                case Depth::U8: {
                    PF_Pixel& p = w.at<PF_Pixel>(x, y);
                    p = {static_cast<A_u_char>(next()), static_cast<A_u_char>(next()),
                         static_cast<A_u_char>(next()), static_cast<A_u_char>(next())};
                    break;
                }
                case Depth::U16: {
                    PF_Pixel16& p = w.at<PF_Pixel16>(x, y);
                    p = {static_cast<A_u_short>(next() % 32769),
                         static_cast<A_u_short>(next() % 32769),
                         static_cast<A_u_short>(next() % 32769),
                         static_cast<A_u_short>(next() % 32769)};
                    break;
                }
                case Depth::F32: {
                    PF_PixelFloat& p = w.at<PF_PixelFloat>(x, y);
                    p = {(next() % 1001) / 1000.0f, (next() % 1001) / 1000.0f,
                         (next() % 1001) / 1000.0f, (next() % 1001) / 1000.0f};
                    break;
                }
            }
        }
    }
}

inline std::string lines(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items) out += "\n  " + s;
    return out;
}

inline std::string traceText(const std::vector<HostCall>& calls) {
    std::string out;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        out += "\n  " + std::to_string(i) + ": " + refhost::describe(calls[i]);
    }
    return out;
}

inline bool has(const std::vector<HostCall>& calls, CallPoint point,
                const std::string& detail_part = "") {
    for (const HostCall& c : calls) {
        if (c.point == point && c.detail.find(detail_part) != std::string::npos) return true;
    }
    return false;
}

inline std::size_t count(const std::vector<HostCall>& calls, CallPoint point) {
    std::size_t n = 0;
    for (const HostCall& c : calls) n += c.point == point ? 1 : 0;
    return n;
}

// Index of the n-th (from 0) call of `point` in a trace; fails the test when
// there is none.
inline std::size_t indexOf(const std::vector<HostCall>& calls, CallPoint point, std::size_t nth = 0,
                           const std::string& detail_part = "") {
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].point == point && calls[i].detail.find(detail_part) != std::string::npos) {
            if (nth == 0) return i;
            --nth;
        }
    }
    ADD_FAILURE() << "no call " << refhost::toString(point) << " " << detail_part << " in the trace"
                  << traceText(calls);
    return 0;
}

inline const char* iterateSuiteOf(Depth depth) {
    switch (depth) {
        case Depth::U8: return "PF Iterate8 Suite";
        case Depth::U16: return "PF iterate16 Suite";
        case Depth::F32: return "PF iterateFloat Suite";
    }
    return "";
}

class PluginTest : public ::testing::Test {
protected:
    PluginTest()
        : library_(refhost::PluginLibrary::load(KESTRELUMEN_PLUGIN_PATH)), host_(library_) {}

    void SetUp() override {
        ASSERT_EQ(host_.globalSetup().err, PF_Err_NONE);
        ASSERT_EQ(host_.paramsSetup().err, PF_Err_NONE);
        host_.setColor(1, PF_Pixel{255, 20, 200, 40});
        host_.setFloat(2, 0.1);
        host_.setFloat(3, 0.2);
        host_.setFloat(4, 0.7);
        host_.setFloat(5, 0.6);
        host_.setPopup(6, 4);
    }

    // The settings record the pre-render pass hands over, as the render
    // pass reads it.
    static kestrelumen::KeySettings readSettings(void* pre_render_data) {
        kestrelumen::KeySettings settings{};
        if (pre_render_data != nullptr) std::memcpy(&settings, pre_render_data, sizeof settings);
        return settings;
    }

    refhost::PluginLibrary library_;
    refhost::Host host_;
};

}  // namespace plugintest

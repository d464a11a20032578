// Exhaustive comparisons of the shipped kernels with the plain rendering:
// every 8-bit pixel (2^32) under a few settings, and every 16-bit alpha and
// channel code pair. Minutes long, so they are registered only for the
// "Long" test configuration:
//   ctest --test-dir <build dir> -C Long -L long
// The work is shared between the machine's cores.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/render/KeyKernelsCompare.h"

namespace {

using kestrelumen::KeySettings;

// Splits [0, count) into chunks handed to every core; each chunk calls
// check(first, last, &report) and returns its number of mismatches.
template <typename Check>
uint64_t Parallel(uint64_t count, Check check, std::string* report) {
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    constexpr uint64_t CHUNK = 1u << 22;
    std::atomic<uint64_t> next{0};
    std::atomic<uint64_t> mismatches{0};
    std::mutex report_lock;
    auto work = [&] {
        std::string local;
        for (;;) {
            const uint64_t first = next.fetch_add(CHUNK);
            if (first >= count) break;
            const uint64_t last = std::min(count, first + CHUNK);
            mismatches += check(first, last, &local);
        }
        std::lock_guard<std::mutex> hold(report_lock);
        if (report->empty()) *report = local;
    };
    std::vector<std::thread> pool;
    for (unsigned i = 0; i < threads; ++i) pool.emplace_back(work);
    for (auto& t : pool) t.join();
    return mismatches;
}

KeySettings Settings(float kr, float kg, float kb, float clear, float opaque, float amount,
                     float size, int32_t view) {
    KeySettings ks{};
    ks.key_color = {1.0f, kr, kg, kb};
    ks.choke_clear = clear;
    ks.choke_opaque = opaque;
    ks.spill_amount = amount;
    ks.spill_size = size;
    ks.view = view;
    return ks;
}

void EveryBytePixel(const KeySettings& ks) {
    const auto start = std::chrono::steady_clock::now();
    std::string report;
    const uint64_t mismatches = Parallel(
        uint64_t{1} << 32,
        [&ks](uint64_t first, uint64_t last, std::string* report) {
            uint64_t bad = 0;
            for (uint64_t i = first; i < last; ++i) {
                const PF_Pixel px{static_cast<uint8_t>(i >> 24), static_cast<uint8_t>(i >> 16),
                                  static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
                if (!keytest::Agree(ks, px, report)) ++bad;
            }
            return bad;
        },
        &report);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("every 8-bit pixel under %s: %.0f s\n", keytest::Describe(ks).c_str(), seconds);
    EXPECT_EQ(mismatches, 0u) << "first: " << report;
}

// Every step divides, with a plausible green key.
TEST(KeyKernelsLong, EveryBytePixelEveryControl) {
    EveryBytePixel(Settings(0.12f, 0.7f, 0.18f, 0.1f, 0.2f, 0.6f, 0.5f, kestrelumen::VIEW_FINAL));
}

// The in-play path at its extremes: key colour at the corners of 0..1,
// choke toward opaque the smallest subnormal, choke toward transparent,
// spill amount just below 1 and spill size 2^-24.
TEST(KeyKernelsLong, EveryBytePixelInPlayExtremes) {
    EveryBytePixel(Settings(0.0f, 1.0f, 0.0f, 0x1.fffffep-1f, 0x1p-149f, 0x1.fffffep-1f, 0x1p-24f,
                            kestrelumen::VIEW_FINAL));
}

// The controls' defaults: black key, spill size 1, where the kernels skip
// the divisions by 1.
TEST(KeyKernelsLong, EveryBytePixelDefaults) {
    EveryBytePixel(Settings(0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, kestrelumen::VIEW_FINAL));
}

// The input's alpha stays (choke_opaque 1), shown as the spill matte.
TEST(KeyKernelsLong, EveryBytePixelInputAlphaSpillMatte) {
    EveryBytePixel(
        Settings(0.2f, 0.4f, 0.6f, 0.3f, 1.0f, 1.0f, 0.7f, kestrelumen::VIEW_SPILL_MATTE));
}

// Every 16-bit alpha and channel code pair: the weighting identity, and the
// kernel with the pair's channel code in each colour position.
TEST(KeyKernelsLong, EverySixteenBitAlphaChannelPair) {
    const auto start = std::chrono::steady_clock::now();
    const KeySettings ks =
        Settings(0.12f, 0.7f, 0.18f, 0.1f, 0.2f, 0.6f, 0.5f, kestrelumen::VIEW_FINAL);
    std::string report;
    const uint64_t mismatches = Parallel(
        uint64_t{1} << 32,
        [&ks](uint64_t first, uint64_t last, std::string* report) {
            volatile float full = 32768.0f;
            uint64_t bad = 0;
            for (uint64_t i = first; i < last; ++i) {
                const uint16_t a = static_cast<uint16_t>(i >> 16);
                const uint16_t c = static_cast<uint16_t>(i);
                const float want = ((static_cast<float>(a) / full) * static_cast<float>(c)) / full;
                const float got = (static_cast<float>(a) * static_cast<float>(c)) * 0x1p-30f;
                if (keytest::FloatBits(want) != keytest::FloatBits(got)) {
                    ++bad;
                    if (report->empty())
                        *report = "weighting of " + std::to_string(a) + ", " + std::to_string(c);
                }
                const uint16_t o = static_cast<uint16_t>(c * 40503u + a);
                PF_Pixel16 px{a, c, o, static_cast<uint16_t>(~c)};
                switch (i % 3) {
                    case 1: px = {a, o, c, static_cast<uint16_t>(~c)}; break;
                    case 2: px = {a, static_cast<uint16_t>(~c), o, c}; break;
                    default: break;
                }
                if (!keytest::Agree(ks, px, report)) ++bad;
            }
            return bad;
        },
        &report);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("every 16-bit alpha and channel pair: %.0f s\n", seconds);
    EXPECT_EQ(mismatches, 0u) << "first: " << report;
}

}  // namespace

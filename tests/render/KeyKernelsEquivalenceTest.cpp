// The shipped kernels against the plain rendering of the steps, over millions
// of random pixels and settings weighted toward the values where fast
// arithmetic goes wrong: NaN, infinities, subnormals, signed zeros, values
// just beside 0 and 1, codes just beside white, settings outside their
// ranges and every view. The exhaustive runs are in KeyKernelsLongTest.cpp.
//
// Each test runs twice: in the default floating-point mode and with
// flush-to-zero and denormals-are-zero set, as hosts run render threads;
// in each mode the plain rendering is run in that same mode.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "render/KeyTables.h"
#include "tests/render/KeyKernelsCompare.h"
#include "tests/support/FpMode.h"

namespace {

using kestrelumen::KeySettings;
using keytest::Agree;
using keytest::FromBits;

// Unoptimized and sanitizer builds run a sixteenth of the cases.
#ifdef NDEBUG
constexpr int SCALE = 16;
#else
constexpr int SCALE = 1;
#endif

class Values {
public:
    explicit Values(uint64_t seed) : rng_(seed) {}

    uint32_t Next() { return static_cast<uint32_t>(rng_()); }
    uint32_t Below(uint32_t n) { return Next() % n; }

    // A float from the awkward places, from ordinary 0..1 values, or from
    // anywhere at all.
    float AnyFloat() {
        switch (Below(8)) {
            case 0:
            case 1: return Edge();
            case 2: return FromBits(Next());  // any bit pattern, NaNs included
            case 3: return static_cast<float>(Below(256)) / 255.0f;
            case 4: return static_cast<float>(Below(32769)) * 0x1p-15f;
            case 5: {
                // Just beside an edge value.
                const uint32_t b = keytest::FloatBits(Edge());
                return FromBits(b + Below(5) - 2);
            }
            default: return static_cast<float>(Below(1u << 24)) * 0x1p-24f * 1.5f - 0.25f;
        }
    }

    // A setting: mostly in 0..1 the way a slider gives it, sometimes not.
    float Setting() {
        switch (Below(6)) {
            case 0: return AnyFloat();
            case 1: return Edge();
            case 2: return static_cast<float>(Below(1001)) / 1000.0f;
            case 3: return Below(2) ? 0.0f : 1.0f;
            default: return static_cast<float>(Below(1u << 24)) * 0x1p-24f;
        }
    }

    int32_t View() {
        static const int32_t views[] = {1, 2, 3, 4, 4, 2, 3, 0, 5, -1, INT_MIN, INT_MAX};
        return views[Below(sizeof views / sizeof views[0])];
    }

    KeySettings Settings() {
        KeySettings ks{};
        ks.key_color = {AnyFloat(), Setting(), Setting(), Setting()};
        ks.choke_clear = Setting();
        ks.choke_opaque = Setting();
        ks.spill_amount = Setting();
        ks.spill_size = Setting();
        ks.view = View();
        return ks;
    }

    uint8_t Code8() {
        switch (Below(4)) {
            case 0: return Below(2) ? 0 : 255;
            default: return static_cast<uint8_t>(Next());
        }
    }

    uint16_t Code16() {
        switch (Below(5)) {
            case 0: {
                static const uint16_t edges[] = {0, 1, 32767, 32768, 32769, 65535};
                return edges[Below(6)];
            }
            case 1: return static_cast<uint16_t>(Next());
            default: return static_cast<uint16_t>(Below(32769));
        }
    }

    // Settings that take the kernels' in-play path: every slider strictly
    // between 0 and 1 (its extremes included) or, for the chokes and the
    // spill amount, sometimes a zero of either sign, a view that shows the
    // keyed pixel and, mostly, a key colour within 0..1, where clamps are
    // left out on the strength of bounds that these draws press against.
    KeySettings InPlaySettings() {
        KeySettings ks{};
        ks.key_color = {AnyFloat(), KeyChannel(), KeyChannel(), KeyChannel()};
        ks.choke_clear = InsideSliderOrZero();
        ks.choke_opaque = InsideSliderOrZero();
        ks.spill_amount = InsideSliderOrZero();
        ks.spill_size = InsideSlider();
        static const int32_t views[] = {4, 4, 4, 1, 0, 5, INT_MIN, INT_MAX};
        ks.view = views[Below(sizeof views / sizeof views[0])];
        return ks;
    }

private:
    float InsideSlider() {
        static const uint32_t extremes[] = {
            0x00000001u,  // smallest subnormal
            0x33800000u,  // 2^-24
            0x3f7fffffu,  // just below 1
            0x3f7ffffeu,
            0x3f000000u,  // 0.5
        };
        switch (Below(4)) {
            case 0: return FromBits(extremes[Below(sizeof extremes / sizeof extremes[0])]);
            case 1: return static_cast<float>(1 + Below(999)) / 1000.0f;
            default: return static_cast<float>(1 + Below((1u << 24) - 1)) * 0x1p-24f;
        }
    }

    float InsideSliderOrZero() {
        switch (Below(8)) {
            case 0: return 0.0f;
            case 1: return Below(4) ? 0.0f : -0.0f;
            default: return InsideSlider();
        }
    }

    float KeyChannel() {
        switch (Below(6)) {
            case 0: return Below(2) ? 0.0f : 1.0f;
            case 1: return static_cast<float>(Below(256)) / 255.0f;
            case 2: return FromBits(Below(2) ? 0x00000001u : 0x3f7fffffu);
            case 3: return AnyFloat();  // now and then outside 0..1: the general path
            default: return static_cast<float>(Below(1u << 24)) * 0x1p-24f;
        }
    }

    float Edge() {
        static const uint32_t edges[] = {
            0x00000000u,  // +0
            0x80000000u,  // -0
            0x3f800000u,  // 1
            0xbf800000u,  // -1
            0x3f000000u,  // 0.5
            0x3f7fffffu,  // just below 1
            0x3f800001u,  // just above 1
            0x7f800000u,  // +inf
            0xff800000u,  // -inf
            0x7fc00000u,  // quiet NaN
            0xffc00000u,  // negative quiet NaN
            0x7fa00001u,  // signalling NaN
            0x00000001u,  // smallest subnormal
            0x807fffffu,  // largest negative subnormal
            0x00800000u,  // smallest normal
            0x7f7fffffu,  // largest finite
            0x33800000u,  // 2^-24
            0x437f0000u,  // 255
            0x47000000u,  // 32768
        };
        return FromBits(edges[Below(sizeof edges / sizeof edges[0])]);
    }

    std::mt19937_64 rng_;
};

// Draws settings_count settings with draw_settings and 4000 pixels under each.
template <typename DrawSettings, typename MakePixel>
void RunRandom(uint64_t seed, int settings_count, DrawSettings draw_settings, MakePixel make) {
    Values v(seed);
    std::string report;
    uint64_t mismatches = 0;
    for (int i = 0; i < settings_count; ++i) {
        const KeySettings ks = draw_settings(v);
        for (int j = 0; j < 4000; ++j) {
            if (!Agree(ks, make(v), &report)) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0u) << "first: " << report;
}

class KeyKernelsEquivalence : public ::testing::TestWithParam<fptest::FpMode> {
protected:
    void SetUp() override { mode_.emplace(GetParam()); }
    void TearDown() override { mode_.reset(); }

private:
    std::optional<fptest::ScopedFpMode> mode_;
};

INSTANTIATE_TEST_SUITE_P(Modes, KeyKernelsEquivalence, ::testing::ValuesIn(fptest::FP_MODES),
                         [](const ::testing::TestParamInfo<fptest::FpMode>& info) {
                             return std::string(fptest::fpModeName(info.param));
                         });

template <typename MakePixel>
void RunRandom(uint64_t seed, MakePixel make) {
    RunRandom(
        seed, 1000 * SCALE / 16, [](Values& v) { return v.Settings(); }, make);
}

template <typename MakePixel>
void RunInPlay(uint64_t seed, MakePixel make) {
    RunRandom(
        seed, 1000 * SCALE / 16, [](Values& v) { return v.InPlaySettings(); }, make);
}

TEST_P(KeyKernelsEquivalence, Random8) {
    RunRandom(8, [](Values& v) { return PF_Pixel{v.Code8(), v.Code8(), v.Code8(), v.Code8()}; });
}

TEST_P(KeyKernelsEquivalence, Random16) {
    RunRandom(16, [](Values& v) {
        return PF_Pixel16{v.Code16(), v.Code16(), v.Code16(), v.Code16()};
    });
}

TEST_P(KeyKernelsEquivalence, RandomFloat) {
    RunRandom(32, [](Values& v) {
        return PF_PixelFloat{v.AnyFloat(), v.AnyFloat(), v.AnyFloat(), v.AnyFloat()};
    });
}

// Pixels of every kind under in-play settings; at 16 bits the codes above
// white, which push the key distance and the unmixed colour past 1.
TEST_P(KeyKernelsEquivalence, InPlaySettings) {
    RunInPlay(81, [](Values& v) { return PF_Pixel{v.Code8(), v.Code8(), v.Code8(), v.Code8()}; });
    RunInPlay(82, [](Values& v) {
        return PF_Pixel16{v.Code16(), v.Code16(), v.Code16(), v.Code16()};
    });
    RunInPlay(83, [](Values& v) {
        return PF_PixelFloat{v.AnyFloat(), v.AnyFloat(), v.AnyFloat(), v.AnyFloat()};
    });
}

// Pixels that are exactly the key colour under in-play settings: alpha from
// distance is 0 and the unmix is skipped, which the fast path hands over to
// the general one. At full alpha the weighted colour is the colour itself.
TEST_P(KeyKernelsEquivalence, PixelOnTheKeyUnderInPlaySettings) {
    Values v(91);
    std::string report;
    uint64_t mismatches = 0;
    for (int i = 0; i < 1000; ++i) {
        KeySettings ks = v.InPlaySettings();
        const uint8_t r8 = v.Code8(), g8 = v.Code8(), b8 = v.Code8();
        ks.key_color = {v.AnyFloat(), r8 / 255.0f, g8 / 255.0f, b8 / 255.0f};
        if (!Agree(ks, PF_Pixel{255, r8, g8, b8}, &report)) ++mismatches;

        const auto code16 = [&v] { return static_cast<uint16_t>(v.Below(32769)); };
        const uint16_t r16 = code16(), g16 = code16(), b16 = code16();
        ks.key_color = {v.AnyFloat(), r16 * 0x1p-15f, g16 * 0x1p-15f, b16 * 0x1p-15f};
        if (!Agree(ks, PF_Pixel16{32768, r16, g16, b16}, &report)) ++mismatches;

        const float rf = v.AnyFloat(), gf = v.AnyFloat(), bf = v.AnyFloat();
        ks.key_color = {v.AnyFloat(), rf, gf, bf};
        if (!Agree(ks, PF_PixelFloat{1.0f, rf, gf, bf}, &report)) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u) << "first: " << report;
}

// Ordinary footage under ordinary settings: colours near a green key, where
// the unmix and the spill are exercised rather than the edge cases.
TEST_P(KeyKernelsEquivalence, PlausibleFootage) {
    Values v(64);
    std::string report;
    uint64_t mismatches = 0;
    for (int i = 0; i < 250 * SCALE / 16; ++i) {
        KeySettings ks{};
        ks.key_color = {1.0f, 0.1f + 0.2f * v.Below(100) / 100.0f,
                        0.6f + 0.4f * v.Below(100) / 100.0f, 0.1f + 0.2f * v.Below(100) / 100.0f};
        ks.choke_clear = v.Below(3) ? v.Below(1000) / 1000.0f : 0.0f;
        ks.choke_opaque = v.Below(3) ? v.Below(1000) / 1000.0f : 0.0f;
        ks.spill_amount = v.Below(1000) / 1000.0f;
        ks.spill_size = v.Below(1000) / 1000.0f;
        ks.view = 2 + static_cast<int32_t>(v.Below(3));
        for (int j = 0; j < 4000; ++j) {
            const uint8_t g = static_cast<uint8_t>(150 + v.Below(106));
            const PF_Pixel p8{static_cast<uint8_t>(v.Below(4) ? 255 : v.Below(256)),
                              static_cast<uint8_t>(v.Below(256)), g,
                              static_cast<uint8_t>(v.Below(256))};
            if (!Agree(ks, p8, &report)) ++mismatches;
            const PF_Pixel16 p16{static_cast<uint16_t>(p8.alpha * 128 + v.Below(129)),
                                 static_cast<uint16_t>(p8.red * 128),
                                 static_cast<uint16_t>(g * 128),
                                 static_cast<uint16_t>(p8.blue * 128 + v.Below(128))};
            if (!Agree(ks, p16, &report)) ++mismatches;
            const PF_PixelFloat pf{p16.alpha * 0x1p-15f, p16.red * 0x1p-15f, p16.green * 0x1p-15f,
                                   p16.blue * 0x1p-15f};
            if (!Agree(ks, pf, &report)) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0u) << "first: " << report;
}

// Every 8-bit alpha and channel code pair, in every channel position, under
// settings that take each branch.
TEST_P(KeyKernelsEquivalence, AllByteAlphaChannelPairs) {
    Values v(128);
    std::string report;
    uint64_t mismatches = 0;
    for (int i = 0; i < 12; ++i) {
        const KeySettings ks = v.Settings();
        for (uint32_t a = 0; a < 256; ++a) {
            for (uint32_t c = 0; c < 256; ++c) {
                const uint8_t o = static_cast<uint8_t>(v.Next());
                const PF_Pixel pixels[] = {
                    {static_cast<uint8_t>(a), static_cast<uint8_t>(c), o,
                     static_cast<uint8_t>(255 - c)},
                    {static_cast<uint8_t>(a), o, static_cast<uint8_t>(c), o},
                    {static_cast<uint8_t>(a), static_cast<uint8_t>(255 - c), o,
                     static_cast<uint8_t>(c)},
                };
                for (const PF_Pixel& px : pixels) {
                    if (!Agree(ks, px, &report)) ++mismatches;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0u) << "first: " << report;
}

// The 8-bit table holds what the steps compute, entry for entry. The
// operands pass through volatiles so that the comparison is computed at run
// time, not folded by the compiler that built the table.
TEST_P(KeyKernelsEquivalence, ByteTableMatchesTheArithmetic) {
    volatile float full = 255.0f;
    int wrong = 0;
    for (int a = 0; a < 256; ++a) {
        volatile float alpha_code = static_cast<float>(a);
        const float alpha = alpha_code / full;
        for (int c = 0; c < 256; ++c) {
            volatile float code = static_cast<float>(c);
            const float scaled = alpha * code;
            const float want = scaled / full;
            const float got = kestrelumen::BYTE_TABLES.weighted[a * 256 + c];
            if (keytest::FloatBits(want) != keytest::FloatBits(got)) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

// ((A / 32768) * c) / 32768 equals fl(A * c) * 2^-30 for 16-bit codes; here
// every alpha against a spread of channel codes (the long test takes every
// pair).
TEST_P(KeyKernelsEquivalence, SixteenBitWeightingIdentity) {
    volatile float full = 32768.0f;
    uint64_t wrong = 0;
    for (uint32_t a = 0; a < 65536; ++a) {
        const float alpha = static_cast<float>(a) / full;
        for (uint32_t c = a % 61; c < 65536; c += 61) {
            const float want = (alpha * static_cast<float>(c)) / full;
            const float got = (static_cast<float>(a) * static_cast<float>(c)) * 0x1p-30f;
            if (keytest::FloatBits(want) != keytest::FloatBits(got)) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

}  // namespace

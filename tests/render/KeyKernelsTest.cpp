// The keying kernels against hand-worked pixels: the documented worked
// examples first, then one table per group of branches. Each row runs through
// the shipped kernels and through the plain rendering used as the oracle of
// the equivalence tests, so a wrong oracle cannot hide a wrong kernel.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "plain/PlainKeyKernels.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace {

using kestrelumen::KeySettings;
using kestrelumen::VIEW_ALPHA_MATTE;
using kestrelumen::VIEW_FINAL;
using kestrelumen::VIEW_SOURCE;
using kestrelumen::VIEW_SPILL_MATTE;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// Settings built by chaining from a base; the base of the worked examples is
// a pure green key, both chokes and the spill amount 0, spill size 1, full
// output.
struct Cfg {
    KeySettings ks;
    Cfg Key(float r, float g, float b) const {
        Cfg c = *this;
        c.ks.key_color = {1.0f, r, g, b};
        return c;
    }
    Cfg Clear(float v) const {
        Cfg c = *this;
        c.ks.choke_clear = v;
        return c;
    }
    Cfg Opaque(float v) const {
        Cfg c = *this;
        c.ks.choke_opaque = v;
        return c;
    }
    Cfg Amount(float v) const {
        Cfg c = *this;
        c.ks.spill_amount = v;
        return c;
    }
    Cfg Size(float v) const {
        Cfg c = *this;
        c.ks.spill_size = v;
        return c;
    }
    Cfg View(int32_t v) const {
        Cfg c = *this;
        c.ks.view = v;
        return c;
    }
};

Cfg Green() {
    Cfg c{};
    c.ks.key_color = {1.0f, 0.0f, 1.0f, 0.0f};
    c.ks.choke_clear = 0.0f;
    c.ks.choke_opaque = 0.0f;
    c.ks.spill_amount = 0.0f;
    c.ks.spill_size = 1.0f;
    c.ks.view = VIEW_FINAL;
    return c;
}

// The controls' defaults: black key, every slider 0 but the spill size.
Cfg Defaults() { return Green().Key(0.0f, 0.0f, 0.0f); }

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

std::string Show(const PF_Pixel& p) {
    return "(" + std::to_string(p.alpha) + ", " + std::to_string(p.red) + ", " +
           std::to_string(p.green) + ", " + std::to_string(p.blue) + ")";
}
std::string Show(const PF_Pixel16& p) {
    return "(" + std::to_string(p.alpha) + ", " + std::to_string(p.red) + ", " +
           std::to_string(p.green) + ", " + std::to_string(p.blue) + ")";
}
std::string Show(const PF_PixelFloat& p) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "(%a, %a, %a, %a)", p.alpha, p.red, p.green, p.blue);
    return buf;
}

bool Same(const PF_Pixel& a, const PF_Pixel& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool Same(const PF_Pixel16& a, const PF_Pixel16& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
// Bit for bit, except that any NaN matches any NaN: which payload survives
// when two NaNs meet depends on the operand order of a commutative operation,
// which IEEE arithmetic leaves open.
bool Same(const PF_PixelFloat& a, const PF_PixelFloat& b) {
    const float x[] = {a.alpha, a.red, a.green, a.blue};
    const float y[] = {b.alpha, b.red, b.green, b.blue};
    for (int c = 0; c < 4; ++c) {
        if (std::isnan(x[c]) && std::isnan(y[c])) continue;
        if (Bits(x[c]) != Bits(y[c])) return false;
    }
    return true;
}

template <typename Pixel>
struct Row {
    const char* what;
    Cfg cfg;
    Pixel in;
    Pixel want;
};

using Row8 = Row<PF_Pixel>;
using Row16 = Row<PF_Pixel16>;
using RowF = Row<PF_PixelFloat>;

template <typename Pixel, typename Kernel>
void CheckRows(const std::vector<Row<Pixel>>& rows, Kernel shipped, Kernel oracle) {
    for (const auto& row : rows) {
        KeySettings ks = row.cfg.ks;
        Pixel in = row.in;
        Pixel got{};
        Pixel ref{};
        EXPECT_EQ(shipped(&ks, 0, 0, &in, &got), PF_Err_NONE);
        EXPECT_EQ(oracle(&ks, 0, 0, &in, &ref), PF_Err_NONE);
        EXPECT_TRUE(Same(got, row.want)) << row.what << ": in " << Show(row.in) << " want "
                                         << Show(row.want) << " got " << Show(got);
        EXPECT_TRUE(Same(ref, row.want))
            << row.what << " (plain rendering): want " << Show(row.want) << " got " << Show(ref);
    }
}

void Check(const std::vector<Row8>& rows) {
    CheckRows<PF_Pixel>(rows, kestrelumen::KeyPixel8, plain::KeyPixel8);
}
void Check(const std::vector<Row16>& rows) {
    CheckRows<PF_Pixel16>(rows, kestrelumen::KeyPixel16, plain::KeyPixel16);
}
void Check(const std::vector<RowF>& rows) {
    CheckRows<PF_PixelFloat>(rows, kestrelumen::KeyPixelFloat, plain::KeyPixelFloat);
}

TEST(KeyKernels, WorkedExamples8) {
    Check(std::vector<Row8>{
        {"pixel equal to the key", Green(), {255, 0, 255, 0}, {0, 0, 255, 0}},
        {"its alpha matte", Green().View(VIEW_ALPHA_MATTE), {255, 0, 255, 0}, {255, 0, 0, 0}},
        {"key pixel, full spill", Green().Amount(1), {255, 0, 255, 0}, {0, 150, 150, 150}},
        {"its spill matte",
         Green().Amount(1).View(VIEW_SPILL_MATTE),
         {255, 0, 255, 0},
         {255, 255, 255, 255}},
        {"mid grey", Green(), {255, 128, 128, 128}, {128, 255, 1, 255}},
        {"mid grey, choke_opaque 0.5",
         Green().Opaque(0.5f),
         {255, 128, 128, 128},
         {255, 128, 128, 128}},
        {"mid grey, choke_clear 0.5", Green().Clear(0.5f), {255, 128, 128, 128}, {1, 255, 1, 255}},
        {"mid grey, choke_clear 1 skips",
         Green().Clear(1),
         {255, 128, 128, 128},
         {128, 255, 1, 255}},
        {"transparent keys as black", Green(), {0, 200, 100, 50}, {255, 0, 0, 0}},
        {"transparent, choke_opaque 1", Green().Opaque(1), {0, 200, 100, 50}, {0, 200, 100, 50}},
        {"choke_opaque 1 keeps alpha", Green().Opaque(1), {128, 200, 100, 50}, {128, 200, 0, 50}},
        {"defaults, orange", Defaults(), {255, 128, 64, 0}, {128, 255, 127, 0}},
        {"defaults, dark blue", Defaults(), {255, 10, 20, 30}, {30, 85, 170, 255}},
        {"defaults, opaque black", Defaults(), {255, 0, 0, 0}, {0, 0, 0, 0}},
        {"defaults, opaque white", Defaults(), {255, 255, 255, 255}, {255, 255, 255, 255}},
        {"spill_size 0: matte 0",
         Green().Amount(1).Size(0).View(VIEW_SPILL_MATTE),
         {255, 0, 255, 0},
         {255, 0, 0, 0}},
        {"spill_size 0: other pixel",
         Green().Amount(1).Size(0).View(VIEW_SPILL_MATTE),
         {255, 100, 30, 200},
         {255, 0, 0, 0}},
        {"spill_size 0: colour untouched",
         Green().Amount(1).Size(0),
         {255, 0, 255, 0},
         {0, 0, 255, 0}},
        {"spill_amount 0: matte black",
         Green().View(VIEW_SPILL_MATTE),
         {255, 0, 255, 0},
         {255, 0, 0, 0}},
        {"fall-off g=255",
         Green().Amount(1).Size(0.5f).View(VIEW_SPILL_MATTE),
         {255, 0, 255, 0},
         {255, 255, 255, 255}},
        {"fall-off g=230",
         Green().Amount(1).Size(0.5f).View(VIEW_SPILL_MATTE),
         {255, 0, 230, 0},
         {255, 205, 205, 205}},
        {"fall-off g=191",
         Green().Amount(1).Size(0.5f).View(VIEW_SPILL_MATTE),
         {255, 0, 191, 0},
         {255, 127, 127, 127}},
        {"fall-off g=128",
         Green().Amount(1).Size(0.5f).View(VIEW_SPILL_MATTE),
         {255, 0, 128, 0},
         {255, 1, 1, 1}},
        {"fall-off g=0",
         Green().Amount(1).Size(0.5f).View(VIEW_SPILL_MATTE),
         {255, 0, 0, 0},
         {255, 0, 0, 0}},
        {"truncation, red 1", Green().Key(0.2f, 1, 0), {255, 1, 0, 0}, {255, 0, 0, 0}},
        {"truncation, red 2", Green().Key(0.2f, 1, 0), {255, 2, 0, 0}, {255, 1, 0, 0}},
        {"exactly 1 gives 255", Defaults(), {255, 255, 0, 0}, {255, 255, 0, 0}},
    });
}

TEST(KeyKernels, WorkedExamples16) {
    Check(std::vector<Row16>{
        {"key pixel, full spill",
         Green().Amount(1),
         {32768, 0, 32768, 0},
         {0, 19333, 19333, 19333}},
        {"key pixel", Green(), {32768, 0, 32768, 0}, {0, 0, 32768, 0}},
        {"exactly 1 gives 32768, never 65535",
         Defaults(),
         {32768, 32768, 0, 0},
         {32768, 32768, 0, 0}},
        {"alpha matte white is 32768",
         Green().View(VIEW_ALPHA_MATTE),
         {32768, 0, 32768, 0},
         {32768, 0, 0, 0}},
        {"spill matte white",
         Green().Amount(1).View(VIEW_SPILL_MATTE),
         {32768, 0, 32768, 0},
         {32768, 32768, 32768, 32768}},
        {"transparent keys as black", Green(), {0, 200, 100, 50}, {32768, 0, 0, 0}},
        // Codes above white are accepted and clamp at 1.
        {"over-white codes clamp", Defaults(), {65535, 65535, 40000, 0}, {32768, 32768, 32768, 0}},
    });
}

TEST(KeyKernels, WorkedExamplesFloat) {
    Check(std::vector<RowF>{
        {"key pixel, full spill", Green().Amount(1), {1, 0, 1, 0}, {0, 0.59f, 0.59f, 0.59f}},
        {"mid grey", Green(), {1, 0.5f, 0.5f, 0.5f}, {0.5f, 1, 0, 1}},
        {"choke_opaque 1: colour not clamped",
         Green().Opaque(1),
         {0.5f, 0.8f, 0.4f, 0.2f},
         {0.5f, 0.8f, -0.6f, 0.2f}},
        {"defaults: colour above 1 kept", Defaults(), {1, 2, 0.5f, 0}, {1, 2, 0.5f, 0}},
        {"NaN alpha: distance 0", Green(), {kNaN, 0.5f, 0.5f, 0.5f}, {0, 0.5f, 0.5f, 0.5f}},
        {"NaN red passed over", Green(), {1, kNaN, 0.5f, 0.5f}, {0.5f, kNaN, 0, 1}},
        // Red differs by 0.9, blue by 0.2: with green NaN only blue counts.
        {"NaN green hands over to blue", Green(), {1, 0.9f, kNaN, 0.2f}, {0.2f, 4.5f, kNaN, 1}},
        {"NaN blue: distance 0", Green(), {1, 0.5f, 0.5f, kNaN}, {0, 0.5f, 0.5f, kNaN}},
        {"NaN alpha, both chokes 1",
         Green().Opaque(1).Clear(1),
         {kNaN, 0.5f, 0.5f, 0.5f},
         {1, 0.5f, 0.5f, 0.5f}},
    });
}

TEST(KeyKernels, ChokeOpaqueAtAndAboveOne) {
    // At 1 or more (and for NaN, which is not below 1) the input alpha stays.
    const PF_PixelFloat in{0.5f, 0.25f, 0.5f, 0.75f};
    const PF_PixelFloat kept{0.5f, 0.25f, -0.5f, 0.75f};
    Check(std::vector<RowF>{
        {"choke_opaque 1", Green().Opaque(1), in, kept},
        {"choke_opaque 2", Green().Opaque(2), in, kept},
        {"choke_opaque +inf", Green().Opaque(kInf), in, kept},
        {"choke_opaque NaN", Green().Opaque(kNaN), in, kept},
        // Just below 1 the distance is divided by 2^-24 and saturates.
        {"choke_opaque just below 1", Green().Opaque(0.99999994f), in, {1, 0.125f, 0.25f, 0.375f}},
        // 1 - (-inf) is +inf: every distance becomes alpha 0 and no unmix.
        {"choke_opaque -inf", Green().Opaque(-kInf), in, {0, 0.25f, 0.5f, 0.75f}},
    });
    Check(std::vector<Row8>{
        {"8-bit choke_opaque 3", Green().Opaque(3), {128, 200, 100, 50}, {128, 200, 0, 50}},
    });
    Check(std::vector<Row16>{
        {"16-bit choke_opaque 1",
         Green().Opaque(1),
         {16384, 8192, 16384, 24576},
         {16384, 8192, 0, 24576}},
    });
}

TEST(KeyKernels, UnmixSkippedWhenAlphaIsZeroOrNaN) {
    Check(std::vector<RowF>{
        {"pixel on the key", Green(), {1, 0, 1, 0}, {0, 0, 1, 0}},
        // -0 counts as 0; with choke_clear 1 nothing replaces it, and the
        // alpha clamp keeps -0 (it is not below 0).
        {"alpha -0 kept",
         Green().Opaque(1).Clear(1),
         {-0.0f, 0.25f, 0.5f, 0.75f},
         {-0.0f, 0.25f, 0.5f, 0.75f}},
        {"alpha -0 through choke_clear",
         Green().Opaque(1),
         {-0.0f, 0.25f, 0.5f, 0.75f},
         {0.0f, 0.25f, 0.5f, 0.75f}},
        {"alpha NaN kept to the clamp",
         Green().Opaque(1).Clear(1),
         {kNaN, 2, -1, 0.5f},
         {1, 2, -1, 0.5f}},
    });
    Check(std::vector<Row8>{
        {"8-bit pixel on the key keeps colour",
         Green().Key(0.2f, 0.4f, 0.6f),
         {255, 51, 102, 153},
         {0, 51, 102, 153}},
    });
}

TEST(KeyKernels, SpillWeightBranches) {
    const PF_PixelFloat key_px{1, 0, 1, 0};
    const PF_PixelFloat in{1, 0.25f, 0.5f, 0.75f};  // distance 0.75
    Check(std::vector<RowF>{
        {"spill_size 0: colour kept", Green().Amount(1).Size(0), key_px, {0, 0, 1, 0}},
        {"spill_size -0: colour kept", Green().Amount(1).Size(-0.0f), key_px, {0, 0, 1, 0}},
        {"spill_size NaN: colour kept", Green().Amount(1).Size(kNaN), key_px, {0, 0, 1, 0}},
        {"spill_size NaN: matte 0",
         Green().Amount(1).Size(kNaN).View(VIEW_SPILL_MATTE),
         in,
         {1, 0, 0, 0}},
        {"spill_amount NaN: weight 0, no suppression",
         Green().Amount(kNaN).View(VIEW_SPILL_MATTE),
         in,
         {1, 0, 0, 0}},
        // A weight of -0 is not below 0, so the clamp keeps its sign.
        {"spill_amount -0: matte -0",
         Green().Amount(-0.0f).View(VIEW_SPILL_MATTE),
         in,
         {1, -0.0f, -0.0f, -0.0f}},
        {"weight above 1 clamps", Green().Amount(8).View(VIEW_SPILL_MATTE), in, {1, 1, 1, 1}},
        // (1 * (-0.5 - 0.75)) / -0.5 = 2.5, clamped to 1.
        {"negative spill_size",
         Green().Amount(1).Size(-0.5f).View(VIEW_SPILL_MATTE),
         in,
         {1, 1, 1, 1}},
        {"spill_size +inf: weight NaN is 0",
         Green().Amount(1).Size(kInf).View(VIEW_SPILL_MATTE),
         in,
         {1, 0, 0, 0}},
    });
    Check(std::vector<Row16>{
        {"16-bit spill_size 0 matte",
         Green().Amount(1).Size(0).View(VIEW_SPILL_MATTE),
         {32768, 0, 32768, 0},
         {32768, 0, 0, 0}},
        {"16-bit spill_amount -0 matte",
         Green().Amount(-0.0f).View(VIEW_SPILL_MATTE),
         {32768, 0, 0, 0},
         {32768, 0, 0, 0}},
    });
}

TEST(KeyKernels, ChokeClearBranches) {
    const PF_PixelFloat grey{1, 0.5f, 0.5f, 0.5f};  // alpha 0.5 before the choke
    Check(std::vector<RowF>{
        {"choke_clear 0.25", Green().Clear(0.25f), grey, {0x1.555556p-2f, 1, 0, 1}},
        {"choke_clear 1 skips", Green().Clear(1), grey, {0.5f, 1, 0, 1}},
        {"choke_clear 2 skips", Green().Clear(2), grey, {0.5f, 1, 0, 1}},
        {"choke_clear NaN skips", Green().Clear(kNaN), grey, {0.5f, 1, 0, 1}},
        {"choke_clear above alpha gives 0", Green().Clear(0.75f), grey, {0, 1, 0, 1}},
        // (0.5 + inf) / (1 + inf) is NaN, which the choke turns into 0.
        {"choke_clear -inf gives 0", Green().Clear(-kInf), grey, {0, 1, 0, 1}},
        {"choke_clear -1", Green().Clear(-1), grey, {0.75f, 1, 0, 1}},
    });
}

TEST(KeyKernels, FloatValuesOutsideTheUnitRange) {
    Check(std::vector<RowF>{
        // Alpha 2 with choke_opaque 1: unmix by 2, then the alpha clamp.
        {"alpha 2", Green().Opaque(1), {2, 0.5f, 0.5f, 0.5f}, {1, 0.5f, 1, 0.5f}},
        {"alpha -0.5",
         Green().Opaque(1).Clear(1),
         {-0.5f, 0.25f, 0.5f, 0.75f},
         {0, 0.25f, 3.5f, 0.75f}},
        {"red +inf", Green(), {1, kInf, 0.5f, 0.5f}, {1, kInf, 0.5f, 0.5f}},
        {"red -inf", Green(), {1, -kInf, 0.5f, 0.5f}, {1, -kInf, 0.5f, 0.5f}},
        {"alpha +inf", Green(), {kInf, 0.5f, 0.5f, 0.5f}, {1, kInf, kInf, kInf}},
        // inf * 0 is NaN: passed over in the distance, NaN after the unmix.
        {"alpha +inf, red 0", Green(), {kInf, 0, 0.5f, 0.5f}, {1, kNaN, kInf, kInf}},
        {"negative colour", Green(), {1, -0.5f, 1, 0}, {0.5f, -1, 1, 0}},
        {"subnormal red", Green(), {1, 0x1p-140f, 1, 0}, {0x1p-140f, 1, 1, 0}},
    });
}

TEST(KeyKernels, SettingsOutsideTheUnitRange) {
    const PF_PixelFloat in{1, 0.25f, 0.5f, 0.75f};
    Check(std::vector<RowF>{
        {"key green NaN: red and blue decide",
         Green().Key(0, kNaN, 0),
         in,
         {0.75f, 1.0f / 3.0f, kNaN, 1}},
        {"key red +inf: distance 1", Green().Key(kInf, 1, 0), in, {1, kNaN, 0.5f, 0.75f}},
        {"key above 1", Green().Key(0, 2, 0), in, {1, 0.25f, 0.5f, 0.75f}},
        // The weight is 0 but the key's grey value is infinite: 0 * inf is
        // NaN, and the spill shift turns every colour channel NaN.
        {"infinite key with spill",
         Green().Key(0, kInf, 0).Amount(1).Size(0.5f),
         in,
         {1, kNaN, kNaN, kNaN}},
    });
    Check(std::vector<Row8>{
        {"8-bit NaN key: distance 0",
         Green().Key(kNaN, kNaN, kNaN),
         {255, 0, 255, 255},
         {0, 0, 255, 255}},
        {"8-bit negative spill amount", Green().Amount(-1), {255, 0, 255, 0}, {0, 0, 255, 0}},
    });
}

TEST(KeyKernels, ViewsOtherThanTheMattesGiveTheFullOutput) {
    const int32_t views[] = {VIEW_SOURCE, 0, 5, -1, INT_MIN, INT_MAX};
    KeySettings full = Green().Amount(0.5f).Size(0.5f).Clear(0.1f).Opaque(0.2f).ks;
    PF_Pixel in8{200, 30, 200, 60};
    PF_Pixel16 in16{20000, 3000, 30000, 6000};
    PF_PixelFloat inf{0.8f, 0.1f, 0.9f, 0.3f};
    PF_Pixel want8{};
    PF_Pixel16 want16{};
    PF_PixelFloat wantf{};
    kestrelumen::KeyPixel8(&full, 0, 0, &in8, &want8);
    kestrelumen::KeyPixel16(&full, 0, 0, &in16, &want16);
    kestrelumen::KeyPixelFloat(&full, 0, 0, &inf, &wantf);
    // The full output is not a matte: its alpha is the computed one.
    EXPECT_NE(want8.alpha, 255);
    for (int32_t view : views) {
        KeySettings ks = full;
        ks.view = view;
        PF_Pixel got8{};
        PF_Pixel16 got16{};
        PF_PixelFloat gotf{};
        kestrelumen::KeyPixel8(&ks, 0, 0, &in8, &got8);
        kestrelumen::KeyPixel16(&ks, 0, 0, &in16, &got16);
        kestrelumen::KeyPixelFloat(&ks, 0, 0, &inf, &gotf);
        EXPECT_TRUE(Same(got8, want8)) << "view " << view << ": " << Show(got8);
        EXPECT_TRUE(Same(got16, want16)) << "view " << view << ": " << Show(got16);
        EXPECT_TRUE(Same(gotf, wantf)) << "view " << view << ": " << Show(gotf);
    }
}

template <typename Pixel, typename Kernel>
void ExpectNullGuard(Kernel kernel, Pixel sentinel) {
    KeySettings ks = Green().Amount(1).ks;
    Pixel in = sentinel;
    Pixel out = sentinel;
    EXPECT_EQ(kernel(nullptr, 0, 0, &in, &out), PF_Err_NONE);
    EXPECT_EQ(kernel(&ks, 0, 0, nullptr, &out), PF_Err_NONE);
    EXPECT_EQ(kernel(&ks, 0, 0, &in, nullptr), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&out, &sentinel, sizeof out), 0);
}

TEST(KeyKernels, NullPointersWriteNothing) {
    ExpectNullGuard<PF_Pixel>(kestrelumen::KeyPixel8, PF_Pixel{7, 8, 9, 10});
    ExpectNullGuard<PF_Pixel16>(kestrelumen::KeyPixel16, PF_Pixel16{7, 8, 9, 10});
    ExpectNullGuard<PF_PixelFloat>(kestrelumen::KeyPixelFloat, PF_PixelFloat{7, 8, 9, 10});
}

TEST(KeyKernels, SamePixelAsInputAndOutput) {
    const KeySettings base = Green().Amount(0.5f).Size(0.5f).Clear(0.1f).Opaque(0.2f).ks;
    for (int32_t view : {VIEW_ALPHA_MATTE, VIEW_SPILL_MATTE, VIEW_FINAL}) {
        KeySettings ks = base;
        ks.view = view;
        PF_Pixel p8{200, 30, 200, 60}, q8{}, in8 = p8;
        kestrelumen::KeyPixel8(&ks, 0, 0, &in8, &q8);
        kestrelumen::KeyPixel8(&ks, 0, 0, &p8, &p8);
        EXPECT_TRUE(Same(p8, q8)) << "view " << view;
        PF_Pixel16 p16{20000, 3000, 30000, 6000}, q16{}, in16 = p16;
        kestrelumen::KeyPixel16(&ks, 0, 0, &in16, &q16);
        kestrelumen::KeyPixel16(&ks, 0, 0, &p16, &p16);
        EXPECT_TRUE(Same(p16, q16)) << "view " << view;
        PF_PixelFloat pf{0.8f, 0.1f, 0.9f, 0.3f}, qf{}, inf = pf;
        kestrelumen::KeyPixelFloat(&ks, 0, 0, &inf, &qf);
        kestrelumen::KeyPixelFloat(&ks, 0, 0, &pf, &pf);
        EXPECT_TRUE(Same(pf, qf)) << "view " << view;
    }
}

}  // namespace

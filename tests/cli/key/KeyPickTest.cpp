// The eyedropper's medians and the automatic key estimate, on images whose
// answer is known: small worked images, and generated plates whose screen
// pixels are known.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Plates.h"
#include "cli/ExitCodes.h"
#include "cli/key/KeyPick.h"
#include "cli/key/Pixels.h"

namespace {

using kcli::ColorSample;
using kcli::Depth;
using kcli::HostImage;

HostImage blank(int w, int h, Depth d) {
    HostImage im;
    im.width = w;
    im.height = h;
    im.depth = d;
    im.pixels.resize(im.rowBytes() * h);
    return im;
}

// 5x5, red = 10 * x + 50 * y codes, green 200, blue 30; the pixel at 4,4 is
// half transparent, so the keyer sees its colour halved.
HostImage ramp(Depth d) {
    HostImage im = blank(5, 5, d);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            kcli::setPixel(im, x, y, {1.0f, (10 * x + 50 * y) / 255.0f, 200 / 255.0f, 30 / 255.0f});
    kcli::setPixel(im, 4, 4, {0.5f, 1.0f, 1.0f, 1.0f});
    return im;
}

struct PickCase {
    const char* name;
    bool rect;
    int x, y, r, w, h;
    int red, green, blue;
    int count;
    double spread;
};

// A disc of radius 1 is the pixel and its four neighbours.
const PickCase PICKS[] = {
    {"disc in the middle", false, 2, 2, 1, 0, 0, 120, 200, 30, 5, 10.0 / 3},
    {"disc clipped at the corner", false, 0, 0, 1, 0, 0, 10, 200, 30, 3, 10.0 / 3},
    {"disc of radius 0", false, 3, 1, 0, 0, 0, 80, 200, 30, 1, 0},
    {"disc centred outside but reaching in", false, -1, 2, 1, 0, 0, 100, 200, 30, 1, 0},
    {"one row", true, 0, 1, 0, 5, 1, 70, 200, 30, 5, 10.0 / 3},
    {"rectangle clipped right and below", true, 3, 3, 0, 10, 10, 180, 200, 30, 4, 10.0 / 3},
    {"the half-transparent pixel alone", true, 4, 4, 0, 1, 1, 128, 128, 128, 1, 0},
};

TEST(KeyPick, MediansAtEveryDepth) {
    for (Depth d : {Depth::U8, Depth::U16, Depth::F32}) {
        const HostImage im = ramp(d);
        for (const PickCase& c : PICKS) {
            SCOPED_TRACE(std::string(c.name) + " at " + kcli::depthName(d));
            const ColorSample s = c.rect ? kcli::medianRect(im, c.x, c.y, c.w, c.h)
                                         : kcli::medianAround(im, c.x, c.y, c.r);
            EXPECT_EQ(s.color.red, c.red);
            EXPECT_EQ(s.color.green, c.green);
            EXPECT_EQ(s.color.blue, c.blue);
            EXPECT_EQ(s.count, c.count);
            EXPECT_NEAR(s.spread, c.spread, 1e-9);
        }
    }
}

TEST(KeyPick, NothingInsideNamesThePlace) {
    const HostImage im = ramp(Depth::U8);
    auto message = [](auto&& f) {
        try {
            f();
        } catch (const kcli::Failure& e) {
            EXPECT_EQ(e.code(), kcli::EXIT_BAD_INPUT);
            return std::string(e.what());
        }
        return std::string("no failure");
    };
    EXPECT_NE(message([&] { kcli::medianAround(im, 9, 2, 2); }).find("9,2"), std::string::npos);
    EXPECT_NE(message([&] { kcli::medianRect(im, 5, 0, 3, 3); }).find("5,0,3,3"),
              std::string::npos);
    EXPECT_NE(message([&] { kcli::medianRect(im, 0, 0, 0, 3); }).find("0,0,0,3"),
              std::string::npos);
}

struct PlateCase {
    const char* name;
    platetest::PlateSpec plateSpec;
};

platetest::PlateSpec plateSpec(Depth d, bool blue, bool uneven, float fg, bool prop, float grain) {
    platetest::PlateSpec s;
    s.depth = d;
    if (blue) s.screen = {0x1a / 255.0f, 0x3c / 255.0f, 0xb4 / 255.0f};
    s.uneven = uneven;
    s.foreground = fg;
    s.greenObject = prop;
    s.grain = grain;
    return s;
}

const PlateCase PLATES[] = {
    {"green, even, 20%", plateSpec(Depth::U8, false, false, 0.2f, false, 1 / 255.0f)},
    {"green, uneven, 40%, prop", plateSpec(Depth::U8, false, true, 0.4f, true, 1 / 255.0f)},
    {"green, uneven, 60%, grain", plateSpec(Depth::U16, false, true, 0.6f, false, 12 / 255.0f)},
    {"green, even, 60%, prop, grain, float",
     plateSpec(Depth::F32, false, false, 0.6f, true, 12 / 255.0f)},
    {"blue, even, 30%", plateSpec(Depth::U8, true, false, 0.3f, false, 1 / 255.0f)},
    {"blue, uneven, 55%, grain", plateSpec(Depth::U16, true, true, 0.55f, true, 10 / 255.0f)},
};

TEST(KeyPick, EstimateFindsTheScreenMedian) {
    for (const PlateCase& c : PLATES) {
        SCOPED_TRACE(c.name);
        const platetest::Plate p = platetest::makePlate(c.plateSpec);
        const auto truth = platetest::trueScreenMedian(p);
        const auto key = kcli::estimateKey(p.image);
        ASSERT_TRUE(key.has_value());
        EXPECT_LE(std::abs(key->color.red - truth[0]), 3) << "share " << p.foregroundShare;
        EXPECT_LE(std::abs(key->color.green - truth[1]), 3) << "share " << p.foregroundShare;
        EXPECT_LE(std::abs(key->color.blue - truth[2]), 3) << "share " << p.foregroundShare;
        EXPECT_TRUE(kcli::screenOnBorder(p.image).has_value());
    }
}

TEST(KeyPick, NoScreenNoEstimate) {
    platetest::PlateSpec s;
    s.noScreen = true;
    s.grain = 8 / 255.0f;
    const platetest::Plate p = platetest::makePlate(s);
    EXPECT_FALSE(kcli::estimateKey(p.image).has_value());
    EXPECT_FALSE(kcli::screenOnBorder(p.image).has_value());
}

}  // namespace

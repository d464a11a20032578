// Keyed pixels over each kind of background, at every depth, against worked
// values of out = fg * a + bg * (1 - a).
#include <gtest/gtest.h>

#include <string>

#include "ToolHarness.h"
#include "cli/ExitCodes.h"
#include "cli/key/Composite.h"
#include "cli/key/Pixels.h"

namespace {

using kcli::Background;
using kcli::Depth;
using kcli::HostImage;
using kcli::Rgba;

HostImage filled(int w, int h, Depth d, Rgba v) {
    HostImage im;
    im.width = w;
    im.height = h;
    im.depth = d;
    im.pixels.resize(im.rowBytes() * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) kcli::setPixel(im, x, y, v);
    return im;
}

struct OverCase {
    const char* name;
    Rgba fg;  // straight colour and alpha, 0..1
    const char* bg;
    int x, y;         // the pixel looked at
    float expect[3];  // 0..1
};

// 8-bit codes written as code / 255 so the integer depths hit them exactly.
constexpr float C(int code) { return code / 255.0f; }

const OverCase CASES[] = {
    {"opaque keeps the foreground",
     {1, C(200), C(100), C(0)},
     "#ffffff",
     0,
     0,
     {C(200), C(100), C(0)}},
    {"clear shows the colour",
     {0, C(200), C(100), C(0)},
     "#336699",
     0,
     0,
     {C(0x33), C(0x66), C(0x99)}},
    {"half over white",
     {C(128), C(200), C(100), C(0)},
     "#ffffff",
     0,
     0,
     {(200 * 128 + 255 * 127) / 65025.0f, (100 * 128 + 255 * 127) / 65025.0f, 127 / 255.0f}},
    {"a quarter over black", {0.25f, 0.8f, 0.4f, 0.2f}, "#000000", 0, 0, {0.2f, 0.1f, 0.05f}},
    {"clear over the checker's light square", {0, 1, 1, 1}, "checker", 3, 3, {0.8f, 0.8f, 0.8f}},
    {"clear over the checker's dark square",
     {0, 1, 1, 1},
     "checker",
     10,
     3,
     {C(140), C(140), C(140)}},
    {"clear over the checker's next row", {0, 1, 1, 1}, "checker", 10, 9, {0.8f, 0.8f, 0.8f}},
};

TEST(Composite, OverColourAndCheckerAtEveryDepth) {
    for (Depth d : {Depth::U8, Depth::U16, Depth::F32}) {
        // The integer depths round the inputs and the result to their codes.
        const float tolerance = d == Depth::F32   ? 1e-6f
                                : d == Depth::U16 ? 2.0f / 32768
                                                  : 0.6f / 255;
        for (const OverCase& c : CASES) {
            SCOPED_TRACE(std::string(c.name) + " at " + kcli::depthName(d));
            HostImage im = filled(40, 20, d, c.fg);  // checker squares of 8 pixels here
            ASSERT_EQ(kcli::checkerSquare(40, 20), 8);
            kcli::compositeOver(im, kcli::parseBackground(c.bg), 1);
            const Rgba out = kcli::pixelAt(im, c.x, c.y);
            EXPECT_EQ(out.a, 1.0f);
            const float got[3] = {out.r, out.g, out.b};
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(got[i], c.expect[i], tolerance) << "channel " << i;
        }
    }
}

TEST(Composite, OverImagesStillAndSequence) {
    clitest::TempDir dir;
    // Background pixel (x, y) = red 10x, green 10y, blue 77.
    auto write = [&](const std::string& path, int w, int h, int blue) {
        std::vector<uint8_t> px;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px.insert(px.end(), {uint8_t(10 * x), uint8_t(10 * y), uint8_t(blue)});
        clitest::writeFile(path, w, h, 3, px, OIIO::TypeDesc::UINT8);
    };
    write(dir / "bg.png", 6, 4, 77);
    write(dir / "seq.0007.png", 6, 4, 99);
    write(dir / "small.png", 5, 4, 0);

    for (Depth d : {Depth::U8, Depth::F32}) {
        HostImage im = filled(6, 4, d, {C(51), C(255), C(0), C(0)});  // a = 0.2, red
        kcli::compositeOver(im, kcli::parseBackground(dir / "bg.png"), 7);
        const Rgba out = kcli::pixelAt(im, 5, 3);                     // background 50, 30, 77
        EXPECT_NEAR(out.r, C(91), 0.5f / 255) << kcli::depthName(d);  // 255 * .2 + 50 * .8
        EXPECT_NEAR(out.g, C(24), 0.5f / 255) << kcli::depthName(d);
        EXPECT_NEAR(out.b, C(62), 0.5f / 255) << kcli::depthName(d);
    }
    HostImage im = filled(6, 4, Depth::U8, {0, 0, 0, 0});
    kcli::compositeOver(im, kcli::parseBackground(dir / "seq.####.png"), 7);
    EXPECT_EQ(kcli::pixelAt(im, 1, 2).b, C(99));

    auto failure = [&](const std::string& bg, int frame) {
        try {
            HostImage f = filled(6, 4, Depth::U8, {0, 0, 0, 0});
            kcli::compositeOver(f, kcli::parseBackground(bg), frame);
        } catch (const kcli::Failure& e) {
            EXPECT_EQ(e.code(), kcli::EXIT_BAD_INPUT) << e.what();
            return std::string(e.what());
        }
        return std::string("no failure");
    };
    EXPECT_NE(failure(dir / "small.png", 1).find("small.png: the background is 5x4"),
              std::string::npos);
    EXPECT_NE(failure(dir / "seq.####.png", 8).find("seq.0008.png"), std::string::npos);
    EXPECT_NE(failure(dir / "none.png", 1).find("none.png"), std::string::npos);
    EXPECT_NE(failure("#12345", 1).find("--over: '#12345'"), std::string::npos);
}

}  // namespace

// Finding and judging the key through the built tool, as a user runs it:
// --key auto, --key-at, --key-rect, pick, the wrong-key warning, --over and
// preview, on generated plates whose screen is known.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "Plates.h"
#include "ToolHarness.h"
#include "cli/ImageFile.h"
#include "cli/key/Composite.h"
#include "cli/key/KeyPick.h"
#include "cli/key/Pixels.h"

namespace {

using clitest::readFile;
using clitest::runTool;
using clitest::TempDir;

// The plate as an 8-bit RGB camera file.
void writePlate(const std::string& path, const platetest::Plate& p) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < p.image.height; ++y)
        for (int x = 0; x < p.image.width; ++x) {
            const kcli::Rgba c = kcli::pixelAt(p.image, x, y);
            rgb.insert(rgb.end(), {uint8_t(kcli::code8(c.r)), uint8_t(kcli::code8(c.g)),
                                   uint8_t(kcli::code8(c.b))});
        }
    clitest::writeFile(path, p.image.width, p.image.height, 3, rgb, OIIO::TypeDesc::UINT8);
}

platetest::Plate plate(bool blue, bool noScreen = false) {
    platetest::PlateSpec s;
    if (blue) s.screen = {0x1a / 255.0f, 0x3c / 255.0f, 0xb4 / 255.0f};
    s.uneven = true;
    s.greenObject = !blue;
    s.grain = 8 / 255.0f;
    s.noScreen = noScreen;
    return platetest::makePlate(s);
}

// "#rrggbb" from the tool's "key #rrggbb (...)" line.
std::string printedKey(const std::string& out) {
    std::smatch m;
    return std::regex_search(out, m, std::regex("key (#[0-9a-f]{6}) \\(")) ? m[1].str() : "";
}

TEST(KeyEndToEnd, AutoKeysWithTheColourItPrints) {
    TempDir dir;
    const platetest::Plate p = plate(false);
    writePlate(dir / "plate.png", p);
    const auto r =
        runTool({"render", dir / "plate.png", "-o", dir / "auto.png", "--key", "auto"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string hex = printedKey(r.out);
    ASSERT_FALSE(hex.empty()) << r.out;
    EXPECT_NE(r.out.find("key " + hex + " (auto)"), std::string::npos) << r.out;
    const auto truth = platetest::trueScreenMedian(p);
    const kcli::KeyColor k = kcli::parseKeyColor(hex);
    EXPECT_LE(std::abs(k.red - truth[0]), 3);
    EXPECT_LE(std::abs(k.green - truth[1]), 3);
    EXPECT_LE(std::abs(k.blue - truth[2]), 3);
    // Pinning the printed colour gives the very same file.
    const auto pinned =
        runTool({"render", dir / "plate.png", "-o", dir / "pinned.png", "--key", hex}, dir.path());
    ASSERT_EQ(pinned.exitCode, 0) << pinned.err;
    EXPECT_EQ(readFile(dir / "auto.png").u, readFile(dir / "pinned.png").u);
}

TEST(KeyEndToEnd, KeyFrameMeasuresThatFrameForAll) {
    TempDir dir;
    writePlate(dir / "s.0001.png", plate(false));
    writePlate(dir / "s.0002.png", plate(true));
    const auto r = runTool({"render", dir / "s.####.png", "-o", dir / "o.####.png", "--key", "auto",
                            "--key-frame", "2", "-q"},
                           dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // -q keeps quiet about the key too; pick says what frame 2 holds.
    EXPECT_EQ(r.out, "");
    const auto pick = runTool({"pick", dir / "s.####.png", "--frame", "2", "--json"}, dir.path());
    ASSERT_EQ(pick.exitCode, 0) << pick.err;
    const auto two = runTool({"render", dir / "s.0001.png", "-o", dir / "one.png", "--key",
                              nlohmann::json::parse(pick.out)["hex"].get<std::string>()},
                             dir.path());
    ASSERT_EQ(two.exitCode, 0) << two.err;
    EXPECT_EQ(readFile(dir / "o.0001.png").u, readFile(dir / "one.png").u);
}

struct WarnCase {
    const char* name;
    bool blue, noScreen;
    std::vector<std::string> args;
    bool warns;
};

TEST(KeyEndToEnd, WrongKeyWarningOnlyWhenTheDefaultMeetsAScreen) {
    const WarnCase cases[] = {
        {"green screen, no key", false, false, {}, true},
        {"blue screen, no key", true, false, {}, true},
        {"green screen, key given", false, false, {"--key", "#178e2f"}, false},
        {"green screen, black given on purpose", false, false, {"--key", "#000000"}, false},
        {"green screen, auto", false, false, {"--key", "auto"}, false},
        {"no screen, no key", false, true, {}, false},
    };
    for (const WarnCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writePlate(dir / "plate.png", plate(c.blue, c.noScreen));
        std::vector<std::string> args = {"render", dir / "plate.png", "-o", dir / "out.png"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = runTool(args, dir.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const bool warned = r.err.find("warning: no --key given") != std::string::npos;
        EXPECT_EQ(warned, c.warns) << r.err;
        if (warned) {
            EXPECT_NE(r.err.find(c.blue ? "blue screen" : "green screen"), std::string::npos)
                << r.err;
            EXPECT_NE(r.err.find("--key auto"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("kestrelumen pick"), std::string::npos) << r.err;
        }
    }
}

TEST(KeyEndToEnd, NoScreenIsAClearError) {
    TempDir dir;
    writePlate(dir / "room.png", plate(false, true));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"render", dir / "room.png", "-o", dir / "out.png", "--key",
                                   "auto"},
          std::vector<std::string>{"pick", dir / "room.png"}}) {
        const auto r = runTool(args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << args[0];
        EXPECT_NE(r.err.find("room.png: no green or blue screen found"), std::string::npos)
            << r.err;
        EXPECT_FALSE(clitest::fs::exists(dir / "out.png"));
    }
}

struct PickCase {
    std::vector<std::string> args;  // after "pick IN"
    const char* method;
    int x, y, r, w, h;  // the region, for the oracle
};

TEST(KeyEndToEnd, PickAndEyedropperAgreeWithTheMedians) {
    TempDir dir;
    const platetest::Plate p = plate(false);
    writePlate(dir / "plate.png", p);
    const kcli::HostImage image = kcli::readImage(dir / "plate.png");
    const PickCase cases[] = {
        {{"--at", "30,20"}, "at", 30, 20, 2, 0, 0},
        {{"--at", "0,0,5"}, "at", 0, 0, 5, 0, 0},
        {{"--rect", "300,10,40,30"}, "rect", 300, 10, 0, 40, 30},
        {{}, "auto", 0, 0, 0, 0, 0},
    };
    for (const PickCase& c : cases) {
        SCOPED_TRACE(c.method + (c.args.empty() ? "" : " " + c.args[1]));
        const kcli::ColorSample truth = c.w ? kcli::medianRect(image, c.x, c.y, c.w, c.h)
                                        : std::string(c.method) == "at"
                                            ? kcli::medianAround(image, c.x, c.y, c.r)
                                            : *kcli::estimateKey(image);
        std::vector<std::string> args = {"pick", dir / "plate.png", "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = runTool(args, dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const nlohmann::json j = nlohmann::json::parse(r.out);
        EXPECT_EQ(j["method"], c.method);
        EXPECT_EQ(j["hex"], kcli::hexText(truth.color));
        EXPECT_EQ(j["codes"],
                  nlohmann::json({truth.color.red, truth.color.green, truth.color.blue}));
        EXPECT_EQ(kcli::parseKeyColor(j["unit"].get<std::string>()), truth.color);
        EXPECT_EQ(j["count"], truth.count);
        EXPECT_DOUBLE_EQ(j["spread"].get<double>(), truth.spread);

        // The same region as render's eyedropper keys with the same colour.
        if (std::string(c.method) == "auto") continue;
        std::vector<std::string> render = {
            "render", dir / "plate.png", "-o", dir / "o.png", c.w ? "--key-rect" : "--key-at",
            c.args[1]};
        const auto k = runTool(render, dir.path());
        ASSERT_EQ(k.exitCode, 0) << k.err;
        EXPECT_EQ(printedKey(k.out), kcli::hexText(truth.color)) << k.out;
    }
    const auto text = runTool({"pick", dir / "plate.png", "--at", "30,20"}, dir.path());
    const std::string hex = kcli::hexText(kcli::medianAround(image, 30, 20, 2).color);
    EXPECT_NE(text.out.find("--key '" + hex + "'"), std::string::npos) << text.out;
    const auto outside = runTool(
        {"render", dir / "plate.png", "-o", dir / "x.png", "--key-at", "999,5"}, dir.path());
    EXPECT_EQ(outside.exitCode, 2);
    EXPECT_NE(outside.err.find("plate.png: the point 999,5"), std::string::npos) << outside.err;
}

TEST(KeyEndToEnd, OverComposesTheKeyedFileOpaque) {
    TempDir dir;
    writePlate(dir / "plate.png", plate(false));
    std::vector<uint8_t> bg;
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x) bg.insert(bg.end(), {uint8_t(x / 2), uint8_t(y), 200});
    clitest::writeFile(dir / "bg.png", 320, 180, 3, bg, OIIO::TypeDesc::UINT8);
    const std::vector<std::string> key = {"--key", "#178e2f", "--spill-amount", "0.5"};
    auto render = [&](const std::string& out, std::vector<std::string> more) {
        std::vector<std::string> args = {"render", dir / "plate.png", "-o", dir / out};
        args.insert(args.end(), key.begin(), key.end());
        args.insert(args.end(), more.begin(), more.end());
        const auto r = runTool(args, dir.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return readFile(dir / out);
    };
    const clitest::FileImage keyed = render("keyed.png", {});
    ASSERT_EQ(keyed.nchannels, 4);
    struct Bg {
        const char* arg;
        std::function<std::array<int, 3>(int, int)> at;
    };
    const Bg bgs[] = {
        {"#336699",
         [](int, int) {
             return std::array<int, 3>{0x33, 0x66, 0x99};
         }},
        {"checker",
         [](int x, int y) {
             const kcli::KeyColor c = kcli::checkerAt(x, y, kcli::checkerSquare(320, 180));
             return std::array<int, 3>{c.red, c.green, c.blue};
         }},
        {"bg.png",
         [](int x, int y) {
             return std::array<int, 3>{x / 2, y, 200};
         }},
    };
    // The screen, the subject, its hair and the prop.
    const int points[][2] = {{10, 10}, {144, 120}, {150, 30}, {140, 36}, {290, 150}};
    for (const Bg& b : bgs) {
        SCOPED_TRACE(b.arg);
        const std::string arg = std::string(b.arg) == "bg.png" ? dir / "bg.png" : b.arg;
        const clitest::FileImage over = render(
            std::string("over-") + (b.arg[0] == '#' ? "c" : b.arg) + ".png", {"--over", arg});
        for (const auto& pt : points) {
            const std::size_t i = (static_cast<std::size_t>(pt[1]) * 320 + pt[0]);
            const uint32_t a = keyed.u[4 * i + 3];
            const std::array<int, 3> c = b.at(pt[0], pt[1]);
            for (int ch = 0; ch < 3; ++ch) {
                const uint32_t want = (keyed.u[4 * i + ch] * a + c[ch] * (255 - a) + 127) / 255;
                EXPECT_EQ(over.u[over.nchannels * i + ch], want)
                    << pt[0] << "," << pt[1] << " channel " << ch;
            }
            if (over.nchannels == 4) {
                EXPECT_EQ(over.u[4 * i + 3], 255u);
            }
        }
    }
}

TEST(KeyEndToEnd, PreviewSheet) {
    TempDir dir;
    writePlate(dir / "plate.png", plate(false));
    const auto r = runTool({"preview", dir / "plate.png", "-o", dir / "sheet.png", "--key", "auto",
                            "--width", "640", "--spill-amount", "1"},
                           dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(printedKey(r.out).empty()) << r.out;
    const clitest::FileImage s = readFile(dir / "sheet.png");
    EXPECT_EQ(s.width, 640);
    // Four panels of (640 - 5 * 2) / 4 = 157 pixels, 16:9, under a label strip.
    EXPECT_EQ(s.height, 2 + (7 + 4) + 88 + 2);
    // The second panel's top-left corner is the checker seen through the screen.
    const std::size_t corner =
        (static_cast<std::size_t>(2 + 11 + 1) * 640 + 2 + 157 + 2 + 1) * s.nchannels;
    EXPECT_GT(s.u[corner], 150u);
    EXPECT_NEAR(double(s.u[corner]), double(s.u[corner + 1]), 8);
    // A label is drawn: light pixels in the strip above the first panel.
    int light = 0;
    for (int y = 2; y < 2 + 7; ++y)
        for (int x = 2; x < 2 + 157; ++x)
            light += s.u[(static_cast<std::size_t>(y) * 640 + x) * s.nchannels] > 200;
    EXPECT_GT(light, 20);
}

}  // namespace

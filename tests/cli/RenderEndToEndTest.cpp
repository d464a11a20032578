// The built tool on small files in every depth and view, against the
// kernels called directly and against worked examples of the keyer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ToolHarness.h"
#include "cli/Depth16.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace {

using clitest::bitsOf;
using clitest::FileImage;
using clitest::readFile;
using clitest::runTool;
using clitest::TempDir;
using clitest::writeFile;
using OIIO::TypeDesc;

enum class Kind { U8, U16, F32 };

struct FormatCase {
    const char* name;
    const char* ext;
    Kind kind;
};

const FormatCase FORMATS[] = {
    {"8-bit PNG", ".png", Kind::U8},
    {"16-bit PNG", ".png", Kind::U16},
    {"16-bit TIFF", ".tif", Kind::U16},
    {"float TIFF", ".tif", Kind::F32},
};

// The test pixels, alpha first, at the host's scale of each depth: the key
// itself, grey, transparent with colour left in it (premultiplying would
// lose it), half transparent, spill fall-off greens, white, a dark colour.
const PF_Pixel PIXELS8[] = {
    {255, 0, 255, 0}, {255, 128, 128, 128}, {0, 200, 100, 50},    {128, 200, 100, 50},
    {255, 0, 230, 0}, {255, 0, 191, 0},     {255, 255, 255, 255}, {255, 10, 20, 30},
};
const PF_Pixel16 PIXELS16[] = {
    {32768, 0, 32768, 0},         {32768, 16384, 16384, 16384}, {0, 25700, 12850, 6425},
    {16448, 25700, 12850, 6425},  {32768, 0, 29556, 1},         {32768, 0, 24543, 0},
    {32768, 32768, 32768, 32768}, {32768, 1285, 2570, 3855},
};
const float NaN = std::numeric_limits<float>::quiet_NaN();
const PF_PixelFloat PIXELSF[] = {
    {1, 0, 1, 0},    {1, 0.5f, 0.5f, 0.5f}, {0, 0.8f, 0.4f, 0.2f}, {0.5f, 0.8f, 0.4f, 0.2f},
    {1, 0, 0.9f, 0}, {1, 0, 0.75f, 0},      {1, 1.5f, -0.25f, 2},  {1, 0.5f, 0.5f, NaN},
};
constexpr int W = 4, H = 2;

struct ControlCase {
    const char* name;
    std::vector<std::string> args;
    uint8_t key[3];
    float chokeT, chokeO, amount, size;
};

const ControlCase CONTROLS[] = {
    {"green key, full spill",
     {"--key", "green", "--spill-amount", "1", "--spill-size", "0.5"},
     {0, 255, 0},
     0,
     0,
     1,
     0.5f},
    {"chokes",
     {"--key", "#00ff00", "--choke-opaque", "0.5", "--choke-transparent", "0.25"},
     {0, 255, 0},
     0.25f,
     0.5f,
     0,
     1},
    {"defaults", {}, {0, 0, 0}, 0, 0, 0, 1},
    {"odd key",
     {"--key", "#336699", "--spill-amount", "0.7", "--spill-size", "0.8", "--choke-transparent",
      "0.1"},
     {0x33, 0x66, 0x99},
     0.1f,
     0,
     0.7f,
     0.8f},
};

const char* const VIEWS[] = {"source", "alpha", "spill", "final"};

kestrelumen::KeySettings settingsOf(const ControlCase& c, int view) {
    kestrelumen::KeySettings s{};
    s.key_color = {1.0f, c.key[0] / 255.0f, c.key[1] / 255.0f, c.key[2] / 255.0f};
    s.choke_clear = c.chokeT;
    s.choke_opaque = c.chokeO;
    s.spill_amount = c.amount;
    s.spill_size = c.size;
    s.view = view;
    return s;
}

// Host pixels -> file values (RGBA) and back, as the tool should.
std::vector<uint8_t> fileValues(const std::vector<PF_Pixel>& px) {
    std::vector<uint8_t> v;
    for (const PF_Pixel& p : px) v.insert(v.end(), {p.red, p.green, p.blue, p.alpha});
    return v;
}
std::vector<uint16_t> fileValues(const std::vector<PF_Pixel16>& px) {
    std::vector<uint16_t> v;
    for (const PF_Pixel16& p : px)
        for (uint16_t c : {p.red, p.green, p.blue, p.alpha}) v.push_back(kcli::hostToFile16(c));
    return v;
}
std::vector<float> fileValues(const std::vector<PF_PixelFloat>& px) {
    std::vector<float> v;
    for (const PF_PixelFloat& p : px) v.insert(v.end(), {p.red, p.green, p.blue, p.alpha});
    return v;
}

PF_Err runKernel(kestrelumen::KeySettings& s, PF_Pixel* in, PF_Pixel* out) {
    return kestrelumen::KeyPixel8(&s, 0, 0, in, out);
}
PF_Err runKernel(kestrelumen::KeySettings& s, PF_Pixel16* in, PF_Pixel16* out) {
    return kestrelumen::KeyPixel16(&s, 0, 0, in, out);
}
PF_Err runKernel(kestrelumen::KeySettings& s, PF_PixelFloat* in, PF_PixelFloat* out) {
    return kestrelumen::KeyPixelFloat(&s, 0, 0, in, out);
}

// What the file must hold: the input for the source view, otherwise the
// kernel's own result for each pixel.
template <typename P>
std::vector<P> expected(std::vector<P> in, kestrelumen::KeySettings s) {
    if (s.view == kestrelumen::VIEW_SOURCE) return in;
    std::vector<P> out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) runKernel(s, &in[i], &out[i]);
    return out;
}

void compare(const FileImage& got, const std::vector<uint8_t>& want) {
    ASSERT_EQ(got.format, TypeDesc::UINT8);
    ASSERT_EQ(got.u.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(got.u[i], want[i]) << "pixel " << i / 4 << " channel " << i % 4;
}
void compare(const FileImage& got, const std::vector<uint16_t>& want) {
    ASSERT_EQ(got.format, TypeDesc::UINT16);
    ASSERT_EQ(got.u.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(got.u[i], want[i]) << "pixel " << i / 4 << " channel " << i % 4;
}
void compare(const FileImage& got, const std::vector<float>& want) {
    ASSERT_EQ(got.format, TypeDesc::FLOAT);
    ASSERT_EQ(got.f.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(bitsOf(got.f[i]), bitsOf(want[i]))
            << "pixel " << i / 4 << " channel " << i % 4 << ": " << got.f[i] << " vs " << want[i];
}

template <typename P>
void checkCase(const TempDir& dir, const FormatCase& fmt, const std::vector<P>& pixels,
               TypeDesc type) {
    const std::string in = dir / (std::string("in") + fmt.ext);
    const auto inValues = fileValues(pixels);
    writeFile(in, W, H, 4, inValues, type);
    // Every view with the first settings; the other settings, which only
    // have to reach the kernel, in the final view. Each run starts a
    // process, so the matrix is kept to what can fail separately.
    for (const ControlCase& c : CONTROLS)
        for (int view = 1; view <= 4; ++view) {
            if (&c != &CONTROLS[0] && view != kestrelumen::VIEW_FINAL) continue;
            SCOPED_TRACE(std::string(fmt.name) + ", " + c.name + ", view " + VIEWS[view - 1]);
            const std::string out = dir / (std::string("out") + fmt.ext);
            std::vector<std::string> args{"render", in, "-o", out, "--view", VIEWS[view - 1]};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const clitest::RunResult r = runTool(args, dir.path());
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const FileImage got = readFile(out);
            ASSERT_EQ(got.width, W);
            ASSERT_EQ(got.nchannels, 4) << "alpha must be written";
            compare(got, fileValues(expected(pixels, settingsOf(c, view))));
        }
}

TEST(RenderEndToEndTest, EveryDepthAndViewMatchesTheKernels) {
    TempDir dir;
    for (const FormatCase& fmt : FORMATS) {
        switch (fmt.kind) {
            case Kind::U8:
                checkCase(dir, fmt, std::vector<PF_Pixel>(std::begin(PIXELS8), std::end(PIXELS8)),
                          TypeDesc::UINT8);
                break;
            case Kind::U16:
                checkCase(dir, fmt,
                          std::vector<PF_Pixel16>(std::begin(PIXELS16), std::end(PIXELS16)),
                          TypeDesc::UINT16);
                break;
            case Kind::F32:
                checkCase(dir, fmt,
                          std::vector<PF_PixelFloat>(std::begin(PIXELSF), std::end(PIXELSF)),
                          TypeDesc::FLOAT);
                break;
        }
    }
}

// Results worked out by hand from the keyer's definition, independent of
// the kernels linked above. Pixels alpha first, host scale.
struct WorkedRow {
    const char* name;
    Kind kind;
    std::vector<std::string> args;
    float in[4];
    float out[4];
};

const WorkedRow WORKED[] = {
    {"key pixel, full spill, 8-bit",
     Kind::U8,
     {"--key", "green", "--spill-amount", "1"},
     {255, 0, 255, 0},
     {0, 150, 150, 150}},
    {"key pixel, full spill, 16-bit",
     Kind::U16,
     {"--key", "green", "--spill-amount", "1"},
     {32768, 0, 32768, 0},
     {0, 19333, 19333, 19333}},
    {"key pixel, full spill, float",
     Kind::F32,
     {"--key", "green", "--spill-amount", "1"},
     {1, 0, 1, 0},
     {0, 0.59f, 0.59f, 0.59f}},
    {"key pixel, alpha matte",
     Kind::U8,
     {"--key", "green", "--view", "alpha"},
     {255, 0, 255, 0},
     {255, 0, 0, 0}},
    {"key pixel, spill matte",
     Kind::U8,
     {"--key", "green", "--spill-amount", "1", "--view", "spill"},
     {255, 0, 255, 0},
     {255, 255, 255, 255}},
    {"mid grey", Kind::U8, {"--key", "green"}, {255, 128, 128, 128}, {128, 255, 1, 255}},
    {"mid grey, choke opaque",
     Kind::U8,
     {"--key", "green", "--choke-opaque", "0.5"},
     {255, 128, 128, 128},
     {255, 128, 128, 128}},
    {"mid grey, choke transparent",
     Kind::U8,
     {"--key", "green", "--choke-transparent", "0.5"},
     {255, 128, 128, 128},
     {1, 255, 1, 255}},
    {"transparent keys as black", Kind::U8, {"--key", "green"}, {0, 200, 100, 50}, {255, 0, 0, 0}},
    {"defaults", Kind::U8, {}, {255, 128, 64, 0}, {128, 255, 127, 0}},
    {"spill fall-off",
     Kind::U8,
     {"--key", "green", "--spill-amount", "1", "--spill-size", "0.5", "--view", "spill"},
     {255, 0, 230, 0},
     {255, 205, 205, 205}},
    {"float colour unclamped",
     Kind::F32,
     {"--key", "green", "--choke-opaque", "1"},
     {0.5f, 0.8f, 0.4f, 0.2f},
     {0.5f, 0.8f, -0.6f, 0.2f}},
};

TEST(RenderEndToEndTest, WorkedExamples) {
    TempDir dir;
    for (const WorkedRow& row : WORKED) {
        SCOPED_TRACE(row.name);
        const char* ext = row.kind == Kind::F32 ? ".tif" : ".png";
        const std::string in = dir / (std::string("w") + ext), out = dir / (std::string("o") + ext);
        std::vector<std::string> args{"render", in, "-o", out};
        args.insert(args.end(), row.args.begin(), row.args.end());
        if (row.kind == Kind::U8) {
            writeFile(in, 1, 1, 4,
                      std::vector<uint8_t>{uint8_t(row.in[1]), uint8_t(row.in[2]),
                                           uint8_t(row.in[3]), uint8_t(row.in[0])},
                      TypeDesc::UINT8);
        } else if (row.kind == Kind::U16) {
            std::vector<uint16_t> v;
            for (int c : {1, 2, 3, 0}) v.push_back(kcli::hostToFile16(uint16_t(row.in[c])));
            writeFile(in, 1, 1, 4, v, TypeDesc::UINT16);
        } else {
            writeFile(in, 1, 1, 4, std::vector<float>{row.in[1], row.in[2], row.in[3], row.in[0]},
                      TypeDesc::FLOAT);
        }
        const clitest::RunResult r = runTool(args, dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const FileImage got = readFile(out);
        const int order[4] = {1, 2, 3, 0};  // file RGBA <- host ARGB
        for (int c = 0; c < 4; ++c) {
            const float want = row.out[order[c]];
            if (row.kind == Kind::U8) {
                EXPECT_EQ(got.u[c], uint32_t(want)) << "channel " << c;
            } else if (row.kind == Kind::U16) {
                EXPECT_EQ(got.u[c], kcli::hostToFile16(uint16_t(want))) << "channel " << c;
            } else {
                EXPECT_NEAR(got.f[c], want, 1e-6f) << "channel " << c;
            }
        }
    }
}

// A 16-bit file made of host codes passes through the source view
// unchanged: every one of the 32769 codes, in every channel.
TEST(RenderEndToEndTest, SixteenBitRoundTripKeepsEveryHostCode) {
    TempDir dir;
    const int w = 256, h = 129;  // 33024 pixels >= 32769 codes
    std::vector<uint16_t> v;
    for (int i = 0; i < w * h; ++i) {
        const int code = std::min(i, 32768);
        for (int c : {code, 32768 - code, (code * 7919) % 32769, code})
            v.push_back(kcli::hostToFile16(static_cast<uint16_t>(c)));
    }
    const std::string in = dir / "all.png", out = dir / "all-out.png";
    writeFile(in, w, h, 4, v, TypeDesc::UINT16);
    const clitest::RunResult r = runTool({"render", in, "-o", out, "--view", "source"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const FileImage got = readFile(out);
    ASSERT_EQ(got.u.size(), v.size());
    int diffs = 0;
    for (std::size_t i = 0; i < v.size(); ++i) diffs += got.u[i] != v[i];
    EXPECT_EQ(diffs, 0);

    // Through a float EXR and back at 16 bits: the EXR holds code / 32768
    // premultiplied by alpha, and reading it at 16 bits (straight again)
    // gives every code back.
    ASSERT_EQ(
        runTool({"render", in, "-o", dir / "all.exr", "--view", "source"}, dir.path()).exitCode, 0);
    const FileImage exr = readFile(dir / "all.exr");
    ASSERT_EQ(exr.f.size(), v.size());
    for (int code : {0, 1, 16384, 32767, 32768})
        EXPECT_EQ(bitsOf(exr.f[static_cast<std::size_t>(code) * 4]),
                  bitsOf((code / 32768.0f) * (code / 32768.0f)))
            << code;
    ASSERT_EQ(runTool({"render", dir / "all.exr", "-o", dir / "back.png", "--view", "source",
                       "--depth", "16"},
                      dir.path())
                  .exitCode,
              0);
    const FileImage back = readFile(dir / "back.png");
    ASSERT_EQ(back.u.size(), v.size());
    // Premultiplied colour under alpha 0 is 0: only the covered pixels'
    // colour can come back.
    diffs = 0;
    for (std::size_t i = 0; i < v.size(); ++i) diffs += back.u[i] != v[i] && v[i - i % 4 + 3] != 0;
    EXPECT_EQ(diffs, 0);
}

// A file without alpha is opaque, and --depth renders it at another depth.
TEST(RenderEndToEndTest, RgbFileIsOpaqueAndDepthCanBeForced) {
    TempDir dir;
    const std::string in = dir / "rgb.png";
    const std::vector<uint8_t> rgb{0, 255, 0, 128, 128, 128};
    writeFile(in, 2, 1, 3, rgb, TypeDesc::UINT8);

    clitest::RunResult r =
        runTool({"render", in, "-o", dir / "src.png", "--view", "source"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    FileImage got = readFile(dir / "src.png");
    ASSERT_EQ(got.nchannels, 4);
    EXPECT_EQ(got.u, (std::vector<uint32_t>{0, 255, 0, 255, 128, 128, 128, 255}));

    r = runTool({"render", in, "-o", dir / "f.tif", "--depth", "32", "--key", "green"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    got = readFile(dir / "f.tif");
    ASSERT_EQ(got.format, TypeDesc::FLOAT);
    // The float path sees the file's values as OpenImageIO converts them.
    const FileImage asRead = readFile(in);
    kestrelumen::KeySettings s{};
    s.key_color = {1, 0, 1, 0};
    s.spill_size = 1;
    s.view = kestrelumen::VIEW_FINAL;
    for (int p = 0; p < 2; ++p) {
        PF_PixelFloat px{1, asRead.u[p * 3] / 255.0f, asRead.u[p * 3 + 1] / 255.0f,
                         asRead.u[p * 3 + 2] / 255.0f};
        PF_PixelFloat want{};
        kestrelumen::KeyPixelFloat(&s, 0, 0, &px, &want);
        EXPECT_NEAR(got.f[p * 4 + 0], want.red, 1e-6f);
        EXPECT_NEAR(got.f[p * 4 + 1], want.green, 1e-6f);
        EXPECT_NEAR(got.f[p * 4 + 2], want.blue, 1e-6f);
        EXPECT_NEAR(got.f[p * 4 + 3], want.alpha, 1e-6f);
    }

    r = runTool({"render", in, "-o", dir / "f16.png", "--depth", "16", "--view", "source"},
                dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    got = readFile(dir / "f16.png");
    EXPECT_EQ(got.format, TypeDesc::UINT16);
    EXPECT_EQ(got.u[1], 65535u);
}

// The bundled footage, whole frame, on several threads: every pixel as the
// kernel computes it, so no row or tile is lost or computed twice.
TEST(RenderEndToEndTest, SampleFootageMatchesTheKernelsEverywhere) {
    TempDir dir;
    kestrelumen::KeySettings s{};
    s.key_color = {1.0f, 0x17 / 255.0f, 0x8e / 255.0f, 0x2f / 255.0f};
    s.choke_clear = 0.25f;
    s.choke_opaque = 0.5f;
    s.spill_amount = 1.0f;
    s.spill_size = 0.35f;
    s.view = kestrelumen::VIEW_FINAL;
    const std::vector<std::string> settings{
        "--key",          "#178e2f", "--choke-transparent", "0.25", "--choke-opaque", "0.5",
        "--spill-amount", "1",       "--spill-size",        "0.35", "--threads",      "3"};
    for (const char* sample : {"greenscreen-8bit.png", "greenscreen-float.exr"}) {
        SCOPED_TRACE(sample);
        const std::string in = std::string(KESTRELUMEN_EXAMPLES) + "/" + sample;
        const bool isFloat = std::string(sample).find(".exr") != std::string::npos;
        const std::string out = dir / (isFloat ? "key.exr" : "key.png");
        std::vector<std::string> args{"render", in, "-o", out};
        args.insert(args.end(), settings.begin(), settings.end());
        const clitest::RunResult r = runTool(args, dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const FileImage src = readFile(in), got = readFile(out);
        ASSERT_EQ(src.nchannels, 3);
        ASSERT_EQ(got.nchannels, 4);
        const std::size_t n = static_cast<std::size_t>(src.width) * src.height;
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (isFloat) {
                PF_PixelFloat px{1.0f, src.f[i * 3], src.f[i * 3 + 1], src.f[i * 3 + 2]}, want{};
                kestrelumen::KeyPixelFloat(&s, 0, 0, &px, &want);
                // The sample is half, and so is its key; colour premultiplied.
                auto h = [](float v) {
                    uint16_t bits = 0;
                    OIIO::convert_pixel_values(TypeDesc::FLOAT, &v, TypeDesc::HALF, &bits, 1);
                    OIIO::convert_pixel_values(TypeDesc::HALF, &bits, TypeDesc::FLOAT, &v, 1);
                    return v;
                };
                const float w[4] = {h(want.red * want.alpha), h(want.green * want.alpha),
                                    h(want.blue * want.alpha), h(want.alpha)};
                for (int c = 0; c < 4; ++c) mismatches += bitsOf(got.f[i * 4 + c]) != bitsOf(w[c]);
            } else {
                PF_Pixel px{255, uint8_t(src.u[i * 3]), uint8_t(src.u[i * 3 + 1]),
                            uint8_t(src.u[i * 3 + 2])};
                PF_Pixel want{};
                kestrelumen::KeyPixel8(&s, 0, 0, &px, &want);
                const uint32_t w[4] = {want.red, want.green, want.blue, want.alpha};
                for (int c = 0; c < 4; ++c) mismatches += got.u[i * 4 + c] != w[c];
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

// Matte views may go to formats without alpha; the keyed image may not.
TEST(RenderEndToEndTest, MatteToJpegIsAllowed) {
    TempDir dir;
    const std::string in = dir / "in.png";
    writeFile(in, 1, 1, 4, std::vector<uint8_t>{0, 255, 0, 255}, TypeDesc::UINT8);
    const clitest::RunResult r = runTool(
        {"render", in, "-o", dir / "matte.jpg", "--key", "green", "--view", "alpha"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const FileImage got = readFile(dir / "matte.jpg");
    EXPECT_EQ(got.nchannels, 3);
    EXPECT_LE(got.u[0], 2u);  // transparent: black, give or take JPEG
}

}  // namespace

// The PNG encoder against OpenImageIO's reader (libpng, which checks every
// chunk's CRC and the zlib stream): what it reads back must be the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ToolHarness.h"
#include "cli/Depth16.h"
#include "cli/image/PngEncoder.h"

namespace {

using clitest::FileImage;
using clitest::readFile;
using clitest::TempDir;
using kcli::Depth;
using kcli::HostImage;

enum class Content { Noise, Gradient };

HostImage makeImage(Depth depth, int w, int h, Content content) {
    HostImage img;
    img.width = w;
    img.height = h;
    img.depth = depth;
    img.pixels.resize(img.rowBytes() * static_cast<std::size_t>(h));
    std::mt19937 rng(7);
    const std::size_t channels = static_cast<std::size_t>(w) * h * 4;
    for (std::size_t i = 0; i < channels; ++i) {
        const std::size_t x = (i / 4) % static_cast<std::size_t>(w);
        const double v = content == Content::Noise ? (rng() & 0xffff) / 65535.0
                                                   : static_cast<double>(x) / std::max(1, w - 1);
        if (depth == Depth::U8) img.pixels[i] = static_cast<uint8_t>(v * 255);
        if (depth == Depth::U16) {
            const auto s = static_cast<uint16_t>(v * 32768);
            std::memcpy(&img.pixels[2 * i], &s, 2);
        }
        if (depth == Depth::F32) {
            const auto f = static_cast<float>(v);
            std::memcpy(&img.pixels[4 * i], &f, 4);
        }
    }
    return img;
}

// What the file must hold for one host channel value (RGBA order is the
// reader's, ARGB the host's).
uint32_t fileValue(const HostImage& img, std::size_t i) {
    if (img.depth == Depth::U8) return img.pixels[i];
    if (img.depth == Depth::U16) {
        uint16_t s;
        std::memcpy(&s, &img.pixels[2 * i], 2);
        return kcli::hostToFile16(s);
    }
    float f;
    std::memcpy(&f, &img.pixels[4 * i], 4);
    return static_cast<uint32_t>(
        std::lround((std::isnan(f) ? 0.0f : std::clamp(f, 0.0f, 1.0f)) * 65535.0f));
}

std::vector<std::string> chunkTypes(const std::vector<unsigned char>& png) {
    std::vector<std::string> types;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t len =
            (std::size_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        types.emplace_back(reinterpret_cast<const char*>(&png[at + 4]), 4);
        at += len + 12;
    }
    return types;
}

TEST(PngEncoder, WhatTheReaderSeesIsTheFrame) {
    struct Row {
        const char* name;
        Depth depth;
        int w, h, level;
        Content content;
        int minIdat;  // incompressible frames over 1 MiB span several IDAT chunks
        bool metadata;
    } rows[] = {
        {"8-bit noise, several chunks, metadata", Depth::U8, 1100, 400, 1, Content::Noise, 2, true},
        {"8-bit gradient, predicted", Depth::U8, 300, 200, 6, Content::Gradient, 1, false},
        {"8-bit stored", Depth::U8, 700, 500, 0, Content::Noise, 2, false},
        {"16-bit noise, several chunks, metadata", Depth::U16, 700, 300, 1, Content::Noise, 2,
         true},
        {"16-bit gradient, level 9", Depth::U16, 64, 33, 9, Content::Gradient, 1, false},
        {"float gradient", Depth::F32, 257, 3, 1, Content::Gradient, 1, false},
        {"one pixel, metadata", Depth::U8, 1, 1, 1, Content::Noise, 1, true},
    };
    // 2835 per metre: 72 dots per inch, as the reader gives it.
    const kcli::PngMetadata metadata{{{"Software", "kestrelumen render in.png -o out.png"},
                                      {"Comment", "prise 3, \u00e9t\u00e9"}},
                                     kcli::PngDensity{2835, 5670, true}};
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const HostImage img = makeImage(r.depth, r.w, r.h, r.content);
        const kcli::PngMetadata given = r.metadata ? metadata : kcli::PngMetadata{};
        const std::vector<unsigned char> png = kcli::encodePng(img, r.level, given);
        // IHDR, the metadata where readers look for it, the pixels, IEND.
        std::vector<std::string> expected = {"IHDR"};
        if (given.density) expected.push_back("pHYs");
        for (const kcli::PngText& t : given.text)  // UTF-8 beyond ASCII goes in iTXt
            expected.push_back(t.second.find("\u00e9") == std::string::npos ? "tEXt" : "iTXt");
        const std::vector<std::string> types = chunkTypes(png);
        ASSERT_GE(types.size(), expected.size() + 2);
        EXPECT_EQ(std::vector<std::string>(types.begin(), types.begin() + expected.size()),
                  expected);
        for (std::size_t i = expected.size(); i + 1 < types.size(); ++i)
            EXPECT_EQ(types[i], "IDAT");
        EXPECT_EQ(types.back(), "IEND");
        EXPECT_GE(static_cast<int>(types.size() - 1 - expected.size()), r.minIdat);

        const std::string path = dir / "frame.png";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()),
                   static_cast<std::streamsize>(png.size()));
        const OIIO::ImageSpec read = OIIO::ImageInput::open(path)->spec();
        for (const kcli::PngText& t : given.text)
            EXPECT_EQ(read.get_string_attribute(t.first), t.second);
        if (given.density) {
            EXPECT_EQ(read.get_string_attribute("ResolutionUnit"), "inch");
            EXPECT_FLOAT_EQ(read.get_float_attribute("XResolution"), 2835 * 0.0254f);
            EXPECT_FLOAT_EQ(read.get_float_attribute("YResolution"), 5670 * 0.0254f);
        }
        const FileImage back = readFile(path);
        ASSERT_EQ(back.width, r.w);
        ASSERT_EQ(back.height, r.h);
        ASSERT_EQ(back.nchannels, 4);
        const std::size_t pixels = static_cast<std::size_t>(r.w) * r.h;
        std::size_t wrong = 0;
        for (std::size_t p = 0; p < pixels; ++p)
            for (std::size_t c = 0; c < 4; ++c)  // file R,G,B,A from host A,R,G,B
                wrong += back.u[4 * p + c] != fileValue(img, 4 * p + (c + 1) % 4);
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(PngEncoder, FloatOutsideTheUnitIsClamped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    HostImage img;
    img.width = 2;
    img.height = 1;
    img.depth = Depth::F32;
    const float px[8] = {1.0f, nan, -1.0f, 2.0f, 0.5f, 1.0f, 0.0f, 1.5f};
    img.pixels.resize(sizeof px);
    std::memcpy(img.pixels.data(), px, sizeof px);
    TempDir dir;
    const std::string path = dir / "f.png";
    const std::vector<unsigned char> png = kcli::encodePng(img, 1);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    const FileImage back = readFile(path);
    EXPECT_EQ(back.u, (std::vector<uint32_t>{0, 0, 65535, 65535, 65535, 0, 65535, 32768}));
}

}  // namespace

// The generated plate that every benchmark and bench/compare key: it must
// hold backing, subject and a soft edge at any size (else a small smoke run
// would leave most of the kernels' work untried and its bit-for-bit check
// weak), and its 8-bit pixels must be in the byte order ffmpeg is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/Plate.h"

namespace {

// Largest channel distance from the key colour, on 8-bit codes.
int Distance(const PF_Pixel& p) {
    const int dr = std::abs(p.red - kbench::KEY_RED);
    const int dg = std::abs(p.green - kbench::KEY_GREEN);
    const int db = std::abs(p.blue - kbench::KEY_BLUE);
    return std::max(dr, std::max(dg, db));
}

TEST(Plate, HoldsBackingSubjectAndEdgeAtEverySize) {
    const struct {
        int width, height;
    } sizes[] = {{kbench::UHD_WIDTH, kbench::UHD_HEIGHT}, {64, 36}, {48, 27}, {16, 9}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const std::vector<PF_Pixel> plate = kbench::MakePlate<PF_Pixel>(size.width, size.height);
        ASSERT_EQ(plate.size(), static_cast<std::size_t>(size.width) * size.height);
        std::size_t backing = 0, subject = 0, between = 0;
        for (const PF_Pixel& p : plate) {
            EXPECT_EQ(p.alpha, 255);
            const int d = Distance(p);
            if (d <= 12)
                ++backing;
            else if (d >= 80)
                ++subject;
            else
                ++between;
        }
        const double n = static_cast<double>(plate.size());
        EXPECT_GT(backing / n, 0.3) << backing;
        EXPECT_GT(subject / n, 0.2) << subject;
        EXPECT_GT(between, 0u);
    }
}

TEST(Plate, DepthsAgreeAndEightBitIsArgbBytes) {
    const int w = 40, h = 22;
    const std::vector<PF_Pixel> p8 = kbench::MakePlate<PF_Pixel>(w, h);
    const std::vector<PF_Pixel16> p16 = kbench::MakePlate<PF_Pixel16>(w, h);
    const std::vector<PF_PixelFloat> pf = kbench::MakePlate<PF_PixelFloat>(w, h);
    for (std::size_t i = 0; i < p8.size(); ++i) {
        SCOPED_TRACE(i);
        const A_u_char* bytes = reinterpret_cast<const A_u_char*>(&p8[i]);
        const float channels[4] = {pf[i].alpha, pf[i].red, pf[i].green, pf[i].blue};
        const A_u_short codes16[4] = {p16[i].alpha, p16[i].red, p16[i].green, p16[i].blue};
        for (int c = 0; c < 4; ++c) {
            // ffmpeg reads "argb": alpha in the first byte, then red, green, blue.
            EXPECT_EQ(bytes[c], std::lround(channels[c] * 255.0f)) << "channel " << c;
            EXPECT_EQ(codes16[c], std::lround(channels[c] * 32768.0f)) << "channel " << c;
        }
    }
}

TEST(Plate, SameSizeSamePixels) {
    const std::vector<PF_PixelFloat> a = kbench::MakePlate<PF_PixelFloat>(33, 17);
    const std::vector<PF_PixelFloat> b = kbench::MakePlate<PF_PixelFloat>(33, 17);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(PF_PixelFloat)));
}

}  // namespace

#include "cli/Depth16.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Every code the host can hold comes back unchanged from a 16-bit file.
TEST(Depth16Test, EveryHostCodeSurvivesTheRoundTrip) {
    int failures = 0;
    for (uint32_t h = 0; h <= 32768; ++h) {
        const uint16_t back = kcli::fileToHost16(kcli::hostToFile16(static_cast<uint16_t>(h)));
        if (back != h && ++failures < 5) ADD_FAILURE() << "host " << h << " came back as " << back;
    }
    EXPECT_EQ(failures, 0);
}

// Both directions give the nearest code, which a truncating or 65536-based
// mapping would not.
TEST(Depth16Test, BothDirectionsRoundToNearest) {
    for (uint32_t f = 0; f <= 65535; ++f) {
        const double exact = f * 32768.0 / 65535.0;
        ASSERT_LE(std::fabs(kcli::fileToHost16(static_cast<uint16_t>(f)) - exact), 0.5) << f;
    }
    for (uint32_t h = 0; h <= 32768; ++h) {
        const double exact = h * 65535.0 / 32768.0;
        ASSERT_LE(std::fabs(kcli::hostToFile16(static_cast<uint16_t>(h)) - exact), 0.5) << h;
    }
}

TEST(Depth16Test, KnownCodes) {
    const struct {
        uint16_t host, file;
    } rows[] = {
        {0, 0},         {1, 2},         {16384, 32768}, {19333, 38665},
        {32767, 65533}, {32768, 65535}, {40000, 65535},  // above white saturates
    };
    for (const auto& r : rows) EXPECT_EQ(kcli::hostToFile16(r.host), r.file) << r.host;
    EXPECT_EQ(kcli::fileToHost16(65534), 32767);  // 32767.49999 rounds down
    EXPECT_EQ(kcli::fileToHost16(1), 1);          // 0.50001 rounds up
}

}  // namespace

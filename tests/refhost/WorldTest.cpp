// Worlds are what every pixel test compares, so their row arithmetic and
// padding have to be right before anything built on them can be trusted.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "refhost/World.h"

namespace refhosttest {
namespace {

using refhost::Depth;
using refhost::World;

TEST(World, RowsAreRowbytesApartAndPaddingIsNotAPixel) {
    const struct {
        Depth depth;
        int width, height, extra;
        A_long rowbytes;
    } rows[] = {
        {Depth::U8, 3, 2, 0, 12},   {Depth::U8, 3, 2, 5, 17},  {Depth::U16, 3, 2, 6, 30},
        {Depth::F32, 3, 2, 16, 64}, {Depth::F32, 1, 2, 4, 20},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(refhost::depthName(r.depth) + std::string(" extra ") +
                     std::to_string(r.extra));
        World w(r.depth, r.width, r.height, r.extra);
        ASSERT_EQ(w.rowbytes(), r.rowbytes);
        const PF_EffectWorld* ew = w.effectWorld();
        EXPECT_EQ(ew->rowbytes, r.rowbytes);
        EXPECT_EQ(ew->width, r.width);
        EXPECT_EQ(ew->height, r.height);
        const auto* base = reinterpret_cast<const std::uint8_t*>(ew->data);
        EXPECT_EQ(w.rowBytes(1), base + r.rowbytes);
        // Writing every pixel leaves the padding alone; one byte past the
        // last pixel of a row is caught.
        for (int y = 0; y < r.height; ++y)
            std::memset(w.rowBytes(y), 0x11, static_cast<std::size_t>(r.width) * w.pixelSize());
        EXPECT_TRUE(w.paddingIntact());
        if (r.extra) {
            w.rowBytes(0)[static_cast<std::size_t>(r.width) * w.pixelSize()] = 0;
            EXPECT_FALSE(w.paddingIntact());
        }
    }
}

TEST(World, RefusesPaddingThatWouldMisalignRowsAndBadSizes) {
    EXPECT_THROW(World(Depth::U16, 2, 2, 3), std::invalid_argument);
    EXPECT_THROW(World(Depth::F32, 2, 2, 2), std::invalid_argument);
    EXPECT_THROW(World(Depth::U8, -1, 2), std::invalid_argument);
    EXPECT_THROW(World(Depth::U8, 2, 2, -4), std::invalid_argument);
    EXPECT_NO_THROW(World(Depth::U8, 0, 0));
}

TEST(World, TypedAccessChecksPixelTypeRowAndColumn) {
    World w(Depth::U16, 2, 2);
    EXPECT_THROW(w.row<PF_Pixel>(0), std::out_of_range);
    EXPECT_THROW(w.row<PF_PixelFloat>(0), std::out_of_range);
    EXPECT_THROW(w.row<PF_Pixel16>(2), std::out_of_range);
    EXPECT_THROW(w.row<PF_Pixel16>(-1), std::out_of_range);
    EXPECT_THROW(w.at<PF_Pixel16>(2, 0), std::out_of_range);
    w.at<PF_Pixel16>(1, 1) = PF_Pixel16{1, 2, 3, 4};
    EXPECT_EQ(w.row<PF_Pixel16>(1)[1].blue, 4);
}

TEST(World, SamePixelsComparesBitsAndIgnoresPadding) {
    World a(Depth::F32, 2, 2, 8), b(Depth::F32, 2, 2, 16);
    a.at<PF_PixelFloat>(1, 1).red = std::nanf("");
    b.at<PF_PixelFloat>(1, 1).red = std::nanf("");
    EXPECT_TRUE(a.samePixels(b));
    b.at<PF_PixelFloat>(0, 1).green = -0.0f;  // equal as a number, not as bits
    EXPECT_FALSE(a.samePixels(b));
    EXPECT_FALSE(a.samePixels(World(Depth::F32, 2, 3)));
    EXPECT_FALSE(World(Depth::U8, 2, 2).samePixels(World(Depth::U16, 2, 2)));
}

TEST(World, MovingKeepsPixelsAndRebindsTheRecord) {
    World a(Depth::U8, 2, 1, 4);
    a.at<PF_Pixel>(1, 0) = PF_Pixel{9, 8, 7, 6};
    World b(std::move(a));
    EXPECT_EQ(b.at<PF_Pixel>(1, 0).red, 8);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(b.effectWorld()->data), b.rowBytes(0));
    EXPECT_EQ(a.effectWorld()->data, nullptr);
}

}  // namespace
}  // namespace refhosttest

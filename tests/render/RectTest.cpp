#include "render/Rect.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using kestrelumen::RectIsEmpty;
using kestrelumen::RectMergeInto;

bool same(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(Rect, EmptyWhenNoPixelIsEnclosed) {
    const struct {
        PF_LRect rect;
        bool empty;
    } rows[] = {
        {{0, 0, 0, 0}, true},
        {{0, 0, 1, 1}, false},
        {{5, 0, 5, 10}, true},   // left == right
        {{0, 5, 10, 5}, true},   // top == bottom
        {{10, 0, 5, 10}, true},  // left > right
        {{-10, -10, -5, -5}, false},
        {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, false},
        {{INT_MAX, 0, INT_MIN, 1}, true},  // signed comparison, not unsigned
        {{-1, 0, 1, 1}, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RectIsEmpty(row.rect), row.empty) << row.rect.left << "," << row.rect.top << ","
                                                    << row.rect.right << "," << row.rect.bottom;
    }
}

TEST(Rect, MergeWidensTheDestinationToCoverTheSource) {
    const struct {
        const char* what;
        PF_LRect src;
        PF_LRect dst;
        PF_LRect expected;
    } rows[] = {
        {"bounding box", {-10, 20, 50, 200}, {0, 0, 100, 100}, {-10, 0, 100, 200}},
        {"empty dst takes src", {3, 4, 30, 40}, {0, 0, 0, 0}, {3, 4, 30, 40}},
        {"dst with left == right counts as empty", {3, 4, 30, 40}, {7, 0, 7, 100}, {3, 4, 30, 40}},
        {"empty dst takes even an empty src", {9, 9, 9, 1}, {0, 0, 0, 0}, {9, 9, 9, 1}},
        {"empty src leaves dst", {50, 50, 50, 60}, {0, 0, 100, 100}, {0, 0, 100, 100}},
        {"src inside dst", {10, 10, 20, 20}, {0, 0, 100, 100}, {0, 0, 100, 100}},
        {"negative coordinates", {-100, -50, -10, -5}, {-20, -20, 0, 0}, {-100, -50, 0, 0}},
        {"src with negative left is not empty", {-1, 0, 1, 1}, {0, 0, 1, 1}, {-1, 0, 1, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        PF_LRect dst = row.dst;
        const PF_LRect src = row.src;
        RectMergeInto(src, dst);
        EXPECT_TRUE(same(dst, row.expected))
            << dst.left << "," << dst.top << "," << dst.right << "," << dst.bottom;
        EXPECT_TRUE(same(src, row.src));
    }
}

}  // namespace

#include "cli/Sequence.h"

#include <gtest/gtest.h>

#include <fstream>

#include "ToolHarness.h"
#include "cli/ExitCodes.h"

namespace {

struct PatternRow {
    const char* pattern;
    int frame;
    const char* expected;  // nullptr: the pattern is refused
};

const PatternRow PATTERN_ROWS[] = {
    {"shot.####.exr", 7, "shot.0007.exr"},
    {"shot.#.exr", 7, "shot.7.exr"},
    {"shot.##.exr", 1234, "shot.1234.exr"},  // longer numbers keep every digit
    {"shot.%04d.exr", 42, "shot.0042.exr"},
    {"shot.%d.exr", 42, "shot.42.exr"},
    {"dir#1/shot.####.png", 3, "dir#1/shot.0003.png"},  // '#' in a folder is literal
    {"plain.png", 9, "plain.png"},
    {"100%.png", 9, "100%.png"},
    {"a.##.b.##.png", 1, nullptr},
};

TEST(SequenceTest, PatternsNameFrames) {
    for (const PatternRow& row : PATTERN_ROWS) {
        SCOPED_TRACE(row.pattern);
        if (!row.expected) {
            EXPECT_THROW(kcli::FramePattern(row.pattern, "-o"), kcli::Failure);
            continue;
        }
        const kcli::FramePattern p(row.pattern, "-o");
        EXPECT_EQ(p.path(row.frame), row.expected);
    }
}

struct FramesRow {
    const char* frames_text;
    std::vector<int> expected;  // empty: refused
};

TEST(SequenceTest, FrameLists) {
    const FramesRow rows[] = {
        {"1-5", {1, 2, 3, 4, 5}},
        {"7", {7}},
        {"0-2,10,12-13", {0, 1, 2, 10, 12, 13}},
        {"3-4,1-4", {3, 4, 1, 2}},  // each frame once, in the order written
        {"5-1", {}},
        {"", {}},
        {"1-", {}},
        {"-3", {}},
        {"a-b", {}},
        {"1,,2", {}},
        {"1-99999999999", {}},
    };
    for (const FramesRow& row : rows) {
        SCOPED_TRACE(row.frames_text);
        if (row.expected.empty()) {
            EXPECT_THROW(kcli::parseFrameList(row.frames_text), kcli::Failure);
        } else {
            EXPECT_EQ(kcli::parseFrameList(row.frames_text), row.expected);
        }
    }
}

TEST(SequenceTest, FramesOnDiskMatchPaddingPrefixAndSuffix) {
    clitest::TempDir dir;
    // s.00007.png is over-padded: a frame of "s.#####.png", not of this pattern.
    for (const char* name :
         {"s.0001.png", "s.0002.png", "s.0010.png", "s.12345.png", "s.1.png", "s.00007.png",
          "s.0003.exr", "t.0004.png", "s.00x5.png", "s.0006.png.bak"})
        std::ofstream(dir / name) << "x";
    const kcli::FramePattern p(dir / "s.####.png", "input");
    EXPECT_EQ(p.framesOnDisk(), (std::vector<int>{1, 2, 10, 12345}));
}

}  // namespace

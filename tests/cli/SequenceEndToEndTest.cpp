// Numbered sequences: every frame keyed, a gap in the numbering stops the
// run before anything is written unless the user asks to skip it.
#include <gtest/gtest.h>

#include "ToolHarness.h"

namespace {

using clitest::runTool;
using clitest::TempDir;
using clitest::writeFile;
using OIIO::TypeDesc;

void writeFrames(const TempDir& dir, std::initializer_list<int> frames) {
    for (int f : frames) {
        char name[32];
        std::snprintf(name, sizeof name, "shot.%04d.png", f);
        // Each frame's red channel carries its number, to catch mixed-up frames.
        writeFile(dir / name, 2, 1, 4,
                  std::vector<uint8_t>{uint8_t(f), 0, 0, 255, uint8_t(f), 0, 0, 255},
                  TypeDesc::UINT8);
    }
}

bool exists(const TempDir& dir, const std::string& name) {
    return std::filesystem::exists(dir / name);
}

TEST(SequenceEndToEndTest, EveryFrameKeyedToItsOwnNumber) {
    TempDir dir;
    writeFrames(dir, {1, 2, 3});
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "key.%04d.png", "--view", "source"},
                dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int f = 1; f <= 3; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "key.%04d.png", f);
        const clitest::FileImage got = clitest::readFile(dir / name);
        ASSERT_EQ(got.u.size(), 8u) << name;
        EXPECT_EQ(got.u[0], uint32_t(f)) << name;
    }
    EXPECT_NE(r.out.find("wrote 3 frames to"), std::string::npos) << r.out;
    // Not a terminal: no bar, only the closing line of a log.
    EXPECT_EQ(r.err.rfind("kestrelumen: frame 3, 3/3 (100%)", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(SequenceEndToEndTest, GapStopsBeforeAnyFrameIsWritten) {
    TempDir dir;
    writeFrames(dir, {1, 2, 3, 5});
    const auto before = dir.names();
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("shot.0004.png: frame 4 of the sequence is missing"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--skip-missing"), std::string::npos) << r.err;
    EXPECT_EQ(dir.names(), before);
}

TEST(SequenceEndToEndTest, RequestedRangeBeyondTheFilesIsAGap) {
    TempDir dir;
    writeFrames(dir, {1, 2});
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png", "--frames", "1-4"},
                dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("missing frames: 3, 4"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir, "key.0001.png"));
}

TEST(SequenceEndToEndTest, SkipMissingKeysTheRestAndWarns) {
    TempDir dir;
    writeFrames(dir, {1, 2, 3, 5});
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png", "--skip-missing"},
                dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("warning: skipping 1 missing frame: 4"), std::string::npos) << r.err;
    for (const char* name : {"key.0001.png", "key.0002.png", "key.0003.png", "key.0005.png"})
        EXPECT_TRUE(exists(dir, name)) << name;
    EXPECT_FALSE(exists(dir, "key.0004.png"));
}

TEST(SequenceEndToEndTest, FrameSubsetOnly) {
    TempDir dir;
    writeFrames(dir, {1, 2, 3, 5});
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png", "--frames", "2-3"},
                dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(exists(dir, "key.0001.png"));
    EXPECT_TRUE(exists(dir, "key.0002.png"));
    EXPECT_TRUE(exists(dir, "key.0003.png"));
}

// A frame of another size stops the run with the frames before it complete.
TEST(SequenceEndToEndTest, FrameOfAnotherSizeIsNamed) {
    TempDir dir;
    writeFrames(dir, {1, 2});
    writeFile(dir / "shot.0003.png", 3, 1, 4, std::vector<uint8_t>(12, 9), TypeDesc::UINT8);
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("shot.0003.png: 3x1 differs from the sequence's 2x1"), std::string::npos)
        << r.err;
    EXPECT_TRUE(exists(dir, "key.0002.png"));
    EXPECT_FALSE(exists(dir, "key.0003.png"));
}

// Frames of another depth than the first render at the first's, with a
// warning, as the sequence is one layer of one depth.
TEST(SequenceEndToEndTest, FrameOfAnotherDepthIsConvertedWithAWarning) {
    TempDir dir;
    writeFrames(dir, {1});
    writeFile(dir / "shot.0002.png", 2, 1, 4,
              std::vector<uint16_t>{514, 0, 0, 65535, 514, 0, 0, 65535}, TypeDesc::UINT16);
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png", "--view", "source"},
                dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("shot.0002.png is 16-bit; the sequence renders at 8-bit"),
              std::string::npos)
        << r.err;
    const clitest::FileImage got = clitest::readFile(dir / "key.0002.png");
    EXPECT_EQ(got.format, TypeDesc::UINT8);
    EXPECT_EQ(got.u[0], 2u);  // 514 / 257
}

TEST(SequenceEndToEndTest, OutputPatternOverlappingTheInputIsRefused) {
    TempDir dir;
    writeFrames(dir, {1, 2});
    const clitest::RunResult r =
        runTool({"render", dir / "shot.####.png", "-o", dir / "shot.%04d.png"}, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("would overwrite the input"), std::string::npos) << r.err;
}

}  // namespace

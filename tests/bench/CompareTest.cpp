// The arithmetic and verdicts of bench/compare on made-up timings: a wrong
// median, a net time that goes negative, or a missed goal printed as met
// would make the published table lie.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "bench/Compare.h"

namespace {

using kbench::Goal;
using kbench::Row;
using kbench::Summary;
using kbench::Verdict;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Equal, or both NaN.
void ExpectSame(double expected, double actual) {
    if (std::isnan(expected))
        EXPECT_TRUE(std::isnan(actual)) << actual;
    else
        EXPECT_DOUBLE_EQ(expected, actual);
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::string LineStartingWith(const std::string& text, const std::string& start) {
    std::size_t at = text.rfind("\n" + start);
    if (at == std::string::npos) return "";
    ++at;
    return text.substr(at, text.find('\n', at) - at);
}

TEST(CompareSummary, FastestAndMedianOfUnsortedSamples) {
    const struct {
        std::vector<double> samples;
        double min, median;
    } rows[] = {
        {{3.0}, 3.0, 3.0},
        {{5.0, 1.0, 3.0}, 1.0, 3.0},
        {{4.0, 1.0, 9.0, 2.0}, 1.0, 3.0},  // even count: mean of the middle two
        {{2.0, 2.0, 7.0, 2.0, 100.0}, 2.0, 2.0},
        {{}, NaN, NaN},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.samples));
        const Summary s = kbench::Summarise(row.samples);
        ExpectSame(row.min, s.min);
        ExpectSame(row.median, s.median);
    }
}

TEST(CompareSummary, NetTimePerFrameIsUnmeasuredUnlessPositive) {
    const struct {
        Summary with, without;
        int frames;
        double min, median;
    } rows[] = {
        {{3.0, 4.0}, {1.0, 1.5}, 4, 0.5, 0.625},
        {{1.0, 1.0}, {1.0, 1.0}, 4, NaN, NaN},   // nothing left of the filter
        {{0.9, 2.0}, {1.0, 1.0}, 4, NaN, 0.25},  // noise larger than the filter
        {{NaN, NaN}, {1.0, 1.0}, 4, NaN, NaN},   // filter not run
        {{3.0, 3.0}, {NaN, NaN}, 4, NaN, NaN},   // baseline not run
        {{3.0, 3.0}, {1.0, 1.0}, 0, NaN, NaN},
    };
    for (const auto& row : rows) {
        const Summary s = kbench::NetPerFrame(row.with, row.without, row.frames);
        ExpectSame(row.min, s.min);
        ExpectSame(row.median, s.median);
    }
}

TEST(CompareFfmpeg, FramesFromTheLastProgressLine) {
    const struct {
        std::string log;
        int frames;
    } rows[] = {
        {"frame=    1 fps=0.0 q=-0.0 size=N/A\rframe=   20 fps=9.1 q=-0.0 Lsize=N/A\n", 20},
        {"frame=7 fps=0.0", 7},
        {"Input #0, rawvideo\n  Stream #0:0: Video: rawvideo\n", -1},
        {"frame=  N/A", -1},
        {"frame=", -1},
        {"frame=99999999999999 fps=1", -1},  // not a count this tool asks for
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.log);
        EXPECT_EQ(row.frames, kbench::FramesReported(row.log));
    }
}

TEST(CompareFfmpeg, CommandKeepsEveryStageOnOneThreadAndReadsTheFrameCountAsked) {
    const std::vector<std::string> cmd =
        kbench::FfmpegCommand("ffmpeg", "/dev/shm/plate", 3840, 2160, 20, "colorkey", false);
    auto valueOf = [&cmd](const std::string& option, std::size_t from = 0) -> std::string {
        for (std::size_t i = from; i + 1 < cmd.size(); ++i)
            if (cmd[i] == option) return cmd[i + 1];
        return "";
    };
    std::size_t input = 0;
    while (input < cmd.size() && cmd[input] != "-i") ++input;
    ASSERT_LT(input, cmd.size());
    EXPECT_EQ("1", valueOf("-threads"));         // decoder
    EXPECT_EQ("1", valueOf("-threads", input));  // encoder
    EXPECT_EQ("1", valueOf("-filter_threads"));
    EXPECT_EQ("19", valueOf("-stream_loop"));  // read once plus 19 times again
    EXPECT_EQ("3840x2160", valueOf("-video_size"));
    EXPECT_EQ("argb", valueOf("-pix_fmt"));  // PF_Pixel's byte order
    EXPECT_EQ("colorkey", valueOf("-vf"));
    EXPECT_EQ("-", cmd.back());
}

TEST(CompareVerdicts, RatiosAgainstGoalsAndMissingRows) {
    const std::vector<Row> rows = {
        {"plain", {40.0, 41.0}},
        {"shipped", {10.0, 11.0}},
        {"slow shipped", {20.0, 20.0}},
        {"unmeasured", {NaN, NaN}},
    };
    const struct {
        Goal goal;
        double ratio;
        bool met;
    } table[] = {
        {{"at the goal", "plain", "shipped", 4.0}, 4.0, true},
        {{"above", "plain", "shipped", 3.5}, 4.0, true},
        {{"below", "plain", "slow shipped", 4.0}, 2.0, false},
        {{"no such row", "plain", "absent", 1.0}, NaN, false},
        {{"unmeasured row", "unmeasured", "shipped", 1.0}, NaN, false},
        {{"unmeasured faster", "plain", "unmeasured", 1.0}, NaN, false},
    };
    std::vector<Goal> goals;
    for (const auto& row : table) goals.push_back(row.goal);
    const std::vector<Verdict> verdicts = kbench::Judge(rows, goals);
    ASSERT_EQ(verdicts.size(), goals.size());
    for (std::size_t i = 0; i < goals.size(); ++i) {
        SCOPED_TRACE(table[i].goal.label);
        EXPECT_EQ(table[i].goal.label, verdicts[i].label);
        ExpectSame(table[i].ratio, verdicts[i].ratio);
        EXPECT_EQ(table[i].met, verdicts[i].met);
    }
}

TEST(CompareTable, MarksEveryMissAndPrintsUnmeasuredAsNotAvailable) {
    const double pixels = 1000.0;
    const std::vector<Row> rows = {
        {"8-bit shipped", {9.5e-6, 1.0e-5}},  // 9.5 ns/pixel, 0.0095 ms/frame
        {"ffmpeg colorkey (net), 8-bit", {NaN, NaN}},
    };
    const std::vector<Verdict> verdicts = {
        {"met", 4.2, 4.0, true},
        {"missed", 3.1, 4.0, false},
        {"unmeasured", NaN, 2.0, false},
    };
    const std::string table = kbench::FormatTable(rows, verdicts, pixels);
    EXPECT_NE(table.find("9.50"), std::string::npos) << table;
    EXPECT_NE(table.find("(10.00)"), std::string::npos) << table;
    EXPECT_EQ(Count(table, "n/a"), 4u) << table;  // three columns of the row, one ratio
    const struct {
        const char* label;
        bool marked;
    } lines[] = {{"met ", false}, {"missed ", true}, {"unmeasured ", true}};
    for (const auto& line : lines) {
        SCOPED_TRACE(line.label);
        EXPECT_EQ(line.marked,
                  LineStartingWith(table, line.label).find("MISSES GOAL") != std::string::npos)
            << table;
    }
}

}  // namespace

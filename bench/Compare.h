// The figures of bench/compare and how they are judged: summaries of
// repeated timings, ffmpeg's net time per frame, the ratios with their
// goals, and the printed table. Kept apart from the timing itself so that
// the arithmetic and the verdicts can be tested on made-up timings.
#pragma once

#include <string>
#include <vector>

namespace kbench {

// Seconds. Both NaN when nothing was measured (or, for a net time, when
// the difference is not positive: the filter's cost drowned in noise).
struct Summary {
    double min;
    double median;
};

Summary Summarise(std::vector<double> samples);

// A filter's own time per frame: what a run with it took beyond the same
// run with the `null` filter (decoding, startup and frame handling cancel
// out), divided by the frames of the run.
Summary NetPerFrame(const Summary& withFilter, const Summary& withNull, int frames);

// The number of frames ffmpeg's last progress line reports ("frame=  20 ..."),
// or -1 when there is none.
int FramesReported(const std::string& ffmpegLog);

// The command that times one filter chain: raw 8-bit ARGB frames of the
// given size read from `rawFile`, `frames` of them (the file holds one and
// is read again and again), every stage single-threaded, the output thrown
// away. `verbose` keeps the progress lines, for FramesReported().
std::vector<std::string> FfmpegCommand(const std::string& ffmpeg, const std::string& rawFile,
                                       int width, int height, int frames,
                                       const std::string& filters, bool verbose);

// One line of the table: time per frame (seconds).
struct Row {
    std::string label;
    Summary perFrame;
};

// A goal on the ratio time(slower) / time(faster) of two rows, found by
// label; `minimum` is the smallest ratio that meets it.
struct Goal {
    std::string label;
    std::string slower;
    std::string faster;
    double minimum;
};

struct Verdict {
    std::string label;
    double ratio;  // NaN when either row is missing or unmeasured
    double minimum;
    bool met;  // false also when not measured
};

std::vector<Verdict> Judge(const std::vector<Row>& rows, const std::vector<Goal>& goals);

// The printed report: the rows with ns/pixel (fastest and median run) and
// ms/frame, then each ratio with its goal and "MISSES GOAL" where it is
// missed or could not be measured.
std::string FormatTable(const std::vector<Row>& rows, const std::vector<Verdict>& verdicts,
                        double pixels);

}  // namespace kbench

#include "bench/Compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace kbench {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const Row* FindRow(const std::vector<Row>& rows, const std::string& label) {
    for (const Row& r : rows)
        if (r.label == label) return &r;
    return nullptr;
}

std::string Format(const char* format, double value) {
    if (std::isnan(value)) return "n/a";
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace

Summary Summarise(std::vector<double> samples) {
    if (samples.empty()) return {kNaN, kNaN};
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
    return {samples.front(), median};
}

Summary NetPerFrame(const Summary& withFilter, const Summary& withNull, int frames) {
    auto net = [frames](double with, double without) {
        const double d = with - without;
        // NaN compares false, so unmeasured inputs end here too.
        if (!(d > 0.0) || frames <= 0) return kNaN;
        return d / frames;
    };
    return {net(withFilter.min, withNull.min), net(withFilter.median, withNull.median)};
}

int FramesReported(const std::string& ffmpegLog) {
    const std::string key = "frame=";
    const std::size_t at = ffmpegLog.rfind(key);
    if (at == std::string::npos) return -1;
    std::size_t i = at + key.size();
    while (i < ffmpegLog.size() && ffmpegLog[i] == ' ') ++i;
    std::size_t end = i;
    while (end < ffmpegLog.size() && ffmpegLog[end] >= '0' && ffmpegLog[end] <= '9') ++end;
    if (end == i || end - i > 9) return -1;
    return std::atoi(ffmpegLog.substr(i, end - i).c_str());
}

std::vector<std::string> FfmpegCommand(const std::string& ffmpeg, const std::string& rawFile,
                                       int width, int height, int frames,
                                       const std::string& filters, bool verbose) {
    return {ffmpeg, "-hide_banner", "-nostdin", "-loglevel", verbose ? "info" : "error",
            verbose ? "-stats" : "-nostats",
            // Decoding, filtering and the (null) encoder each on one thread.
            "-threads", "1", "-filter_threads", "1", "-stream_loop", std::to_string(frames - 1),
            "-f", "rawvideo", "-pix_fmt", "argb", "-video_size",
            std::to_string(width) + "x" + std::to_string(height), "-i", rawFile, "-threads", "1",
            "-vf", filters, "-f", "null", "-"};
}

std::vector<Verdict> Judge(const std::vector<Row>& rows, const std::vector<Goal>& goals) {
    std::vector<Verdict> verdicts;
    for (const Goal& g : goals) {
        const Row* slower = FindRow(rows, g.slower);
        const Row* faster = FindRow(rows, g.faster);
        double ratio = kNaN;
        if (slower && faster && faster->perFrame.min > 0.0 && slower->perFrame.min > 0.0)
            ratio = slower->perFrame.min / faster->perFrame.min;
        verdicts.push_back({g.label, ratio, g.minimum, ratio >= g.minimum});
    }
    return verdicts;
}

std::string FormatTable(const std::vector<Row>& rows, const std::vector<Verdict>& verdicts,
                        double pixels) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%-40s %10s %10s %10s\n", "", "ns/pixel", "(median)",
                  "ms/frame");
    out += line;
    for (const Row& r : rows) {
        std::snprintf(line, sizeof line, "%-40s %10s %10s %10s\n", r.label.c_str(),
                      Format("%.2f", r.perFrame.min * 1e9 / pixels).c_str(),
                      Format("(%.2f)", r.perFrame.median * 1e9 / pixels).c_str(),
                      Format("%.2f", r.perFrame.min * 1e3).c_str());
        out += line;
    }
    out += "\n";
    std::snprintf(line, sizeof line, "%-44s %9s %9s\n", "Ratio (time of the slower / the faster)",
                  "measured", "goal");
    out += line;
    for (const Verdict& v : verdicts) {
        std::snprintf(line, sizeof line, "%-44s %9s %9s%s\n", v.label.c_str(),
                      Format("%.2fx", v.ratio).c_str(), Format(">= %.2fx", v.minimum).c_str(),
                      v.met ? "" : "   MISSES GOAL");
        out += line;
    }
    return out;
}

}  // namespace kbench

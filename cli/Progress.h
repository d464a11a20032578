// Progress of a sequence. On a terminal, a one-line bar redrawn at every
// frame; in a log (stderr not a terminal), a plain line at most every few
// seconds and one at the end, which a farm's log viewer shows as they come.
// Safe to call from several threads.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace kcli {

class Progress {
public:
    // `logInterval`: the least time between two lines in a log.
    Progress(int total, bool enabled, double logIntervalSeconds = 5.0);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void frameDone(int frame);
    // Prints a line above the bar without breaking it.
    void note(const std::string& line);
    // The closing line in a log; a run that failed ends without it.
    void finish();

private:
    void draw();
    double seconds() const;

    std::mutex mutex_;
    int total_;
    int done_ = 0;
    int lastFrame_ = 0;
    bool enabled_;
    bool terminal_;
    bool drawn_ = false;
    double logInterval_;
    double lastLog_ = 0;
    std::chrono::steady_clock::time_point start_;
};

// The bar's text, apart for testing: "[=====>    ]  12/240 frame 1012  3.1 fps  ETA 1:13"
std::string progressLine(int done, int total, int frame, double seconds, int barWidth);
// A log line: "kestrelumen: frame 1012, 12/240 (5%), 3.1 fps, 1:13 left"
std::string progressLogLine(int done, int total, int frame, double seconds);

}  // namespace kcli

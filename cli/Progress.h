// A one-line progress bar on the terminal for sequences: frame n/N, frames
// per second and the time left. Silent when stderr is not a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace kcli {

class Progress {
public:
    Progress(int total, bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void frameDone(int frame);
    // Prints a line above the bar without breaking it.
    void note(const std::string& line);
    void finish();

private:
    void draw();

    int total_;
    int done_ = 0;
    int lastFrame_ = 0;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
};

// The bar's text, apart for testing: "[=====>    ]  12/240 frame 1012  3.1 fps  ETA 1:13"
std::string progressLine(int done, int total, int frame, double seconds, int barWidth);

}  // namespace kcli

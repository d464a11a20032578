#include "cli/Progress.h"

#include <unistd.h>

#include <cmath>

namespace kcli {

std::string progressLine(int done, int total, int frame, double seconds, int barWidth) {
    std::string bar(static_cast<std::size_t>(barWidth), ' ');
    const int filled = total > 0 ? done * barWidth / total : barWidth;
    for (int i = 0; i < filled; ++i) bar[static_cast<std::size_t>(i)] = '=';
    if (filled < barWidth && done > 0) bar[static_cast<std::size_t>(filled)] = '>';
    char buf[160];
    const double fps = seconds > 0 ? done / seconds : 0.0;
    std::string eta = "--:--";
    if (fps > 0) {
        const long left = std::lround((total - done) / fps);
        char t[32];
        if (left >= 3600)
            std::snprintf(t, sizeof t, "%ld:%02ld:%02ld", left / 3600, left / 60 % 60, left % 60);
        else
            std::snprintf(t, sizeof t, "%ld:%02ld", left / 60, left % 60);
        eta = t;
    }
    std::snprintf(buf, sizeof buf, "[%s] %d/%d frame %d  %.1f fps  ETA %s", bar.c_str(), done,
                  total, frame, fps, eta.c_str());
    return buf;
}

Progress::Progress(int total, bool enabled)
    : total_(total), enabled_(enabled && ::isatty(STDERR_FILENO)),
      start_(std::chrono::steady_clock::now()) {
    // Shown at once: the first frame of a large sequence can take a while.
    if (enabled_) draw();
}

Progress::~Progress() { finish(); }

void Progress::draw() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\r%s\033[K", progressLine(done_, total_, lastFrame_, seconds, 30).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::frameDone(int frame) {
    ++done_;
    lastFrame_ = frame;
    if (enabled_) draw();
}

void Progress::note(const std::string& line) {
    if (drawn_) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "%s\n", line.c_str());
    if (drawn_) draw();
}

void Progress::finish() {
    if (drawn_) std::fputs("\n", stderr);
    drawn_ = false;
    enabled_ = false;
}

}  // namespace kcli

#include "cli/Progress.h"

#include <unistd.h>

#include <cmath>

#include "cli/image/DecoderMessages.h"

namespace kcli {
namespace {

// "1:13", "2:01:13"; "--:--" before the rate is known.
std::string timeLeft(int done, int total, double seconds) {
    const double fps = seconds > 0 ? done / seconds : 0.0;
    if (!(fps > 0)) return "--:--";
    const long left = std::lround((total - done) / fps);
    char t[32];
    if (left >= 3600)
        std::snprintf(t, sizeof t, "%ld:%02ld:%02ld", left / 3600, left / 60 % 60, left % 60);
    else
        std::snprintf(t, sizeof t, "%ld:%02ld", left / 60, left % 60);
    return t;
}

}  // namespace

std::string progressLine(int done, int total, int frame, double seconds, int barWidth) {
    std::string bar(static_cast<std::size_t>(barWidth), ' ');
    const int filled = total > 0 ? done * barWidth / total : barWidth;
    for (int i = 0; i < filled; ++i) bar[static_cast<std::size_t>(i)] = '=';
    if (filled < barWidth && done > 0) bar[static_cast<std::size_t>(filled)] = '>';
    char buf[160];
    const double fps = seconds > 0 ? done / seconds : 0.0;
    std::snprintf(buf, sizeof buf, "[%s] %d/%d frame %d  %.1f fps  ETA %s", bar.c_str(), done,
                  total, frame, fps, timeLeft(done, total, seconds).c_str());
    return buf;
}

std::string progressLogLine(int done, int total, int frame, double seconds) {
    char buf[160];
    const double fps = seconds > 0 ? done / seconds : 0.0;
    const int percent = total > 0 ? static_cast<int>(100LL * done / total) : 100;
    std::snprintf(buf, sizeof buf, "kestrelumen: frame %d, %d/%d (%d%%), %.1f fps, %s left", frame,
                  done, total, percent, fps, timeLeft(done, total, seconds).c_str());
    return buf;
}

Progress::Progress(int total, bool enabled, double logIntervalSeconds)
    : total_(total),
      enabled_(enabled),
      terminal_(::isatty(STDERR_FILENO) != 0),
      logInterval_(logIntervalSeconds),
      start_(std::chrono::steady_clock::now()) {
    // Shown at once: the first frame of a large sequence can take a while.
    if (enabled_ && terminal_) draw();
}

Progress::~Progress() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (drawn_) writeStderr("\n");
    drawn_ = false;
    enabled_ = false;
}

double Progress::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::draw() {
    writeStderr("\r" + progressLine(done_, total_, lastFrame_, seconds(), 30) + "\033[K");
    drawn_ = true;
}

void Progress::frameDone(int frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Frames written at once finish in any order: the furthest one is named,
    // so the closing line names the sequence's last frame whatever the timing.
    if (++done_ == 1 || frame > lastFrame_) lastFrame_ = frame;
    if (!enabled_) return;
    if (terminal_) {
        draw();
        return;
    }
    // The last frame's line is left to finish(), so it is printed once.
    const double now = seconds();
    if (done_ < total_ && now - lastLog_ >= logInterval_) {
        writeStderr(progressLogLine(done_, total_, lastFrame_, now) + "\n");
        lastLog_ = now;
    }
}

void Progress::note(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeStderr((drawn_ ? "\r\033[K" : "") + line + "\n");
    if (drawn_) draw();
}

void Progress::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (drawn_) writeStderr("\n");
    if (enabled_ && !terminal_ && done_ > 0)
        writeStderr(progressLogLine(done_, total_, lastFrame_, seconds()) + "\n");
    drawn_ = false;
    enabled_ = false;
}

}  // namespace kcli

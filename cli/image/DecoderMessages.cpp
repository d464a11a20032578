#include "cli/image/DecoderMessages.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace kcli {

std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s.empty() ? "unknown error" : s;
}

namespace {

std::mutex g_parkLock;
int g_parked = 0;    // QuietStderr objects alive
int g_savedFd = -1;  // the real stderr while parked

}  // namespace

QuietStderr::QuietStderr() {
    std::lock_guard<std::mutex> lock(g_parkLock);
    if (g_parked++ > 0) return;
    std::fflush(stderr);
    g_savedFd = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (g_savedFd >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
}

QuietStderr::~QuietStderr() {
    std::lock_guard<std::mutex> lock(g_parkLock);
    if (--g_parked > 0) return;
    if (g_savedFd >= 0) {
        std::fflush(stderr);
        ::dup2(g_savedFd, STDERR_FILENO);
        ::close(g_savedFd);
        g_savedFd = -1;
    }
}

void writeStderr(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_parkLock);
    std::fflush(stderr);
    const int fd = g_parked > 0 && g_savedFd >= 0 ? g_savedFd : STDERR_FILENO;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;  // nowhere left to complain to
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace kcli

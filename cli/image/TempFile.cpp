#include "cli/image/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/ExitCodes.h"

namespace fs = std::filesystem;

namespace kcli {
namespace {

// The temporaries being written, for the interrupt handler: plain storage
// that a signal handler may read. A slot's path is written while the slot is
// claimed (1) and published by setting it to 2; the handler reads only
// published slots. Frames written on several threads each take one.
constexpr int SLOTS = 256;
constexpr std::size_t PATH_MAX_BYTES = 4096;
char g_paths[SLOTS][PATH_MAX_BYTES];
std::atomic<int> g_state[SLOTS];

static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

int claimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX_BYTES) return -1;
    for (int i = 0; i < SLOTS; ++i) {
        int expected = 0;
        if (g_state[i].compare_exchange_strong(expected, 1)) {
            std::memcpy(g_paths[i], path.c_str(), path.size() + 1);
            g_state[i].store(2);
            return i;
        }
    }
    return -1;  // more in flight than slots: that one is not cleaned on a signal
}

void releaseSlot(int slot) {
    if (slot >= 0) g_state[slot].store(0);
}

extern "C" void removeTempAndDie(int sig) {
    removeTemporariesNow();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void removeTemporariesNow() noexcept {
    for (int i = 0; i < SLOTS; ++i)
        if (g_state[i].load() == 2) ::unlink(g_paths[i]);
}

TempFile::TempFile(const std::string& finalPath) : final_(finalPath) {
    const fs::path p(finalPath);
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    // Hidden, in the same folder so the rename cannot cross file systems.
    path_ = (dir / ("." + p.filename().string() + "." + std::to_string(::getpid()) +
                    ".kestrelumen-tmp"))
                .string();
    slot_ = claimSlot(path_);
}

TempFile::~TempFile() {
    if (!committed_) ::unlink(path_.c_str());
    releaseSlot(slot_);
}

void TempFile::writeAll(const std::vector<unsigned char>& bytes) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw Failure(EXIT_IO, final_ + ": cannot be written: " + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : EIO;
            ::close(fd);
            throw Failure(EXIT_IO, final_ + ": cannot be written: " + std::strerror(e));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int e = errno;
        ::close(fd);
        throw Failure(EXIT_IO, final_ + ": cannot be written: " + std::strerror(e));
    }
    if (::close(fd) != 0)
        throw Failure(EXIT_IO, final_ + ": cannot be written: " + std::strerror(errno));
}

void TempFile::commit() {
    std::error_code ec;
    fs::rename(path_, final_, ec);
    if (ec) throw Failure(EXIT_IO, final_ + ": cannot be written: " + ec.message());
    committed_ = true;
    releaseSlot(slot_);
    slot_ = -1;
}

void installInterruptCleanup() {
    std::signal(SIGINT, removeTempAndDie);
    std::signal(SIGTERM, removeTempAndDie);
    std::signal(SIGHUP, removeTempAndDie);
}

}  // namespace kcli

#include "cli/image/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/ExitCodes.h"

namespace fs = std::filesystem;

namespace kcli {

void checkOutputPlace(const std::string& finalPath) {
    std::error_code ec;
    const fs::path p(finalPath);
    if (fs::is_directory(p, ec)) throw Failure(EXIT_BAD_INPUT, finalPath + ": is a folder");
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    if (!fs::is_directory(dir, ec))
        throw Failure(EXIT_BAD_INPUT, finalPath + ": folder '" + dir.string() + "' does not exist");
}

TempFile::TempFile(const std::string& finalPath) : final_(finalPath) {
    const fs::path p(finalPath);
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    // Hidden, in the same folder so the rename cannot cross file systems.
    path_ = (dir /
             ("." + p.filename().string() + "." + std::to_string(::getpid()) + ".kestrelumen-tmp"))
                .string();
}

TempFile::~TempFile() {
    if (!committed_) ::unlink(path_.c_str());
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
}

}  // namespace kcli

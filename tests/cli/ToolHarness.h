// Runs the built tool as a user would and makes the small image files the
// end-to-end tests feed it.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace clitest {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "kestrelumen-cli-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

    // Every name in the folder, hidden temporaries included.
    std::set<std::string> names() const {
        std::set<std::string> n;
        for (const auto& e : fs::directory_iterator(path_)) n.insert(e.path().filename().string());
        return n;
    }

    // Every entry with, for regular files, its size and a hash of its bytes:
    // two equal snapshots mean nothing in the folder was added, removed or
    // rewritten.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> s;
        for (const auto& e : fs::directory_iterator(path_)) {
            const std::string name = e.path().filename().string();
            if (name == ".stdout" || name == ".stderr") continue;
            std::error_code ec;
            if (!e.is_regular_file(ec)) {
                s[name] = "<not a file>";
                continue;
            }
            const std::string bytes = slurp(e.path());
            uint64_t h = 1469598103934665603u;
            for (unsigned char b : bytes) h = (h ^ b) * 1099511628211u;
            s[name] = std::to_string(bytes.size()) + " bytes, hash " + std::to_string(h);
        }
        return s;
    }

private:
    fs::path path_;
};

// What the tool's process may meet besides its arguments.
struct RunLimits {
    long fileSizeBytes = 0;  // RLIMIT_FSIZE when > 0: a disk that fills up
    unsigned seconds = 0;    // killed by SIGALRM after this when > 0: a hang
    // Run as a user without rights when the test runs as root, for whom
    // file permissions do not apply.
    bool unprivileged = false;
    // Another copy of the tool to run instead of the built one (e.g. one
    // that an unprivileged user can reach); empty for the built one.
    std::string executable;
    // Sanitizer suppression files for the tool's process, when the built-in
    // ones (in the source tree) are out of the running user's reach.
    std::string lsanSuppressions = CLI_TEST_LSAN_SUPP;
    std::string tsanSuppressions = CLI_TEST_TSAN_SUPP;
};

// Sends `signal` to the tool once `when` (polled while it runs) returns
// true: an interrupt from the keyboard or a farm's manager.
struct SignalWhen {
    int signal = 0;
    std::function<bool()> when;
};

constexpr uid_t NOBODY = 65534;

// Runs the tool with `args` as a shell would (default signal dispositions:
// a full disk under a file-size limit raises SIGXFSZ, which kills unless
// the tool handles it), stdout and stderr captured through files.
inline RunResult runTool(const std::vector<std::string>& args, const fs::path& scratch,
                         const RunLimits& limits = {}, const SignalWhen& interrupt = {}) {
    const fs::path outFile = scratch / ".stdout", errFile = scratch / ".stderr";
    // Everything the child needs is made before the fork: another thread of
    // this process may hold the allocator's lock at that moment, and a child
    // that allocates (as setenv and freopen do) would wait for it forever.
    std::string tool = limits.executable.empty() ? KESTRELUMEN_TOOL : limits.executable;
    std::vector<std::string> argStrings = args;
    std::vector<char*> argv{tool.data()};
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Harmless without sanitizers. With them, full stacks let the
    // suppressions name the third-party leak precisely.
    const std::map<std::string, std::string> extra = {
        {"ASAN_OPTIONS", "fast_unwind_on_malloc=0"},
        {"LSAN_OPTIONS", "suppressions=" + limits.lsanSuppressions + ":print_suppressions=0"},
        {"TSAN_OPTIONS", "suppressions=" + limits.tsanSuppressions + ":print_suppressions=0"}};
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!extra.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
    }
    for (const auto& [var, more] : extra) {
        const char* old = std::getenv(var.c_str());
        envStrings.push_back(var + "=" + (old && *old ? std::string(old) + ":" : "") + more);
    }
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int outFd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const rlimit fileSize{static_cast<rlim_t>(limits.fileSizeBytes),
                          static_cast<rlim_t>(limits.fileSizeBytes)};
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to the exec.
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) ::_exit(127);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGXFSZ, &dfl, nullptr);
        if (limits.fileSizeBytes > 0) ::setrlimit(RLIMIT_FSIZE, &fileSize);
        if (limits.unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)
                ::_exit(126);
        }
        if (limits.seconds > 0) ::alarm(limits.seconds);  // survives exec
        ::execve(tool.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (outFd >= 0) ::close(outFd);
    if (errFd >= 0) ::close(errFd);
    int status = 0;
    bool signalled = false;
    while (interrupt.when && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (!signalled && interrupt.when()) {
            ::kill(pid, interrupt.signal);
            signalled = true;
        }
        ::usleep(2000);
    }
    if (!interrupt.when) ::waitpid(pid, &status, 0);
    RunResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(outFile);
    r.err = slurp(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return r;
}

// Writes `data` (interleaved, nch channels) as given: alpha is not
// associated on the way out.
template <typename T>
void writeFile(const std::string& path, int w, int h, int nch, const std::vector<T>& data,
               OIIO::TypeDesc type) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << path;
    OIIO::ImageSpec imageSpec(w, h, nch, type);
    if (nch == 4) imageSpec.alpha_channel = 3;
    imageSpec.attribute("oiio:UnassociatedAlpha", 1);
    ASSERT_TRUE(out->open(path, imageSpec)) << out->geterror();
    ASSERT_TRUE(out->write_image(type, data.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

struct FileImage {
    int width = 0, height = 0, nchannels = 0;
    OIIO::TypeDesc format;
    std::vector<float> f;     // as float, for float files
    std::vector<uint32_t> u;  // as integers in the file's own scale
};

inline FileImage readFile(const std::string& path) {
    FileImage img;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
        return img;
    }
    const OIIO::ImageSpec& s = in->spec();
    img.width = s.width;
    img.height = s.height;
    img.nchannels = s.nchannels;
    img.format = s.format;
    const std::size_t n = static_cast<std::size_t>(s.width) * s.height * s.nchannels;
    if (s.format == OIIO::TypeDesc::UINT8) {
        std::vector<uint8_t> b(n);
        EXPECT_TRUE(in->read_image(0, 0, 0, s.nchannels, OIIO::TypeDesc::UINT8, b.data()));
        img.u.assign(b.begin(), b.end());
    } else if (s.format == OIIO::TypeDesc::UINT16) {
        std::vector<uint16_t> b(n);
        EXPECT_TRUE(in->read_image(0, 0, 0, s.nchannels, OIIO::TypeDesc::UINT16, b.data()));
        img.u.assign(b.begin(), b.end());
    } else {
        img.f.resize(n);
        EXPECT_TRUE(in->read_image(0, 0, 0, s.nchannels, OIIO::TypeDesc::FLOAT, img.f.data()));
    }
    return img;
}

inline uint32_t bitsOf(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace clitest

// compare_kernels: the figures of bench/compare, taken in one run on one
// generated green-screen plate (bench/Plate.h), on the one core the process
// may run on (bench/compare pins it with taskset):
//  - a memcpy of the frame, per depth: the memory traffic alone;
//  - per depth, one kernel call per pixel through a function pointer from
//    a plain row loop: an empty kernel (copies the pixel: the call floor),
//    the plain rendering of the steps (plain/PlainKeyKernels.h) and
//    the shipped kernels;
//  - ffmpeg's colorkey and colorkey,despill on the same plate at 8 bits,
//    net of the same run through ffmpeg's null filter.
// Every figure is taken `--repeats` times, the measurements interleaved so
// that a burst of load elsewhere spreads over all of them; the table shows
// the fastest run and the median. Times are CPU times by default (see
// Timing), wall-clock times with --timing wall. It then prints the ratios with their goals
// (marking misses), and checks that the shipped kernels' output is
// bit-identical to the plain rendering's on the plate.
//
// Exit status: 0 when everything was measured (goals met or not), 1 when the
// shipped output differs from the plain one, 2 on a usage or run error.
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Compare.h"
#include "bench/Plate.h"
#include "plain/PlainKeyKernels.h"
#include "render/KeyKernels.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// What a sample measures. CPU time (of this thread, or of the ffmpeg
// process) leaves out the time the core spent on other processes, which
// keeps the figures usable on a machine others are compiling on; on a quiet
// machine with the process pinned, it and wall-clock time agree.
enum class Timing { Cpu, Wall };

struct Options {
    int width = kbench::UHD_WIDTH;
    int height = kbench::UHD_HEIGHT;
    int repeats = 5;
    std::string ffmpeg = "ffmpeg";
    int ffmpegFrames = 20;
    std::string tmpDir = "/dev/shm";
    Timing timing = Timing::Cpu;
};

class RunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

// Starts a stopwatch of the chosen kind; the returned function reads it.
std::function<double()> Stopwatch(Timing timing) {
    if (timing == Timing::Cpu) {
        const double start = ThreadCpuSeconds();
        return [start] { return ThreadCpuSeconds() - start; };
    }
    const Clock::time_point start = Clock::now();
    return [start] { return Seconds(Clock::now() - start); };
}

// ---- Kernels from a plain row loop ------------------------------------------------

using kbench::CopyPixel;
using kbench::Kernel;

// The pointer is read through a volatile once per row, as a host's iterate
// holds it: the compiler cannot see which kernel runs, so nothing is inlined.
template <typename Pixel>
PF_Err KeyFrame(Kernel<Pixel> kernel, kestrelumen::KeySettings& ks, Pixel* in, Pixel* out,
                int width, int height) {
    Kernel<Pixel> volatile slot = kernel;
    PF_Err err = PF_Err_NONE;
    for (int y = 0; y < height; ++y) {
        const Kernel<Pixel> k = slot;
        Pixel* row_in = in + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        Pixel* row_out = out + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int x = 0; x < width; ++x) err |= k(&ks, x, y, row_in + x, row_out + x);
    }
    return err;
}

// One thing to time: `run` does one pass over the frame.
struct Task {
    std::string label;
    std::function<void()> run;
    std::vector<double> samples;  // seconds per frame
};

// Enough passes per sample that a tiny frame still takes a measurable time.
int PassesFor(double pixels) { return std::max(1, static_cast<int>(std::ceil(2.0e6 / pixels))); }

template <typename Pixel>
struct DepthBench {
    const char* name;
    Kernel<Pixel> plain;
    Kernel<Pixel> shipped;
    std::vector<Pixel> in, plainOut, shippedOut;

    void addTasks(std::vector<Task>& tasks, kestrelumen::KeySettings& ks, int width, int height) {
        const std::size_t bytes = in.size() * sizeof(Pixel);
        const std::string n = name;
        auto key = [this, &ks, width, height](Kernel<Pixel> k, std::vector<Pixel>& out) {
            if (KeyFrame(k, ks, in.data(), out.data(), width, height) != PF_Err_NONE)
                throw RunError("a kernel returned an error");
        };
        tasks.push_back({"memcpy of the frame, " + n,
                         [this, bytes] { std::memcpy(shippedOut.data(), in.data(), bytes); },
                         {}});
        tasks.push_back({n + " empty kernel (call floor)",
                         [this, key] { key(CopyPixel<Pixel>, shippedOut); },
                         {}});
        tasks.push_back({n + " plain", [this, key] { key(plain, plainOut); }, {}});
        tasks.push_back({n + " shipped", [this, key] { key(shipped, shippedOut); }, {}});
    }

    // Pixels whose bytes differ between the plain and the shipped output.
    std::size_t differences() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < in.size(); ++i)
            n += std::memcmp(&plainOut[i], &shippedOut[i], sizeof(Pixel)) != 0;
        return n;
    }
};

template <typename Pixel>
DepthBench<Pixel> MakeDepth(const char* name, Kernel<Pixel> plain, Kernel<Pixel> shipped,
                            const std::vector<kbench::PlateColour>& plate) {
    DepthBench<Pixel> d{name, plain, shipped, {}, {}, {}};
    d.in.reserve(plate.size());
    for (const kbench::PlateColour& c : plate) d.in.push_back(kbench::ToPixel<Pixel>(c));
    // Touched before timing, so that no pass pays for first-touch page faults.
    d.plainOut.assign(plate.size(), Pixel{});
    d.shippedOut.assign(plate.size(), Pixel{});
    return d;
}

// ---- ffmpeg ---------------------------------------------------------------------

// Runs argv[0] (searched in PATH) with stdout and stderr into `logFile`,
// and returns the time it took: its CPU time (user and system, all its
// threads) or the wall-clock time. Throws RunError when it cannot be
// started or does not exit with status 0.
double RunTimed(const std::vector<std::string>& args, const std::string& logFile,
                Timing timing = Timing::Wall) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const Clock::time_point start = Clock::now();
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw RunError("cannot run " + args[0] + ": " + std::strerror(spawned));
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) throw RunError("waiting for " + args[0] + ": " + std::strerror(errno));
    const double elapsed = timing == Timing::Cpu ? Seconds(usage.ru_utime) + Seconds(usage.ru_stime)
                                                 : Seconds(Clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::ifstream log(logFile);
        std::stringstream text;
        text << log.rdbuf();
        throw RunError(args[0] + " failed (status " + std::to_string(status) + "):\n" + text.str());
    }
    return elapsed;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream text;
    text << f.rdbuf();
    return text.str();
}

// A file that is removed when the object goes, whatever the exit path.
class TempFile {
public:
    TempFile(const std::string& dir, const std::string& stem) {
        std::string pattern = dir + "/kestrelumen-" + stem + "-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        const int fd = mkstemp(buf.data());
        if (fd < 0) throw RunError("cannot create a file in " + dir + ": " + std::strerror(errno));
        close(fd);
        path_ = buf.data();
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct FfmpegChain {
    std::string label;
    std::string filters;
    std::vector<double> samples;  // seconds per run of all frames
};

// ---- The machine ------------------------------------------------------------------

std::string AffinityText() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return "CPU affinity unknown";
    const int count = CPU_COUNT(&set);
    if (count != 1) return "NOT pinned: may run on " + std::to_string(count) + " CPUs";
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) return "pinned to CPU " + std::to_string(cpu);
    return "pinned";
}

std::string LoadText() {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) < 1) return "load average unknown";
    char buf[96];
    std::snprintf(buf, sizeof buf, "load average %.2f %.2f %.2f", load[0], load[1], load[2]);
    return buf;
}

int Run(const Options& o) {
    const double pixels = static_cast<double>(o.width) * o.height;
    const int passes = PassesFor(pixels);
    std::printf("Plate %dx%d, %d repeat(s), %d pass(es) per sample, %s; %s; %s at start\n", o.width,
                o.height, o.repeats, passes,
                o.timing == Timing::Cpu ? "CPU time" : "wall-clock time", AffinityText().c_str(),
                LoadText().c_str());
    std::fflush(stdout);

    std::vector<kbench::PlateColour> plate;
    plate.reserve(static_cast<std::size_t>(pixels));
    for (int y = 0; y < o.height; ++y)
        for (int x = 0; x < o.width; ++x) plate.push_back(kbench::PlateAt(x, y, o.width, o.height));

    kestrelumen::KeySettings ks = kbench::BenchSettings();
    auto d8 = MakeDepth<PF_Pixel>("8-bit", plain::KeyPixel8, kestrelumen::KeyPixel8, plate);
    auto d16 = MakeDepth<PF_Pixel16>("16-bit", plain::KeyPixel16, kestrelumen::KeyPixel16, plate);
    auto dF =
        MakeDepth<PF_PixelFloat>("float", plain::KeyPixelFloat, kestrelumen::KeyPixelFloat, plate);
    plate = {};
    std::vector<Task> tasks;
    d8.addTasks(tasks, ks, o.width, o.height);
    d16.addTasks(tasks, ks, o.width, o.height);
    dF.addTasks(tasks, ks, o.width, o.height);

    // ffmpeg reads the 8-bit plate as raw ARGB: the byte order of PF_Pixel.
    std::vector<FfmpegChain> chains;
    std::unique_ptr<TempFile> raw, log;
    std::string ffmpegVersion;
    if (o.ffmpeg != "none") {
        raw = std::make_unique<TempFile>(o.tmpDir, "plate");
        log = std::make_unique<TempFile>(o.tmpDir, "ffmpeg-log");
        {
            std::ofstream f(raw->path(), std::ios::binary);
            f.write(reinterpret_cast<const char*>(d8.in.data()),
                    static_cast<std::streamsize>(d8.in.size() * sizeof(PF_Pixel)));
            if (!f) throw RunError("cannot write the plate to " + raw->path());
        }
        RunTimed({o.ffmpeg, "-hide_banner", "-version"}, log->path());
        const std::string version = ReadFile(log->path());
        ffmpegVersion = version.substr(0, std::min(version.find('\n'), version.find(" Copyright")));
        char key[32];
        std::snprintf(key, sizeof key, "0x%02X%02X%02X", kbench::KEY_RED, kbench::KEY_GREEN,
                      kbench::KEY_BLUE);
        const std::string colorkey =
            std::string("colorkey=color=") + key + ":similarity=0.3:blend=0.1";
        chains = {{"null", "null", {}},
                  {"colorkey", colorkey, {}},
                  {"colorkey,despill", colorkey + ",despill=type=green", {}}};
        // An untimed run of each, which also checks that every frame went through.
        for (FfmpegChain& c : chains) {
            RunTimed(kbench::FfmpegCommand(o.ffmpeg, raw->path(), o.width, o.height, o.ffmpegFrames,
                                           c.filters, true),
                     log->path());
            const int frames = kbench::FramesReported(ReadFile(log->path()));
            if (frames != o.ffmpegFrames)
                throw RunError("ffmpeg " + c.filters + " reported " + std::to_string(frames) +
                               " frames, expected " + std::to_string(o.ffmpegFrames));
        }
    }

    for (Task& t : tasks) t.run();  // warm-up: caches, branch history, page tables
    for (int r = 0; r < o.repeats; ++r) {
        for (Task& t : tasks) {
            const std::function<double()> elapsed = Stopwatch(o.timing);
            for (int p = 0; p < passes; ++p) t.run();
            t.samples.push_back(elapsed() / passes);
        }
        for (FfmpegChain& c : chains)
            c.samples.push_back(
                RunTimed(kbench::FfmpegCommand(o.ffmpeg, raw->path(), o.width, o.height,
                                               o.ffmpegFrames, c.filters, false),
                         log->path(), o.timing));
        std::fprintf(stderr, "compare: repeat %d of %d done\n", r + 1, o.repeats);
    }

    std::vector<kbench::Row> rows;
    for (const Task& t : tasks) rows.push_back({t.label, kbench::Summarise(t.samples)});
    if (!chains.empty()) {
        const kbench::Summary null = kbench::Summarise(chains[0].samples);
        for (std::size_t i = 1; i < chains.size(); ++i)
            rows.push_back(
                {"ffmpeg " + chains[i].label + " (net), 8-bit",
                 kbench::NetPerFrame(kbench::Summarise(chains[i].samples), null, o.ffmpegFrames)});
    }
    const std::vector<kbench::Goal> goals = {
        {"8-bit: shipped vs plain", "8-bit plain", "8-bit shipped", 4.0},
        {"16-bit: shipped vs plain", "16-bit plain", "16-bit shipped", 3.5},
        {"float: shipped vs plain", "float plain", "float shipped", 1.9},
        // "About as fast": within 15 %.
        {"8-bit: shipped vs colorkey", "ffmpeg colorkey (net), 8-bit", "8-bit shipped", 0.85},
        {"8-bit: shipped vs colorkey,despill", "ffmpeg colorkey,despill (net), 8-bit",
         "8-bit shipped", 2.0},
    };
    std::printf("\n%s", kbench::FormatTable(rows, kbench::Judge(rows, goals), pixels).c_str());
    if (o.ffmpeg == "none")
        std::printf("ffmpeg not run (--ffmpeg none)\n");
    else
        std::printf("%s, %d frames per run, net of the same run through its null filter\n",
                    ffmpegVersion.c_str(), o.ffmpegFrames);

    const std::size_t diff8 = d8.differences(), diff16 = d16.differences(),
                      diffF = dF.differences();
    std::printf("Shipped output vs plain, bit for bit: 8-bit %s, 16-bit %s, float %s\n",
                diff8 ? (std::to_string(diff8) + " pixels DIFFER").c_str() : "identical",
                diff16 ? (std::to_string(diff16) + " pixels DIFFER").c_str() : "identical",
                diffF ? (std::to_string(diffF) + " pixels DIFFER").c_str() : "identical");
    std::printf("%s at end\n", LoadText().c_str());
    return diff8 || diff16 || diffF ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{
        "Times the keying kernels against their plain rendering, a memcpy and ffmpeg's "
        "colorkey on one generated green-screen plate, single-threaded.",
        "compare_kernels"};
    app.add_option("--width", o.width, "Plate width")->check(CLI::Range(1, 16384));
    app.add_option("--height", o.height, "Plate height")->check(CLI::Range(1, 16384));
    app.add_option("--repeats", o.repeats,
                   "Timed runs of everything; the table shows the fastest and the median")
        ->check(CLI::Range(1, 1000));
    app.add_option("--ffmpeg", o.ffmpeg, "ffmpeg to run, or \"none\" to skip it");
    app.add_option("--ffmpeg-frames", o.ffmpegFrames, "Frames per ffmpeg run")
        ->check(CLI::Range(1, 100000));
    app.add_option("--tmp", o.tmpDir, "Folder for the raw plate ffmpeg reads (best a tmpfs)");
    std::string timing = "cpu";
    app.add_option("--timing", timing,
                   "cpu: CPU time of this thread and of ffmpeg (robust to other load); "
                   "wall: wall-clock time")
        ->check(CLI::IsMember({"cpu", "wall"}));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    o.timing = timing == "wall" ? Timing::Wall : Timing::Cpu;
    if (o.tmpDir == "/dev/shm" && access("/dev/shm", W_OK) != 0) o.tmpDir = "/tmp";
    try {
        return Run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "compare: %s\n", e.what());
        return 2;
    }
}

// The keying effect as the compositing host runs it, over a generated
// 3840x2160 green-screen plate (bench/Plate.h):
//
//  Iterate/<kernel>/<depth>/threads:N
//      one kernel through the reference host's iterate suite of that depth, the
//      call the effect's render pass makes; "copy" is an empty kernel that
//      copies the pixel, so Iterate/copy minus kernel_bench's Key*/empty is
//      what iterate adds per pixel over a plain row loop.
//  Frame/<depth>/threads:N
//      a whole frame through the built effect library loaded by the
//      reference host: pre-render, render (parameter checkout, settings
//      handle, iterate) and the host's bookkeeping. ms per frame.
//
// N is 1 and every core. Time is wall-clock time; "process_cpu_ms" is the
// CPU time of all threads per iteration. After the table, the scaling of
// each pair (time on 1 thread / time on N threads) is printed with the goal
// of 1.8x on 2 cores, marked where it is missed, next to the scaling that
// the CPU times predict for free cores (see ScalingReporter).
//
//   build/<dir>/bench/frame_bench                      # everything
//   build/<dir>/bench/frame_bench --benchmark_filter=Frame --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/Plate.h"
#include "entry/ParamTable.h"
#include "host/HostSuites.h"
#include "refhost/RefHost.h"
#include "render/KeyKernels.h"

namespace {

using refhost::Depth;
using refhost::World;

constexpr int kWidth = kbench::UHD_WIDTH;
constexpr int kHeight = kbench::UHD_HEIGHT;
constexpr double kPixels = static_cast<double>(kWidth) * kHeight;

// Pass-through entry point for a host that only lends its suites.
PF_Err NoEntry(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
    return PF_Err_NONE;
}

template <typename Pixel>
void FillWorld(World& w) {
    for (int y = 0; y < w.height(); ++y)
        kbench::FillPlateRow(w.row<Pixel>(y), y, w.width(), w.height());
}

void FillPlate(World& w) {
    switch (w.depth()) {
        case Depth::U8: FillWorld<PF_Pixel>(w); break;
        case Depth::U16: FillWorld<PF_Pixel16>(w); break;
        case Depth::F32: FillWorld<PF_PixelFloat>(w); break;
    }
}

// One plate per depth for the whole run; generating a 4K plate takes longer
// than keying it.
const World& Plate(Depth depth) {
    static std::map<Depth, std::unique_ptr<World>> plates;
    std::unique_ptr<World>& p = plates[depth];
    if (!p) {
        p = std::make_unique<World>(depth, kWidth, kHeight);
        FillPlate(*p);
    }
    return *p;
}

std::unique_ptr<World> CopyOfPlate(Depth depth) {
    const World& plate = Plate(depth);
    auto w = std::make_unique<World>(depth, kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        std::copy(plate.rowBytes(y), plate.rowBytes(y) + kWidth * plate.pixelSize(),
                  w->rowBytes(y));
    return w;
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The CPU time of every thread of the process (the benchmark's own CPU
// column counts the calling thread only), per iteration, in ms. With the
// calling thread's, it tells how the work was shared between the threads.
void SetProcessCpu(benchmark::State& state, double cpuAtStart) {
    state.counters["process_cpu_ms"] = benchmark::Counter((ProcessCpuSeconds() - cpuAtStart) * 1e3,
                                                          benchmark::Counter::kAvgIterations);
}

void SetPerPixel(benchmark::State& state, unsigned threads) {
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kPixels));
    // Wall-clock time per pixel of the frame (not per pixel per thread).
    state.counters["per_pixel"] = benchmark::Counter(
        kPixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["threads"] = threads;
}

// ---- Kernels through iterate ---------------------------------------------------

template <typename Pixel>
PF_Err CopyPixel(void*, A_long, A_long, Pixel* in, Pixel* out) {
    *out = *in;
    return PF_Err_NONE;
}

// Runs `fn` over the frame through the iterate suite `Suite` found under
// `name`, as the render pass does (whole frame, no area, source given).
template <typename Suite, typename Pixel>
void IterateWith(benchmark::State& state, const char* name, int32_t version,
                 PF_Err (*fn)(void*, A_long, A_long, Pixel*, Pixel*), Depth depth) {
    const unsigned threads = static_cast<unsigned>(state.range(0));
    refhost::Host host(NoEntry, refhost::HostOptions{threads});
    std::unique_ptr<World> in = CopyOfPlate(depth);
    World out(depth, kWidth, kHeight);
    kestrelumen::KeySettings ks = kbench::BenchSettings();

    refhost::Host::CallScope scope(host);
    host.exposeWorld(*in);
    host.exposeWorld(out);
    const void* raw = nullptr;
    if (host.basicSuite()->AcquireSuite(name, version, &raw) != 0 || !raw) {
        state.SkipWithError("the host does not offer the iterate suite");
        return;
    }
    const Suite* suite = static_cast<const Suite*>(raw);
    PF_InData* in_data = host.inData();
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        const PF_Err err = suite->iterate(in_data, 0, kHeight, in->effectWorld(), nullptr, &ks, fn,
                                          out.effectWorld());
        if (err != PF_Err_NONE) {
            state.SkipWithError(("iterate returned " + std::to_string(err)).c_str());
            break;
        }
        benchmark::ClobberMemory();
    }
    SetProcessCpu(state, cpu);
    host.basicSuite()->ReleaseSuite(name, version);
    host.forgetWorlds();
    SetPerPixel(state, host.threads());
}

void Iterate(benchmark::State& state, bool copy, Depth depth) {
    switch (depth) {
        case Depth::U8:
            IterateWith<PF_Iterate8Suite1, PF_Pixel>(
                state, kPFIterate8Suite, kPFIterate8SuiteVersion1,
                copy ? CopyPixel<PF_Pixel> : kestrelumen::KeyPixel8, depth);
            break;
        case Depth::U16:
            IterateWith<PF_Iterate16Suite1, PF_Pixel16>(
                state, kPFIterate16Suite, kPFIterate16SuiteVersion1,
                copy ? CopyPixel<PF_Pixel16> : kestrelumen::KeyPixel16, depth);
            break;
        case Depth::F32:
            IterateWith<PF_IterateFloatSuite1, PF_PixelFloat>(
                state, kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1,
                copy ? CopyPixel<PF_PixelFloat> : kestrelumen::KeyPixelFloat, depth);
            break;
    }
}

// ---- Whole frames through the effect library -------------------------------------

// The library is loaded once; every benchmark makes its own Host over it,
// as a host does for each instance of the effect.
const refhost::PluginLibrary& Library() {
    static const refhost::PluginLibrary lib = refhost::PluginLibrary::load(KESTRELUMEN_PLUGIN_PATH);
    return lib;
}

std::string CommandError(const char* what, const refhost::CommandResult& r) {
    std::string text = std::string(what) + " returned " + std::to_string(r.err);
    if (r.displaysError()) text += ": " + r.message();
    return text;
}

void Frame(benchmark::State& state, Depth depth) {
    const unsigned threads = static_cast<unsigned>(state.range(0));
    std::unique_ptr<refhost::Host> host;
    try {
        host = std::make_unique<refhost::Host>(Library(), refhost::HostOptions{threads});
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const refhost::CommandResult global = host->globalSetup();
    if (global.err != PF_Err_NONE) {
        state.SkipWithError(CommandError("global setup", global).c_str());
        return;
    }
    const refhost::CommandResult params = host->paramsSetup();
    if (params.err != PF_Err_NONE) {
        state.SkipWithError(CommandError("parameter setup", params).c_str());
        return;
    }
    host->setColor(kestrelumen::PARAM_KEY_COLOR,
                   PF_Pixel{255, kbench::KEY_RED, kbench::KEY_GREEN, kbench::KEY_BLUE});
    host->setFloat(kestrelumen::PARAM_CHOKE_TRANSPARENT, kbench::CHOKE_CLEAR);
    host->setFloat(kestrelumen::PARAM_CHOKE_OPAQUE, kbench::CHOKE_OPAQUE);
    host->setFloat(kestrelumen::PARAM_SPILL_AMOUNT, kbench::SPILL_AMOUNT);
    host->setFloat(kestrelumen::PARAM_SPILL_SIZE, kbench::SPILL_SIZE);
    host->setPopup(kestrelumen::PARAM_VIEW, kestrelumen::VIEW_FINAL);

    std::unique_ptr<World> in = CopyOfPlate(depth);
    World out(depth, kWidth, kHeight);
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        const refhost::FrameResult r = host->renderFrame(*in, out);
        if (r.err() != PF_Err_NONE) {
            state.SkipWithError(
                CommandError(r.render ? "render" : "pre-render", r.render ? *r.render : r.preRender)
                    .c_str());
            break;
        }
        benchmark::ClobberMemory();
    }
    SetProcessCpu(state, cpu);
    SetPerPixel(state, host->threads());
}

// ---- Registration -------------------------------------------------------------

unsigned AllThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

std::vector<int64_t> ThreadCounts() {
    std::vector<int64_t> counts{1};
    if (AllThreads() > 1) counts.push_back(AllThreads());
    return counts;
}

// Names read "Iterate/shipped/8-bit/threads:1"; the scaling summary pairs
// the names that differ only in the thread count.
void RegisterAll() {
    const std::pair<const char*, Depth> depths[] = {
        {"8-bit", Depth::U8}, {"16-bit", Depth::U16}, {"float", Depth::F32}};
    auto threads = [](benchmark::internal::Benchmark* b) {
        b->ArgName("threads");
        for (int64_t t : ThreadCounts()) b->Arg(t);
        b->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    for (const char* kernel : {"shipped", "copy"})
        for (const auto& [name, depth] : depths) {
            const bool copy = std::string(kernel) == "copy";
            const Depth d = depth;
            benchmark::RegisterBenchmark(
                ("Iterate/" + std::string(kernel) + "/" + name).c_str(),
                [copy, d](benchmark::State& state) { Iterate(state, copy, d); })
                ->Apply(threads);
        }
    for (const auto& [name, depth] : depths) {
        const Depth d = depth;
        benchmark::RegisterBenchmark(("Frame/" + std::string(name)).c_str(),
                                     [d](benchmark::State& state) { Frame(state, d); })
            ->Apply(threads);
    }
}

// ---- Scaling summary ------------------------------------------------------------

// The console table, then for every benchmark measured on 1 thread and on
// more: the measured scaling, time(1 thread) / time(N threads) in wall-clock
// time, which is the goal; and the scaling the CPU times predict for free
// cores, time(1 thread) / the busiest thread's time, where the calling
// thread's CPU time is its own rows plus everything the host does around
// iterate, and the other threads share the rest. On a machine that other
// processes keep busy, the first falls short and the second still tells
// whether the work is split well. With repetitions, the fastest counts
// (the median when only aggregates are reported).
class ScalingReporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal, so that a saved table is plain text.
    ScalingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With --benchmark_report_aggregates_only only the aggregates
            // come; the median stands in for the runs then.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
            const std::string name = run.benchmark_name();
            const std::size_t at = name.rfind("/threads:");
            const auto process = run.counters.find("process_cpu_ms");
            if (at == std::string::npos || process == run.counters.end()) continue;
            const unsigned threads = static_cast<unsigned>(std::stoul(name.substr(at + 9)));
            Times& t = times_[name.substr(0, at)][threads];
            // Every benchmark here reports in ms.
            keepMin(t.wall, run.GetAdjustedRealTime());
            keepMin(t.callingCpu, run.GetAdjustedCPUTime());
            keepMin(t.processCpu, process->second.value);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const auto& [key, byThreads] : times_) {
            const auto one = byThreads.find(1);
            if (one == byThreads.end()) continue;
            for (const auto& [threads, t] : byThreads) {
                if (threads < 2 || t.wall <= 0.0) continue;
                if (!header) {
                    std::printf(
                        "\nScaling, time on 1 thread / time on N (goal %.1fx on 2 cores):\n"
                        "%-26s %8s %10s %16s\n",
                        kGoalOnTwo, "", "threads", "measured", "CPU-time estimate");
                    header = true;
                }
                const double measured = one->second.wall / t.wall;
                const double others = (t.processCpu - t.callingCpu) / (threads - 1);
                const double busiest = std::max(t.callingCpu, others);
                const double estimate = busiest > 0.0 ? one->second.processCpu / busiest : 0.0;
                // The goal is 90% of linear; beyond 2 cores the same share.
                const double goal = kGoalOnTwo / 2.0 * threads;
                std::printf("%-26s %8u %9.2fx %15.2fx%s\n", key.c_str(), threads, measured,
                            estimate, measured < goal ? "   MISSES GOAL" : "");
            }
        }
        std::fflush(stdout);
    }

private:
    struct Times {
        double wall = 0.0, callingCpu = 0.0, processCpu = 0.0;  // ms per iteration
    };
    static void keepMin(double& slot, double value) {
        slot = slot == 0.0 ? value : std::min(slot, value);
    }
    static constexpr double kGoalOnTwo = 1.8;
    std::map<std::string, std::map<unsigned, Times>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ScalingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

// The keying kernels as the host runs them: one call per pixel through a
// function pointer, from a plain row loop, over a generated 3840x2160
// green-screen plate. Three kernels per depth: the plain rendering of the
// steps (the baseline), the shipped kernels, and an empty kernel that only
// copies the pixel, which measures the cost of the call and the memory
// traffic alone. The "per_pixel" counter (CPU time per pixel) is the figure
// to compare; "controls:0" has every control in play, "controls:1" is a key
// colour with the sliders at their defaults. On one core, e.g.:
//   taskset -c 1 build/linux/bench/kernel_bench
//       --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bench/Plate.h"
#include "plain/PlainKeyKernels.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace {

constexpr int kWidth = kbench::UHD_WIDTH;
constexpr int kHeight = kbench::UHD_HEIGHT;

using kbench::CopyPixel;
using kbench::Kernel;

// The plate every benchmark and the ffmpeg comparison key.
template <typename Pixel>
const std::vector<Pixel>& Plate() {
    static const std::vector<Pixel> plate = kbench::MakePlate<Pixel>(kWidth, kHeight);
    return plate;
}

// Two sets of controls: every control in play (each step divides), and a key
// colour with every slider at its default (where the kernels can skip the
// divisions by 1).
kestrelumen::KeySettings Controls(int which) {
    kestrelumen::KeySettings ks{};
    ks.key_color = {1.0f, 0.12f, 0.70f, 0.18f};
    ks.view = kestrelumen::VIEW_FINAL;
    if (which == 0) {
        ks.choke_clear = 0.1f;
        ks.choke_opaque = 0.2f;
        ks.spill_amount = 0.6f;
        ks.spill_size = 0.5f;
    } else {
        ks.spill_size = 1.0f;
    }
    return ks;
}

// The pointer is read through a volatile once per row, as the host's iterate
// holds it: the compiler cannot see which kernel runs, so nothing is inlined.
template <typename Pixel>
void KeyFrame(benchmark::State& state, Kernel<Pixel> kernel) {
    const std::vector<Pixel>& in = Plate<Pixel>();
    std::vector<Pixel> out(in.size());
    std::vector<Pixel> src = in;
    kestrelumen::KeySettings ks = Controls(static_cast<int>(state.range(0)));
    Kernel<Pixel> volatile slot = kernel;
    for (auto _ : state) {
        PF_Err err = PF_Err_NONE;
        for (int y = 0; y < kHeight; ++y) {
            const Kernel<Pixel> k = slot;
            Pixel* row_in = src.data() + static_cast<size_t>(y) * kWidth;
            Pixel* row_out = out.data() + static_cast<size_t>(y) * kWidth;
            for (int x = 0; x < kWidth; ++x) err |= k(&ks, x, y, row_in + x, row_out + x);
        }
        benchmark::DoNotOptimize(err);
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(kWidth) * kHeight;
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pixels));
    state.counters["per_pixel"] = benchmark::Counter(
        pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgName("controls")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}

void Key8(benchmark::State& state, Kernel<PF_Pixel> k) { KeyFrame<PF_Pixel>(state, k); }
void Key16(benchmark::State& state, Kernel<PF_Pixel16> k) { KeyFrame<PF_Pixel16>(state, k); }
void KeyFloat(benchmark::State& state, Kernel<PF_PixelFloat> k) {
    KeyFrame<PF_PixelFloat>(state, k);
}

}  // namespace

BENCHMARK_CAPTURE(Key8, empty, CopyPixel<PF_Pixel>)->Apply(Args);
BENCHMARK_CAPTURE(Key8, plain, plain::KeyPixel8)->Apply(Args);
BENCHMARK_CAPTURE(Key8, shipped, kestrelumen::KeyPixel8)->Apply(Args);
BENCHMARK_CAPTURE(Key16, empty, CopyPixel<PF_Pixel16>)->Apply(Args);
BENCHMARK_CAPTURE(Key16, plain, plain::KeyPixel16)->Apply(Args);
BENCHMARK_CAPTURE(Key16, shipped, kestrelumen::KeyPixel16)->Apply(Args);
BENCHMARK_CAPTURE(KeyFloat, empty, CopyPixel<PF_PixelFloat>)->Apply(Args);
BENCHMARK_CAPTURE(KeyFloat, plain, plain::KeyPixelFloat)->Apply(Args);
BENCHMARK_CAPTURE(KeyFloat, shipped, kestrelumen::KeyPixelFloat)->Apply(Args);

BENCHMARK_MAIN();

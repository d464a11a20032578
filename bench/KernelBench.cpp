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

#include "render/KeyKernels.h"
#include "render/KeySettings.h"
#include "tests/support/PlainKeyKernels.h"

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

template <typename Pixel>
using Kernel = PF_Err (*)(void*, A_long, A_long, Pixel*, Pixel*);

template <typename Pixel>
PF_Err CopyPixel(void*, A_long, A_long, Pixel* in, Pixel* out) {
    *out = *in;
    return PF_Err_NONE;
}

// A cheap, repeatable hash noise in [-1, 1].
float Noise(uint32_t x, uint32_t y, uint32_t salt) {
    uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ salt * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<float>(h & 0xffff) / 32767.5f - 1.0f;
}

// An opaque camera plate: a lit green backing with grain and a gradient, a
// subject (a tilted ellipse of warm, textured colour) with a soft edge, and
// green spill on the subject near its edge.
struct PlateColour {
    float a, r, g, b;
};

PlateColour PlateAt(int x, int y) {
    const float u = (static_cast<float>(x) + 0.5f) / kWidth;
    const float v = (static_cast<float>(y) + 0.5f) / kHeight;
    const float light = 0.9f + 0.1f * (1.0f - v);
    const float grain = 0.02f * Noise(x, y, 1);
    const PlateColour back{1.0f, 0.12f * light + grain, 0.72f * light + grain,
                           0.18f * light + grain};
    const float dx = (u - 0.5f) * 1.6f + (v - 0.5f) * 0.3f;
    const float dy = (v - 0.55f) * 1.1f;
    const float r = std::sqrt(dx * dx + dy * dy);
    const float edge = 0.42f;
    const float soft = 0.004f;
    float cover = (edge - r) / soft * 0.5f + 0.5f;
    cover = cover < 0.0f ? 0.0f : (cover > 1.0f ? 1.0f : cover);
    const float tex = 0.05f * Noise(x / 3, y / 3, 2);
    const float spill = r > edge - 0.05f ? (r - (edge - 0.05f)) / 0.05f * 0.15f : 0.0f;
    const PlateColour fore{1.0f, 0.78f + tex, 0.52f + tex + spill, 0.42f + tex};
    auto mix = [cover](float f, float k) { return cover * f + (1.0f - cover) * k; };
    auto unit = [](float c) { return c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c); };
    return {1.0f, unit(mix(fore.r, back.r)), unit(mix(fore.g, back.g)), unit(mix(fore.b, back.b))};
}

template <typename Pixel>
Pixel ToPixel(const PlateColour& c);

template <>
PF_Pixel ToPixel<PF_Pixel>(const PlateColour& c) {
    auto q = [](float f) { return static_cast<A_u_char>(std::lround(f * 255.0f)); };
    return {q(c.a), q(c.r), q(c.g), q(c.b)};
}
template <>
PF_Pixel16 ToPixel<PF_Pixel16>(const PlateColour& c) {
    auto q = [](float f) { return static_cast<A_u_short>(std::lround(f * 32768.0f)); };
    return {q(c.a), q(c.r), q(c.g), q(c.b)};
}
template <>
PF_PixelFloat ToPixel<PF_PixelFloat>(const PlateColour& c) {
    return {c.a, c.r, c.g, c.b};
}

template <typename Pixel>
const std::vector<Pixel>& Plate() {
    static const std::vector<Pixel> plate = [] {
        std::vector<Pixel> p(static_cast<size_t>(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) p[static_cast<size_t>(y) * kWidth + x] = ToPixel<Pixel>(PlateAt(x, y));
        return p;
    }();
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
void KeyFloat(benchmark::State& state, Kernel<PF_PixelFloat> k) { KeyFrame<PF_PixelFloat>(state, k); }

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

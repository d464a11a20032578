// The kernels are run by hosts that may unmask floating-point exceptions.
// For finite pixels and settings within the controls' ranges, no lane of any
// operation may divide by zero or form 0/0, even a lane whose result is
// thrown away, or such a host would trap inside the kernel.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstdint>
#include <random>

#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace kestrelumen {
namespace {

constexpr unsigned kTrapFlags = _MM_EXCEPT_DIV_ZERO | _MM_EXCEPT_INVALID;

// The edges of every control's range are where a 1 - setting or a W.alpha
// reaches zero, so they are drawn far more often than a uniform draw would.
float Control(std::mt19937& rng) {
    static constexpr float kEdges[] = {0.0f, 1.0f, 0.5f, 1.0f / 255.0f};
    std::uniform_int_distribution<int> pick(0, 7);
    const int i = pick(rng);
    if (i < 4) return kEdges[i];
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
}

KeySettings RandomSettings(std::mt19937& rng) {
    KeySettings ks{};
    ks.key_color = {1.0f, Control(rng), Control(rng), Control(rng)};
    ks.choke_clear = Control(rng);
    ks.choke_opaque = Control(rng);
    ks.spill_amount = Control(rng);
    ks.spill_size = Control(rng);
    ks.view = std::uniform_int_distribution<int32_t>(1, 4)(rng);
    return ks;
}

template <typename Pixel, typename Kernel, typename MakePixel>
void ExpectNoTrapFlags(Kernel kernel, MakePixel make_pixel, const char* depth) {
    std::mt19937 rng(20261208);
    for (int i = 0; i < 200000; ++i) {
        KeySettings ks = RandomSettings(rng);
        Pixel in = make_pixel(rng);
        Pixel out{};
        _mm_setcsr(_mm_getcsr() & ~_MM_EXCEPT_MASK);
        kernel(&ks, 0, 0, &in, &out);
        const unsigned flags = _mm_getcsr() & kTrapFlags;
        ASSERT_EQ(flags, 0u) << depth << " case " << i << ": choke_clear " << ks.choke_clear
                             << " choke_opaque " << ks.choke_opaque << " spill_amount "
                             << ks.spill_amount << " spill_size " << ks.spill_size;
    }
}

TEST(KeyKernelsFpFlags, FiniteInputsRaiseNoDivideByZeroOrInvalid) {
    ExpectNoTrapFlags<PF_Pixel>(
        KeyPixel8,
        [](std::mt19937& rng) {
            std::uniform_int_distribution<int> c(0, 255);
            return PF_Pixel{static_cast<A_u_char>(c(rng)), static_cast<A_u_char>(c(rng)),
                            static_cast<A_u_char>(c(rng)), static_cast<A_u_char>(c(rng))};
        },
        "8-bit");
    ExpectNoTrapFlags<PF_Pixel16>(
        KeyPixel16,
        [](std::mt19937& rng) {
            std::uniform_int_distribution<int> c(0, 32768);
            return PF_Pixel16{static_cast<A_u_short>(c(rng)), static_cast<A_u_short>(c(rng)),
                              static_cast<A_u_short>(c(rng)), static_cast<A_u_short>(c(rng))};
        },
        "16-bit");
    ExpectNoTrapFlags<PF_PixelFloat>(
        KeyPixelFloat,
        [](std::mt19937& rng) {
            return PF_PixelFloat{Control(rng), Control(rng), Control(rng), Control(rng)};
        },
        "float");
}

}  // namespace
}  // namespace kestrelumen

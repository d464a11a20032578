// The kernels are run by hosts that may unmask floating-point exceptions, and
// that often run render threads with flush-to-zero and denormals-are-zero
// set. For finite pixels and settings, in either mode, no lane of any
// operation may divide by zero or form 0/0, even a lane whose result is
// thrown away, or such a host would trap inside the kernel. And the kernels
// leave the mode as they found it.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstdint>
#include <random>
#include <string>

#include "tests/render/KeyKernelsCompare.h"
#include "tests/support/FpMode.h"

namespace kestrelumen {
namespace {

using fptest::FpMode;

// The edges of every control's range are where a 1 - setting or a W.alpha
// reaches zero, and a subnormal is a zero to the arithmetic under
// denormals-are-zero but not to a test of its bits: one draw in three is
// such an edge, one in three a subnormal.
float Control(std::mt19937& rng) {
    static const float kEdges[] = {0.0f, 1.0f, 0.5f, 1.0f / 255.0f};
    static const uint32_t kSubnormals[] = {0x00000001u, 0x00400000u, 0x007fffffu};
    std::uniform_int_distribution<int> pick(0, 8);
    const int i = pick(rng);
    if (i < 3) return kEdges[std::uniform_int_distribution<int>(0, 3)(rng)];
    if (i < 6) return keytest::FromBits(kSubnormals[i - 3]);
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

constexpr int CALLS = 200000;

template <typename Pixel, typename Kernel, typename MakePixel>
void ExpectNoTrapFlags(FpMode mode, Kernel kernel, MakePixel make_pixel, const char* depth) {
    SCOPED_TRACE(std::string(depth) + " in mode " + fptest::fpModeName(mode));
    const fptest::ScopedFpMode scoped(mode);
    const unsigned csr = _mm_getcsr();
    std::mt19937 rng(20261208);
    int divide_by_zero = 0, invalid = 0;
    std::string first;
    for (int i = 0; i < CALLS; ++i) {
        KeySettings ks = RandomSettings(rng);
        Pixel in = make_pixel(rng);
        Pixel out{};
        _mm_setcsr(csr);
        kernel(&ks, 0, 0, &in, &out);
        const unsigned after = _mm_getcsr();
        ASSERT_EQ(after & ~_MM_EXCEPT_MASK, csr) << "the kernel changed the mode";
        divide_by_zero += (after & _MM_EXCEPT_DIV_ZERO) != 0;
        invalid += (after & _MM_EXCEPT_INVALID) != 0;
        if ((after & (_MM_EXCEPT_DIV_ZERO | _MM_EXCEPT_INVALID)) != 0 && first.empty()) {
            first = "case " + std::to_string(i) + ": " + keytest::Describe(ks);
        }
    }
    EXPECT_EQ(divide_by_zero, 0) << "calls out of " << CALLS << "; first " << first;
    EXPECT_EQ(invalid, 0) << "calls out of " << CALLS << "; first " << first;
}

TEST(KeyKernelsFpFlags, FiniteInputsRaiseNoDivideByZeroOrInvalidInEitherMode) {
    for (FpMode mode : fptest::FP_MODES) {
        ExpectNoTrapFlags<PF_Pixel>(
            mode, KeyPixel8,
            [](std::mt19937& rng) {
                std::uniform_int_distribution<int> c(0, 255);
                return PF_Pixel{static_cast<A_u_char>(c(rng)), static_cast<A_u_char>(c(rng)),
                                static_cast<A_u_char>(c(rng)), static_cast<A_u_char>(c(rng))};
            },
            "8-bit");
        ExpectNoTrapFlags<PF_Pixel16>(
            mode, KeyPixel16,
            [](std::mt19937& rng) {
                std::uniform_int_distribution<int> c(0, 32768);
                return PF_Pixel16{static_cast<A_u_short>(c(rng)), static_cast<A_u_short>(c(rng)),
                                  static_cast<A_u_short>(c(rng)), static_cast<A_u_short>(c(rng))};
            },
            "16-bit");
        ExpectNoTrapFlags<PF_PixelFloat>(
            mode, KeyPixelFloat,
            [](std::mt19937& rng) {
                return PF_PixelFloat{Control(rng), Control(rng), Control(rng), Control(rng)};
            },
            "float");
    }
}

}  // namespace
}  // namespace kestrelumen

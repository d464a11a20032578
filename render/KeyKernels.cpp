// The keying kernels: one body for the three depths, written with SSE2 so
// that one pixel's channels travel together in the four lanes of a register,
// in the pixel's own memory order (lane 0 alpha, 1 red, 2 green, 3 blue).
//
// The output is a bit-exact contract, so every lane operation below is the
// same IEEE single-precision operation, on the same operands, as the scalar
// step it stands for. The rewrites used are exact, not approximate:
//  - c / 32768 is c * 2^-15, and ((A / 32768) * c) / 32768 is fl(A * c) * 2^-30
//    (scaling by a power of two loses nothing in this range);
//  - _mm_max_ps(x, y) is exactly x > y ? x : y and _mm_min_ps(x, y) exactly
//    x < y ? x : y, NaN and signed zeros included, so the operand order is
//    chosen to match each comparison; the scalar _ss forms are avoided
//    because GCC folds them as plain max/min;
//  - x / 1 is x, which lets the common settings skip a division.
// Reciprocal multiplications (c * (1/255), d * (1/(1 - choke))) are NOT exact
// and are not used.
//
// Lanes that are computed but then discarded (the alpha lane of a colour
// step, or a division whose branch is not taken) may divide by zero; that only
// raises the masked status flags and never reaches an output.
#include "render/KeyKernels.h"

#include <emmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/HostConstants.h"
#include "render/KeySettings.h"

namespace kestrelumen {
namespace {

inline __m128 Broadcast0(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0)); }

// U(v) with the sign of a zero kept: 1 above 1, v for 0 <= v <= 1 (-0 stays
// -0), 0 below 0 and for NaN. The float spill matte shows the -0.
inline __m128 UnitClampExact(__m128 v) {
    const __m128 kept = _mm_and_ps(_mm_cmpge_ps(v, _mm_setzero_ps()), v);
    return _mm_min_ps(kept, _mm_set1_ps(1.0f));
}

// U(v) up to the sign of zero: enough where the value is then quantized,
// since -0 and +0 both truncate to code 0.
inline __m128 UnitClampForCode(__m128 v) {
    return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f));
}

// Integer depths: channels widened to floats exactly, then scaled.
inline __m128 WidenBytes(const PF_Pixel* in) {
    int32_t bits;
    std::memcpy(&bits, in, sizeof bits);
    const __m128i zero = _mm_setzero_si128();
    __m128i v = _mm_cvtsi32_si128(bits);
    v = _mm_unpacklo_epi8(v, zero);
    v = _mm_unpacklo_epi16(v, zero);
    return _mm_cvtepi32_ps(v);
}

inline __m128 WidenShorts(const PF_Pixel16* in) {
    const __m128i zero = _mm_setzero_si128();
    __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
    v = _mm_unpacklo_epi16(v, zero);
    return _mm_cvtepi32_ps(v);
}

// Each depth supplies how a pixel comes in (the working pixel W on the 0-to-1
// scale and the alpha-weighted colour p in lanes 1 to 3), the final clamps
// and how a pixel goes out.
struct Depth8 {
    using Pixel = PF_Pixel;
    static constexpr bool kFloat = false;

    static inline void Read(const Pixel* in, __m128* w, __m128* p) {
        const __m128 full = _mm_set1_ps(255.0f);
        const __m128 c = WidenBytes(in);
        *w = _mm_div_ps(c, full);
        // a = A / 255 is lane 0 of W; p.c = (a * c) / 255.
        *p = _mm_div_ps(_mm_mul_ps(Broadcast0(*w), c), full);
    }

    // v lies in 0..1 (or is -0): trunc(v * 255) needs no saturation.
    static inline void Write(Pixel* out, __m128 v) {
        __m128i q = _mm_cvttps_epi32(_mm_mul_ps(v, _mm_set1_ps(255.0f)));
        q = _mm_packs_epi32(q, q);
        q = _mm_packus_epi16(q, q);
        const int32_t bits = _mm_cvtsi128_si32(q);
        std::memcpy(out, &bits, sizeof bits);
    }
};

struct Depth16 {
    using Pixel = PF_Pixel16;
    static constexpr bool kFloat = false;

    static inline void Read(const Pixel* in, __m128* w, __m128* p) {
        // White is 32768, a power of two: dividing by it is multiplying by
        // 2^-15, and ((A / 32768) * c) / 32768 is (A * c) * 2^-30, both exact.
        const __m128 c = WidenShorts(in);
        *w = _mm_mul_ps(c, _mm_set1_ps(0x1p-15f));
        *p = _mm_mul_ps(_mm_mul_ps(Broadcast0(c), c), _mm_set1_ps(0x1p-30f));
    }

    // Codes run to 32768 inclusive, one past the signed 16-bit range that
    // SSE2 packs to: shifting up and arithmetically back down turns 32768
    // into -32768, whose 16-bit pattern is 0x8000 again.
    static inline void Write(Pixel* out, __m128 v) {
        __m128i q = _mm_cvttps_epi32(_mm_mul_ps(v, _mm_set1_ps(32768.0f)));
        q = _mm_srai_epi32(_mm_slli_epi32(q, 16), 16);
        q = _mm_packs_epi32(q, q);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), q);
    }
};

struct DepthFloat {
    using Pixel = PF_PixelFloat;
    static constexpr bool kFloat = true;

    static inline void Read(const Pixel* in, __m128* w, __m128* p) {
        *w = _mm_loadu_ps(&in->alpha);
        *p = _mm_mul_ps(Broadcast0(*w), *w);
    }

    static inline void Write(Pixel* out, __m128 v) { _mm_storeu_ps(&out->alpha, v); }
};

template <typename D>
inline PF_Err KeyPixel(void* refcon, const typename D::Pixel* in, typename D::Pixel* out) {
    if (refcon == nullptr || in == nullptr || out == nullptr) return PF_Err_NONE;
    const KeySettings& ks = *static_cast<const KeySettings*>(refcon);

    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);

    // Steps 2 and 4. Everything about the input pixel is read here, before
    // the output is written, so the host may pass the same pixel twice.
    __m128 w0;
    __m128 p;
    D::Read(in, &w0, &p);
    const __m128 key = _mm_loadu_ps(&ks.key_color.alpha);

    // Step 3. The strict comparisons decide where a NaN difference goes: the
    // max operand order below is exactly diff.red > diff.green ? red : green,
    // then m > diff.blue ? m : blue.
    const __m128 diff = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_sub_ps(key, p));
    const __m128 m = _mm_max_ps(diff, _mm_shuffle_ps(diff, diff, _MM_SHUFFLE(3, 3, 2, 0)));
    __m128 d = _mm_max_ps(m, _mm_shuffle_ps(diff, diff, _MM_SHUFFLE(3, 3, 3, 0)));
    d = _mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 1, 1, 1));
    // d is +0 or more, or NaN, so the short form of U is exact here.
    d = UnitClampForCode(d);

    // Step 5, with the unmix condition of step 6 ("neither 0 nor NaN").
    __m128 wa;
    __m128 unmix;
    const float choke_opaque = ks.choke_opaque;
    if (choke_opaque < 1.0f) {
        __m128 t = d;
        if (choke_opaque != 0.0f) t = _mm_div_ps(d, _mm_set1_ps(1.0f - choke_opaque));
        // t is never NaN here, so t < 1 ? t : 1 equals t >= 1 ? 1 : t.
        wa = _mm_min_ps(t, one);
        unmix = _mm_cmpgt_ps(wa, zero);
    } else {
        wa = Broadcast0(w0);
        // Only a float input alpha can be negative, -0 or NaN.
        unmix = _mm_cmpgt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), wa), zero);
    }

    // Steps 6 and 9 share one division: lanes 1 to 3 unmix, lane 0 is the
    // choke toward transparent, (W.alpha - choke_clear) / (1 - choke_clear).
    const __m128 sliders = _mm_loadu_ps(&ks.choke_clear);  // clear, opaque, amount, size
    const __m128 num = _mm_move_ss(_mm_sub_ps(p, key), _mm_sub_ps(wa, sliders));
    const __m128 den = _mm_move_ss(wa, _mm_sub_ps(one, sliders));
    const __m128 q = _mm_div_ps(num, den);
    __m128 colour = _mm_add_ps(q, key);
    colour = _mm_or_ps(_mm_and_ps(unmix, colour), _mm_andnot_ps(unmix, w0));

    // Step 7.
    const float spill_size = ks.spill_size;
    const float spill_amount = ks.spill_amount;
    __m128 s = zero;
    if (spill_size != 0.0f && !std::isnan(spill_size)) {
        s = _mm_mul_ps(_mm_set1_ps(spill_amount), _mm_sub_ps(_mm_set1_ps(spill_size), d));
        if (spill_size != 1.0f) s = _mm_div_ps(s, _mm_set1_ps(spill_size));
        s = UnitClampExact(s);
    }

    // Step 8. The grey value is the key's, the same for every pixel.
    if (spill_amount != 0.0f && !std::isnan(spill_amount)) {
        const float grey = ((ks.key_color.red * 0.3f) + (ks.key_color.green * 0.59f)) +
                           (ks.key_color.blue * 0.11f);
        const __m128 g = _mm_mul_ps(s, _mm_set1_ps(grey));
        colour = _mm_add_ps(colour, _mm_sub_ps(g, _mm_mul_ps(key, s)));
    }

    // Step 9: t > 0 ? t : 0, a NaN giving 0.
    __m128 alpha = wa;
    if (ks.choke_clear < 1.0f) alpha = _mm_max_ps(q, zero);

    // Steps 10 and 11.
    __m128 result;
    if (D::kFloat) {
        // A(v): v <= 1 ? (v < 0 ? 0 : v) : 1, a NaN giving 1.
        alpha = _mm_andnot_ps(_mm_cmplt_ps(alpha, zero), alpha);
        alpha = _mm_min_ps(alpha, one);
    }
    if (ks.view == VIEW_ALPHA_MATTE) {
        result = _mm_move_ss(Broadcast0(alpha), one);
    } else if (ks.view == VIEW_SPILL_MATTE) {
        result = _mm_move_ss(s, one);
    } else {
        result = _mm_move_ss(colour, alpha);
    }
    if (!D::kFloat) result = UnitClampForCode(result);
    D::Write(out, result);
    return PF_Err_NONE;
}

}  // namespace

PF_Err KeyPixel8(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
    return KeyPixel<Depth8>(refcon, in, out);
}

PF_Err KeyPixel16(void* refcon, A_long, A_long, PF_Pixel16* in, PF_Pixel16* out) {
    return KeyPixel<Depth16>(refcon, in, out);
}

PF_Err KeyPixelFloat(void* refcon, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    return KeyPixel<DepthFloat>(refcon, in, out);
}

}  // namespace kestrelumen

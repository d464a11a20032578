// The keying kernels: one body for the three depths, written with SSE2 so
// that one pixel's channels travel together in the four lanes of a register,
// in the pixel's own memory order (lane 0 alpha, 1 red, 2 green, 3 blue).
//
// The output is a bit-exact contract, so every lane operation below is the
// same IEEE single-precision operation, on the same operands, as the scalar
// step it stands for. The rewrites used are exact, not approximate:
//  - c / 32768 is c * 2^-15, and ((A / 32768) * c) / 32768 is fl(A * c) * 2^-30
//    (scaling by a power of two loses nothing in this range);
//  - the 8-bit alpha-weighted colour comes from a table built with the same
//    operations (render/KeyTables.h);
//  - _mm_max_ps(x, y) is exactly x > y ? x : y and _mm_min_ps(x, y) exactly
//    x < y ? x : y, NaN and signed zeros included, so the operand order is
//    chosen to match each comparison; the scalar _ss forms are avoided
//    because GCC folds them as plain max/min;
//  - x / 1 is x, which lets the controls' defaults skip divisions.
// Reciprocal multiplications (c * (1/255), d * (1/(1 - choke))) are NOT exact
// and are not used.
//
// Speed: the host calls a kernel once per pixel, so the work of one call is
// one long dependency chain (two divisions deep, about 60 cycles), and the
// processor overlaps several calls. What limits it is the number of vector
// instructions per call, loads, register copies and zeroings included: on
// the machine the figures in the README come from, each one costs 1 to 2%
// of the 8-bit kernel, while turning all four divisions into (inexact)
// multiplications gains only 8%, and an integer instruction costs a fifth
// of a vector one or less. Hence: tests of the settings are done on their integer
// bits, decisions that hold for a whole frame are branches, each clamp is
// only as general as the values that can reach it, and every division
// keeps its own register (sharing one division between the unmix and the
// choke saves a division but costs more instructions to set up).
//
// The settings a user keys with (sliders within 0..1, the spill size above
// 0, the keyed view, a key colour within 0..1) take a path of their own,
// KeyInPlay, where several clamps provably change nothing and are left out;
// every other setting takes the general path, KeyAnySettings.
//
// No lane ever divides by zero, not even one whose result is discarded: a
// host may run with floating-point exceptions unmasked, and with
// flush-to-zero and denormals-are-zero set; the tests of the settings that
// guard a division see a subnormal as that mode does. The kernels never
// change the mode themselves.
#include "render/KeyKernels.h"

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/HostConstants.h"
#include "render/KeySettings.h"
#include "render/KeyTables.h"

namespace kestrelumen {
namespace {

inline __m128 Load(const Vec4& c) { return _mm_load_ps(c.v); }
inline __m128 One() { return Load(KEY_ONES); }

// pshufd rather than shufps: it does not overwrite its source, which saves
// the register copy that SSE's two-operand shufps needs.
template <int Lane>
inline __m128 Splat(__m128 v) {
    return _mm_castsi128_ps(
        _mm_shuffle_epi32(_mm_castps_si128(v), _MM_SHUFFLE(Lane, Lane, Lane, Lane)));
}

inline __m128 Abs(__m128 v) {
    return _mm_and_ps(v, _mm_load_ps(reinterpret_cast<const float*>(KEY_ABS_MASK.v)));
}

inline __m128 NegatedAbs(__m128 v) {
    return _mm_or_ps(v, _mm_load_ps(reinterpret_cast<const float*>(KEY_SIGN_MASK.v)));
}

// U(v) with the sign of a zero kept: 1 above 1, v for 0 <= v <= 1 (-0 stays
// -0), 0 below 0 and for NaN. The float spill matte shows the -0.
inline __m128 UnitClampExact(__m128 v) {
    const __m128 kept = _mm_and_ps(_mm_cmpge_ps(v, _mm_setzero_ps()), v);
    return _mm_min_ps(kept, One());
}

// U(v) up to the sign of a zero. Exact wherever v cannot be -0, and enough
// wherever the value ends in an 8- or 16-bit code, since -0 and +0 both
// truncate to code 0.
inline __m128 UnitClamp(__m128 v) { return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), One()); }

// The bits of a setting, by an integer load of their own: GCC would
// otherwise load the float once and move it between the vector and the
// integer registers, which costs more than a second load. may_alias makes
// reading a float through this type well defined.
typedef uint32_t __attribute__((may_alias)) FloatBits;
inline uint32_t Bits(const float& f) { return *reinterpret_cast<const volatile FloatBits*>(&f); }

// Tests of the settings on their bits: integer work, which runs beside the
// vector work instead of queueing with it. None of them is true for a NaN.
// v < 1: a positive value below 1's bits, or any negative value (the
// negative NaNs lie above the bits of -infinity). Twice the bits drops the
// sign.
inline bool BelowOne(uint32_t b) {
    return static_cast<int32_t>(b) < 0x3f800000 && b <= 0xff800000u;
}
inline bool IsZero(uint32_t b) { return (b << 1) == 0; }
constexpr uint32_t ONE_BITS = 0x3f800000u;
constexpr uint32_t SMALLEST_NORMAL_BITS = 0x00800000u;

// Neither 0 (of either sign) nor NaN, as the arithmetic sees the value;
// infinities count. Hosts often run render threads with denormals-are-zero
// set, under which a subnormal is a zero to every operation but not to its
// bits, so a subnormal (rare: no slider gives one) is settled by a float
// comparison, which sees the mode. A normal value or an infinity costs the
// one integer test. Twice the bits drops the sign: a normal value or an
// infinity lies from the smallest normal's to the infinity's.
inline bool IsNonZeroNumber(const float& f) {
    const uint32_t twice = Bits(f) << 1;
    if (__builtin_expect(twice - 2 * SMALLEST_NORMAL_BITS <= 0xff000000u - 2 * SMALLEST_NORMAL_BITS,
                         1))
        return true;
    return twice != 0 && twice < 2 * SMALLEST_NORMAL_BITS && f != 0.0f;
}

// Integer depths: channels widened to floats exactly.
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

// The key distance before its clamp, in every lane, from p - K. |K - p| is
// |p - K| bit for bit (rounding is symmetric, and equal values give +0 either
// way), so one subtraction serves the distance and the unmix. The operand
// order of each max is the comparison as written, diff.red > diff.green ?
// red : green, then m > diff.blue ? m : blue, which is where a NaN
// difference goes.
inline __m128 Distance(__m128 p_minus_key) {
    const __m128 diff = Abs(p_minus_key);
    return _mm_max_ps(_mm_max_ps(Splat<1>(diff), Splat<2>(diff)), Splat<3>(diff));
}

// -d, bit for bit: -(x > y ? x : y) is -x < -y ? -x : -y, so each max
// becomes a min of the negated values in the same operand order.
inline __m128 NegatedDistance(__m128 p_minus_key) {
    const __m128 diff = NegatedAbs(p_minus_key);
    return _mm_min_ps(_mm_min_ps(Splat<1>(diff), Splat<2>(diff)), Splat<3>(diff));
}

// Each depth supplies the alpha-weighted colour p (lanes 1 to 3), the input
// on the 0-to-1 scale (the working pixel; only needed when the input alpha
// stays or the unmix is skipped), and how a pixel goes out.
struct Depth8 {
    using Pixel = PF_Pixel;
    static constexpr bool FLOAT = false;

    static inline __m128 Weighted(const Pixel* in) {
        const float* row = &BYTE_TABLES.weighted[static_cast<size_t>(in->alpha) << 8];
        const __m128 r = _mm_load_ss(row + in->red);
        const __m128 g = _mm_load_ss(row + in->green);
        const __m128 b = _mm_load_ss(row + in->blue);
        // [r, 0, 0, 0] and [g, b, 0, 0] joined to [0, r, g, b].
        return _mm_shuffle_ps(r, _mm_unpacklo_ps(g, b), _MM_SHUFFLE(1, 0, 0, 1));
    }

    static inline __m128 Unit(const Pixel* in) {
        return _mm_div_ps(WidenBytes(in), Load(KEY_SCALE_8));
    }

    // The unit clamp and the conversion in one: above 1 becomes 1 (the
    // operand order keeps a NaN), and the saturating packs turn everything
    // below 0 into code 0, including a NaN, which the conversion makes the
    // most negative integer. In 0..1 the code is trunc(v * 255) as ever.
    static inline void Write(Pixel* out, __m128 v) {
        v = _mm_min_ps(One(), v);
        __m128i q = _mm_cvttps_epi32(_mm_mul_ps(v, Load(KEY_SCALE_8)));
        q = _mm_packs_epi32(q, q);
        q = _mm_packus_epi16(q, q);
        const int32_t bits = _mm_cvtsi128_si32(q);
        std::memcpy(out, &bits, sizeof bits);
    }

    // For values known to lie within -2..6: trunc(v * 255) is then within
    // -510..1530, and the saturating packs alone make everything below 0
    // code 0 and everything above 1 code 255, as the unit clamp would.
    static inline void WriteBounded(Pixel* out, __m128 v) {
        __m128i q = _mm_cvttps_epi32(_mm_mul_ps(v, Load(KEY_SCALE_8)));
        q = _mm_packs_epi32(q, q);
        q = _mm_packus_epi16(q, q);
        const int32_t bits = _mm_cvtsi128_si32(q);
        std::memcpy(out, &bits, sizeof bits);
    }
};

struct Depth16 {
    using Pixel = PF_Pixel16;
    static constexpr bool FLOAT = false;

    // White is 32768, a power of two: dividing by it is multiplying by 2^-15,
    // and ((A / 32768) * c) / 32768 is (A * c) * 2^-30, both exact.
    static inline __m128 Weighted(const Pixel* in) {
        const __m128 c = WidenShorts(in);
        return _mm_mul_ps(_mm_mul_ps(Splat<0>(c), c), Load(KEY_WEIGHT_16));
    }

    static inline __m128 Unit(const Pixel* in) {
        return _mm_mul_ps(WidenShorts(in), Load(KEY_UNIT_16));
    }

    // Codes run to 32768 inclusive, one past the signed 16-bit range that
    // SSE2 packs to: shifting up and arithmetically back down turns 32768
    // into -32768, whose 16-bit pattern is 0x8000 again.
    static inline void Write(Pixel* out, __m128 v) {
        v = UnitClamp(v);
        __m128i q = _mm_cvttps_epi32(_mm_mul_ps(v, Load(KEY_SCALE_16)));
        q = _mm_srai_epi32(_mm_slli_epi32(q, 16), 16);
        q = _mm_packs_epi32(q, q);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), q);
    }

    // For values known to lie within -2..6, so that trunc(v * 32768) fits
    // easily in 32 bits. Taken 32768 down, the codes of 0..1 become
    // -32768..0: the signed pack saturates everything below to -32768,
    // the minimum with 0 cuts everything above to 0, and adding 32768 back
    // (modulo 2^16) gives 0..32768.
    static inline void WriteBounded(Pixel* out, __m128 v) {
        __m128i q = _mm_cvttps_epi32(_mm_mul_ps(v, Load(KEY_SCALE_16)));
        q = _mm_sub_epi32(q, _mm_set1_epi32(32768));
        q = _mm_packs_epi32(q, q);
        q = _mm_min_epi16(q, _mm_setzero_si128());
        q = _mm_add_epi16(q, _mm_set1_epi16(INT16_MIN));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), q);
    }
};

struct DepthFloat {
    using Pixel = PF_PixelFloat;
    static constexpr bool FLOAT = true;

    static inline __m128 Weighted(const Pixel* in) {
        const __m128 w = _mm_loadu_ps(&in->alpha);
        return _mm_mul_ps(Splat<0>(w), w);
    }

    static inline __m128 Unit(const Pixel* in) { return _mm_loadu_ps(&in->alpha); }

    static inline void Write(Pixel* out, __m128 v) { _mm_storeu_ps(&out->alpha, v); }
    static inline void WriteBounded(Pixel* out, __m128 v) { Write(out, v); }
};

// The steps for any settings at all, out of line so that the in-play path
// keeps the registers to itself.
template <typename D>
__attribute__((noinline)) PF_Err KeyAnySettings(const KeySettings& ks, const typename D::Pixel* in,
                                                typename D::Pixel* out) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = One();

    // Alpha-weighted colour. Everything about the input pixel is read before
    // the output is written, so the host may pass the same pixel twice.
    const __m128 p = D::Weighted(in);
    const __m128 key = _mm_loadu_ps(&ks.key_color.alpha);

    const __m128 p_minus_key = _mm_sub_ps(p, key);
    // d is +0 or more, or NaN: the short clamp is exact.
    const __m128 d = UnitClamp(Distance(p_minus_key));

    // Alpha from distance, and whether to unmix: W.alpha neither 0 nor NaN.
    __m128 wa;
    bool unmix;
    const uint32_t choke_opaque = Bits(ks.choke_opaque);
    const bool opaque_choke = BelowOne(choke_opaque);
    if (opaque_choke) {
        // t = d / 1 is d, and d <= 1 already: no division, no clamp.
        wa = d;
        if (__builtin_expect(!IsZero(choke_opaque), 1)) {
            const __m128 t = _mm_div_ps(d, _mm_set1_ps(1.0f - ks.choke_opaque));
            // t is never NaN here, so t < 1 ? t : 1 equals t >= 1 ? 1 : t.
            wa = _mm_min_ps(t, one);
        }
        // wa is +0 or more here.
        unmix = _mm_cvtss_f32(wa) > 0.0f;
    } else {
        wa = Splat<0>(D::Unit(in));
        const float a = _mm_cvtss_f32(wa);
        unmix = a != 0.0f && a == a;
    }

    // Unmix. A skipped unmix (the pixel is the key colour) is rare and comes
    // in runs, so a branch beats a select.
    __m128 colour;
    if (__builtin_expect(unmix, 1)) {
        colour = _mm_add_ps(_mm_div_ps(p_minus_key, wa), key);
    } else {
        colour = D::Unit(in);
    }

    // Spill weight, on one lane: the settings are scalars already.
    __m128 s = zero;
    if (IsNonZeroNumber(ks.spill_size)) {
        float weight = ks.spill_amount * (ks.spill_size - _mm_cvtss_f32(d));
        if (Bits(ks.spill_size) != ONE_BITS) weight = weight / ks.spill_size;
        s = _mm_set1_ps(weight);
        s = D::FLOAT ? UnitClampExact(s) : UnitClamp(s);
    }

    // Spill suppression. The grey value is the key's, the same for every
    // pixel: ((K.red * 0.3) + (K.green * 0.59)) + (K.blue * 0.11).
    if (IsNonZeroNumber(ks.spill_amount)) {
        const __m128 terms = _mm_mul_ps(key, Load(KEY_GREY_WEIGHTS));
        const __m128 grey =
            _mm_add_ps(_mm_add_ps(Splat<1>(terms), Splat<2>(terms)), Splat<3>(terms));
        const __m128 g = _mm_mul_ps(s, grey);
        colour = _mm_add_ps(colour, _mm_sub_ps(g, _mm_mul_ps(key, s)));
    }

    // Choke toward transparent and the clamp of alpha (lane 0). After the
    // choke, alpha is +0 or more and never NaN; without it, alpha is wa,
    // which lies in 0..1 unless the input's alpha stayed. Each clamp is the
    // general one cut down to what can reach it.
    __m128 alpha;
    const uint32_t choke_clear = Bits(ks.choke_clear);
    if (BelowOne(choke_clear)) {
        if (__builtin_expect(IsZero(choke_clear), 0)) {
            // (wa - 0) / 1 is wa up to the sign of a zero, which the
            // comparison with 0 below settles the same way.
            alpha = wa;
        } else {
            // Every lane gets the same choke, whose 1 - choke is above 0:
            // no lane divides by zero, which a host running with floating-
            // point exceptions unmasked would trap on.
            const __m128 clear = _mm_set1_ps(ks.choke_clear);
            alpha = _mm_div_ps(_mm_sub_ps(wa, clear), _mm_sub_ps(one, clear));
        }
        alpha = _mm_max_ps(alpha, zero);  // t > 0 ? t : 0, a NaN giving 0
        if (D::FLOAT) alpha = _mm_min_ps(alpha, one);
    } else {
        alpha = wa;
        if (D::FLOAT && !opaque_choke) {
            // A(v): v <= 1 ? (v < 0 ? 0 : v) : 1, a NaN giving 1.
            alpha = _mm_andnot_ps(_mm_cmplt_ps(alpha, zero), alpha);
            alpha = _mm_min_ps(alpha, one);
        }
    }

    // Final clamps of the colour and the output by view.
    __m128 result;
    if (ks.view == VIEW_ALPHA_MATTE) {
        result = _mm_move_ss(Splat<0>(alpha), one);
    } else if (ks.view == VIEW_SPILL_MATTE) {
        result = _mm_move_ss(s, one);
    } else {
        result = _mm_move_ss(colour, alpha);
    }
    D::Write(out, result);  // with the final clamps of the integer depths
    return PF_Err_NONE;
}

// 0 < v < 1 on the bits, v a normal number: a positive value below 1's
// bits, 0 and the subnormals excluded by taking the smallest normal's bits
// off first (they wrap round to the top). False for NaN and -0. The
// subnormals, zeros under denormals-are-zero, go to the general path, whose
// tests see the mode: here one would be a divisor of zero.
inline bool NormalInsideUnit(uint32_t b) {
    return b - SMALLEST_NORMAL_BITS < ONE_BITS - SMALLEST_NORMAL_BITS;
}
// +0 <= v < 1. False for NaN and -0.
inline bool FromZeroBelowOne(uint32_t b) { return b < ONE_BITS; }
// 0 <= v <= 1, -0 excluded. False for NaN.
inline bool InsideUnit(uint32_t b) { return b <= ONE_BITS; }
// Neither matte view: view - 2 is neither 0 nor 1. Unsigned, because the
// host may store any 32-bit value and view - 2 would overflow at INT_MIN.
inline bool ShowsKeyedPixel(int32_t view) {
    static_assert(VIEW_SPILL_MATTE == VIEW_ALPHA_MATTE + 1, "the mattes are adjacent");
    return static_cast<uint32_t>(view) - static_cast<uint32_t>(VIEW_ALPHA_MATTE) >= 2u;
}

// Every control in play: each slider below 1 and not negative (-0 counts as
// negative), the spill size also a normal number above 0, a view that shows
// the keyed pixel, and, at 8 and 16 bits, a key colour within 0..1. A choke
// of +0 divides by 1, which changes nothing. So does a spill amount of +0 at
// 8 and 16 bits, where it makes the spill shift +0 (a subnormal amount too,
// under denormals-are-zero); in float it must be a normal number above 0,
// since adding a shift of +0 would turn a colour of -0 into +0.
template <typename D>
inline bool InPlay(const KeySettings& ks) {
    return FromZeroBelowOne(Bits(ks.choke_clear)) && FromZeroBelowOne(Bits(ks.choke_opaque)) &&
           (D::FLOAT ? NormalInsideUnit(Bits(ks.spill_amount))
                     : FromZeroBelowOne(Bits(ks.spill_amount))) &&
           NormalInsideUnit(Bits(ks.spill_size)) && ShowsKeyedPixel(ks.view) &&
           (D::FLOAT ||
            (InsideUnit(Bits(ks.key_color.red)) && InsideUnit(Bits(ks.key_color.green)) &&
             InsideUnit(Bits(ks.key_color.blue))));
}

// The steps under InPlay settings. Every operation is the general path's;
// what is left out is each clamp that cannot change a value here:
//  - Nothing is NaN at 8 and 16 bits: the input, the key and the sliders are
//    finite, and every divisor is above 0.
//  - The key distance needs no clamp at 8 and 16 bits. At 8 bits p and K lie
//    in 0..1, so d <= 1 already. At 16 bits a code above 32768 can make d
//    exceed 1, but any d >= 1 gives W.alpha = 1 and a negative spill weight
//    (so s = 0) whether it was clamped to 1 or not.
//  - The spill weight is at most 1: fl(size - d) <= size as d >= 0, so
//    fl(amount * that) <= fl(amount * size) <= size, and dividing by size
//    gives at most 1. Only its lower clamp remains (float keeps -0 there).
//  - W.alpha is at most 1, so (W.alpha - cc) / (1 - cc) is too: the choke
//    toward transparent leaves alpha within 0..1 and float needs no A().
//  - Unmixed, |p.c - K.c| <= d <= W.alpha unless W.alpha is 1, so the
//    quotient lies in -1..1 (in -1..4 at 16 bits with W.alpha 1). With K.c
//    and the spill shift (|shift| <= 1) the colour lies within -2..6, and the
//    integer writes let saturation do the unit clamp (WriteBounded).
// And some settings work is shared: 1 - slider for all four sliders in one
// subtraction, and the choke toward transparent computed on the sliders'
// own lanes (lane 0 is choke_clear's; lanes 1 to 3 divide by 1 - slider as
// well, never by 0 as every slider is below 1, and are thrown away).
//
// At 8 and 16 bits the distance and the chokes are worked negated, which
// changes no bit: -d comes from -|x| (an OR with the sign) as cheaply as d,
// d / (1 - co) is -d / (co - 1), size - d is size + -d, and
// (cc - W.alpha) / (cc - 1) differs from (W.alpha - cc) / (1 - cc) only in
// the sign of a zero, which the clamp at 0 settles. The gain is that the
// subtraction from the sliders may overwrite them, where W.alpha - sliders
// would need a copy of W.alpha, still wanted by the unmix.
//
// What this costs is the number of vector instructions, copies and loads
// included, far more than the length of the chain (see above), so a pixel
// equal to the key colour (W.alpha = 0, rare) returns false for the general
// path to do, leaving one straight path here. The statements are ordered so
// that few values are live at once: under the Windows x64 convention xmm6
// and up are the caller's, and each one the kernel touches costs a store
// and a load on every call.
template <typename D>
inline bool KeyInPlay(const KeySettings& ks, const typename D::Pixel* in, typename D::Pixel* out) {
    // One zero register for the call: left alone, GCC makes a new zero for
    // each use, one instruction each time.
    __m128 zero = _mm_setzero_ps();
    __asm__("" : "+x"(zero));

    const __m128 p = D::Weighted(in);
    const __m128 key = _mm_loadu_ps(&ks.key_color.alpha);
    const __m128 p_minus_key = _mm_sub_ps(p, key);
    const __m128 sliders = _mm_loadu_ps(&ks.choke_clear);  // clear, opaque, amount, size

    // W.alpha = min(d / (1 - choke_opaque), 1), which is +0 or more, never
    // NaN; the choke toward transparent before its clamp; fl(size - d).
    __m128 wa, alpha;
    float size_minus_d;
    if (D::FLOAT) {
        const __m128 d = UnitClamp(Distance(p_minus_key));  // input may be NaN or beyond 1
        const __m128 rest = _mm_sub_ps(One(), sliders);
        wa = _mm_min_ps(_mm_div_ps(d, Splat<1>(rest)), One());
        alpha = _mm_div_ps(_mm_sub_ps(wa, sliders), rest);
        size_minus_d = ks.spill_size - _mm_cvtss_f32(d);
    } else {
        const __m128 nd = NegatedDistance(p_minus_key);
        const __m128 nrest = _mm_sub_ps(sliders, One());  // each slider - 1
        wa = _mm_min_ps(_mm_div_ps(nd, Splat<1>(nrest)), One());
        alpha = _mm_div_ps(_mm_sub_ps(sliders, wa), nrest);
        size_minus_d = ks.spill_size + _mm_cvtss_f32(nd);
    }
    alpha = _mm_max_ps(alpha, zero);  // t > 0 ? t : 0

    // The divisor is read again, through a pointer the compiler cannot see
    // through, so that the division takes it from memory: the first read
    // became size - d in place, and keeping it would cost a copy.
    const KeySettings* again = &ks;
    __asm__("" : "+r"(again));
    const float weight = (ks.spill_amount * size_minus_d) / again->spill_size;

    if (__builtin_expect(!_mm_comigt_ss(wa, zero), 0)) return false;
    __m128 colour = _mm_add_ps(_mm_div_ps(p_minus_key, wa), key);

    __m128 s = _mm_set1_ps(weight);
    // s >= 0 ? s : 0, which keeps a -0 (an underflowed product) as the float
    // spill matte would; at 8 and 16 bits the sign of a zero is lost anyway.
    s = D::FLOAT ? _mm_and_ps(_mm_cmpge_ps(s, zero), s) : _mm_max_ps(s, zero);

    const __m128 terms = _mm_mul_ps(key, Load(KEY_GREY_WEIGHTS));
    const __m128 grey = _mm_add_ps(_mm_add_ps(Splat<1>(terms), Splat<2>(terms)), Splat<3>(terms));
    const __m128 g = _mm_mul_ps(s, grey);
    colour = _mm_add_ps(colour, _mm_sub_ps(g, _mm_mul_ps(key, s)));

    D::WriteBounded(out, _mm_move_ss(colour, alpha));
    return true;
}

template <typename D>
inline PF_Err KeyPixel(void* refcon, const typename D::Pixel* in, typename D::Pixel* out) {
    // Three plain test-and-branch pairs; the empty asm statements keep GCC
    // from merging them into a longer sequence of flag arithmetic.
    if (refcon == nullptr) return PF_Err_NONE;
    __asm__("");
    if (in == nullptr) return PF_Err_NONE;
    __asm__("");
    if (out == nullptr) return PF_Err_NONE;
    const KeySettings& ks = *static_cast<const KeySettings*>(refcon);
    if (__builtin_expect(InPlay<D>(ks), 1) && __builtin_expect(KeyInPlay<D>(ks, in, out), 1))
        return PF_Err_NONE;
    return KeyAnySettings<D>(ks, in, out);
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

// A plain, line-by-line rendering of the keying steps: scalar floats, one
// operation per statement, every branch written out. It is slow on purpose
// and serves as the oracle that the shipped kernels are compared with bit for
// bit, and as the baseline the kernel benchmarks measure against.
//
// Every float operation here is a single-precision IEEE operation (the build
// uses SSE math, -ffp-contract=off and no fast-math), so the compiler may not
// reorder or fuse anything.
#pragma once

#include <cmath>
#include <cstdint>

#include "host/HostConstants.h"
#include "host/HostTypes.h"
#include "render/KeySettings.h"

namespace plain {

// U(v): 1 above 1, v from 0 (either zero) to 1, 0 below 0 and for NaN.
inline float UnitClamp(float v) {
    if (v > 1.0f) return 1.0f;
    if (v >= 0.0f) return v;
    return 0.0f;
}

// A(v): 1 above 1 and for NaN, 0 below 0, v otherwise.
inline float AlphaClamp(float v) {
    if (!(v <= 1.0f)) return 1.0f;
    if (v < 0.0f) return 0.0f;
    return v;
}

struct Working {
    float a, r, g, b;
};

// From the key distance to the final clamps, on the working pixel W (on the
// 0-to-1 scale) and the alpha-weighted colour p. Returns W after the clamps
// of the depth, and the spill weight in *spill.
inline Working KeySteps(const kestrelumen::KeySettings& ks, Working w, float pr, float pg, float pb,
                        bool float_depth, float* spill) {
    const float kr = ks.key_color.red;
    const float kg = ks.key_color.green;
    const float kb = ks.key_color.blue;

    // Key distance.
    const float diff_r = std::fabs(kr - pr);
    const float diff_g = std::fabs(kg - pg);
    const float diff_b = std::fabs(kb - pb);
    float m;
    if (diff_r > diff_g) {
        m = diff_r;
    } else {
        m = diff_g;
    }
    float d;
    if (m > diff_b) {
        d = m;
    } else {
        d = diff_b;
    }
    d = UnitClamp(d);

    // Alpha from distance.
    if (ks.choke_opaque < 1.0f) {
        const float denom = 1.0f - ks.choke_opaque;
        const float t = d / denom;
        if (t >= 1.0f) {
            w.a = 1.0f;
        } else {
            w.a = t;
        }
    }

    // Unmix.
    if (w.a != 0.0f && !std::isnan(w.a)) {
        float diff;
        float q;
        diff = pr - kr;
        q = diff / w.a;
        w.r = q + kr;
        diff = pg - kg;
        q = diff / w.a;
        w.g = q + kg;
        diff = pb - kb;
        q = diff / w.a;
        w.b = q + kb;
    }

    // Spill weight.
    float s;
    if (ks.spill_size != 0.0f && !std::isnan(ks.spill_size)) {
        const float left = ks.spill_size - d;
        const float num = ks.spill_amount * left;
        s = num / ks.spill_size;
    } else {
        s = 0.0f;
    }
    s = UnitClamp(s);

    // Spill suppression.
    if (ks.spill_amount != 0.0f && !std::isnan(ks.spill_amount)) {
        const float gr = kr * 0.3f;
        const float gg = kg * 0.59f;
        const float gb = kb * 0.11f;
        const float grey_rg = gr + gg;
        const float grey = grey_rg + gb;
        const float g = s * grey;
        float shift;
        shift = g - (kr * s);
        w.r = w.r + shift;
        shift = g - (kg * s);
        w.g = w.g + shift;
        shift = g - (kb * s);
        w.b = w.b + shift;
    }

    // Choke toward transparent.
    if (ks.choke_clear < 1.0f) {
        const float num = w.a - ks.choke_clear;
        const float denom = 1.0f - ks.choke_clear;
        const float t = num / denom;
        if (t > 0.0f) {
            w.a = t;
        } else {
            w.a = 0.0f;
        }
    }

    // Final clamps.
    if (float_depth) {
        w.a = AlphaClamp(w.a);
    } else {
        w.r = UnitClamp(w.r);
        w.g = UnitClamp(w.g);
        w.b = UnitClamp(w.b);
        w.a = UnitClamp(w.a);
    }
    *spill = s;
    return w;
}

template <typename Channel>
inline Channel Quantize(float v, float full) {
    const float scaled = v * full;
    return static_cast<Channel>(static_cast<int32_t>(scaled));
}

// The full scale as a value the compiler cannot see, so that this rendering
// divides by it as the steps say. Seeing the constant, GCC turns the eight
// divisions by 32768 into multiplications by 2^-15: exact, since 32768 is a
// power of two, but that rewrite is one of the shipped kernels' own, and a
// baseline that borrows it measures them against part of themselves.
inline float Opaque(float v) {
    __asm__("" : "+x"(v));
    return v;
}

// Integer depths: 255 for 8 bits, 32768 for 16 bits.
template <typename Pixel, typename Channel>
inline PF_Err KeyPixelInt(void* refcon, Pixel* in, Pixel* out, float full) {
    if (refcon == nullptr || in == nullptr || out == nullptr) return PF_Err_NONE;
    const auto& ks = *static_cast<const kestrelumen::KeySettings*>(refcon);

    // Alpha-weighted colour.
    const float a = static_cast<float>(in->alpha) / full;
    float t;
    t = a * static_cast<float>(in->red);
    const float pr = t / full;
    t = a * static_cast<float>(in->green);
    const float pg = t / full;
    t = a * static_cast<float>(in->blue);
    const float pb = t / full;

    // Working pixel on the 0-to-1 scale.
    Working w;
    w.a = static_cast<float>(in->alpha) / full;
    w.r = static_cast<float>(in->red) / full;
    w.g = static_cast<float>(in->green) / full;
    w.b = static_cast<float>(in->blue) / full;

    float s;
    w = KeySteps(ks, w, pr, pg, pb, false, &s);

    // Output by view.
    const Channel white = static_cast<Channel>(full);
    if (ks.view == kestrelumen::VIEW_ALPHA_MATTE) {
        out->alpha = white;
        out->red = Quantize<Channel>(w.a, full);
        out->green = Quantize<Channel>(w.a, full);
        out->blue = Quantize<Channel>(w.a, full);
    } else if (ks.view == kestrelumen::VIEW_SPILL_MATTE) {
        out->alpha = white;
        out->red = Quantize<Channel>(s, full);
        out->green = Quantize<Channel>(s, full);
        out->blue = Quantize<Channel>(s, full);
    } else {
        out->alpha = Quantize<Channel>(w.a, full);
        out->red = Quantize<Channel>(w.r, full);
        out->green = Quantize<Channel>(w.g, full);
        out->blue = Quantize<Channel>(w.b, full);
    }
    return PF_Err_NONE;
}

inline PF_Err KeyPixel8(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
    return KeyPixelInt<PF_Pixel, A_u_char>(refcon, in, out, Opaque(255.0f));
}

inline PF_Err KeyPixel16(void* refcon, A_long, A_long, PF_Pixel16* in, PF_Pixel16* out) {
    return KeyPixelInt<PF_Pixel16, A_u_short>(refcon, in, out, Opaque(32768.0f));
}

inline PF_Err KeyPixelFloat(void* refcon, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    if (refcon == nullptr || in == nullptr || out == nullptr) return PF_Err_NONE;
    const auto& ks = *static_cast<const kestrelumen::KeySettings*>(refcon);

    // Alpha-weighted colour.
    const float pr = in->alpha * in->red;
    const float pg = in->alpha * in->green;
    const float pb = in->alpha * in->blue;

    // Working pixel on the 0-to-1 scale.
    Working w{in->alpha, in->red, in->green, in->blue};

    float s;
    w = KeySteps(ks, w, pr, pg, pb, true, &s);

    // Output by view.
    if (ks.view == kestrelumen::VIEW_ALPHA_MATTE) {
        out->alpha = 1.0f;
        out->red = w.a;
        out->green = w.a;
        out->blue = w.a;
    } else if (ks.view == kestrelumen::VIEW_SPILL_MATTE) {
        out->alpha = 1.0f;
        out->red = s;
        out->green = s;
        out->blue = s;
    } else {
        out->alpha = w.a;
        out->red = w.r;
        out->green = w.g;
        out->blue = w.b;
    }
    return PF_Err_NONE;
}

}  // namespace plain

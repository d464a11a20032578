// Running the shipped kernels and the plain rendering side by side, for the
// equivalence tests and the exhaustive long tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <xmmintrin.h>

#include "plain/PlainKeyKernels.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace keytest {

inline uint32_t FloatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

inline float FromBits(uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// Under flush-to-zero and denormals-are-zero, a value that only passes
// through a comparison and a select stays subnormal in one rendering and
// becomes a zero of the same sign in the other, depending on whether the
// select is a min/max instruction (which reads its operands as the mode
// does) or a branch (which hands the value on as it is). The host's next
// operation on it sees a zero either way, so in that mode the two match.
inline bool FlushedMode() { return (_mm_getcsr() & 0x8040u) != 0; }
inline bool SubnormalAgainstZero(uint32_t a, uint32_t b) {
    const auto subnormal = [](uint32_t x) {
        return (x & 0x7f800000u) == 0 && (x & 0x007fffffu) != 0;
    };
    const auto zero = [](uint32_t x) { return (x & 0x7fffffffu) == 0; };
    return (a >> 31) == (b >> 31) && ((subnormal(a) && zero(b)) || (zero(a) && subnormal(b)));
}

// Integer pixels match byte for byte. Float pixels match bit for bit, except
// that any NaN matches any NaN: which payload survives when two NaNs meet in
// one operation depends on the operand order the compiler picks for a
// commutative operation, which IEEE arithmetic leaves open. And in the
// flushing mode, a subnormal matches a zero of its sign (above).
inline bool SamePixel(const PF_Pixel& a, const PF_Pixel& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool SamePixel(const PF_Pixel16& a, const PF_Pixel16& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool SamePixel(const PF_PixelFloat& a, const PF_PixelFloat& b) {
    const float x[] = {a.alpha, a.red, a.green, a.blue};
    const float y[] = {b.alpha, b.red, b.green, b.blue};
    for (int c = 0; c < 4; ++c) {
        if (std::isnan(x[c]) && std::isnan(y[c])) continue;
        const uint32_t bx = FloatBits(x[c]), by = FloatBits(y[c]);
        if (bx == by) continue;
        if (FlushedMode() && SubnormalAgainstZero(bx, by)) continue;
        return false;
    }
    return true;
}

inline std::string Describe(const PF_Pixel& p) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "(%u, %u, %u, %u)", p.alpha, p.red, p.green, p.blue);
    return buf;
}
inline std::string Describe(const PF_Pixel16& p) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "(%u, %u, %u, %u)", p.alpha, p.red, p.green, p.blue);
    return buf;
}

// %a for every float but a subnormal, which is shown by its bits: printing
// converts to double, which denormals-are-zero would turn into a zero.
inline std::string Num(float f) {
    char buf[32];
    const uint32_t b = FloatBits(f);
    if ((b & 0x7f800000u) == 0 && (b & 0x007fffffu) != 0) {
        std::snprintf(buf, sizeof buf, "subnormal(0x%08x)", static_cast<unsigned>(b));
    } else {
        std::snprintf(buf, sizeof buf, "%a", f);
    }
    return buf;
}
inline std::string Describe(const PF_PixelFloat& p) {
    return "(" + Num(p.alpha) + ", " + Num(p.red) + ", " + Num(p.green) + ", " + Num(p.blue) + ")";
}
inline std::string Describe(const kestrelumen::KeySettings& ks) {
    return "key (" + Num(ks.key_color.red) + ", " + Num(ks.key_color.green) + ", " +
           Num(ks.key_color.blue) + ") choke_clear " + Num(ks.choke_clear) + " choke_opaque " +
           Num(ks.choke_opaque) + " spill_amount " + Num(ks.spill_amount) + " spill_size " +
           Num(ks.spill_size) + " view " + std::to_string(ks.view);
}

inline PF_Err Shipped(kestrelumen::KeySettings* ks, PF_Pixel* in, PF_Pixel* out) {
    return kestrelumen::KeyPixel8(ks, 0, 0, in, out);
}
inline PF_Err Shipped(kestrelumen::KeySettings* ks, PF_Pixel16* in, PF_Pixel16* out) {
    return kestrelumen::KeyPixel16(ks, 0, 0, in, out);
}
inline PF_Err Shipped(kestrelumen::KeySettings* ks, PF_PixelFloat* in, PF_PixelFloat* out) {
    return kestrelumen::KeyPixelFloat(ks, 0, 0, in, out);
}
inline PF_Err Plain(kestrelumen::KeySettings* ks, PF_Pixel* in, PF_Pixel* out) {
    return plain::KeyPixel8(ks, 0, 0, in, out);
}
inline PF_Err Plain(kestrelumen::KeySettings* ks, PF_Pixel16* in, PF_Pixel16* out) {
    return plain::KeyPixel16(ks, 0, 0, in, out);
}
inline PF_Err Plain(kestrelumen::KeySettings* ks, PF_PixelFloat* in, PF_PixelFloat* out) {
    return plain::KeyPixelFloat(ks, 0, 0, in, out);
}

// Runs both renderings on one pixel; on a difference, describes it into
// *report (when empty) and returns false.
template <typename Pixel>
bool Agree(kestrelumen::KeySettings ks, Pixel in, std::string* report) {
    Pixel want{};
    Pixel got{};
    Pixel in_copy = in;
    Plain(&ks, &in_copy, &want);
    in_copy = in;
    Shipped(&ks, &in_copy, &got);
    if (SamePixel(want, got)) return true;
    if (report->empty()) {
        *report = "in " + Describe(in) + " with " + Describe(ks) + ": plain " + Describe(want) +
                  ", shipped " + Describe(got);
    }
    return false;
}

}  // namespace keytest

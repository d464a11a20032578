// Running the shipped kernels and the plain rendering side by side, for the
// equivalence tests and the exhaustive long tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "render/KeyKernels.h"
#include "render/KeySettings.h"
#include "tests/support/PlainKeyKernels.h"

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

// Integer pixels match byte for byte. Float pixels match bit for bit, except
// that any NaN matches any NaN: which payload survives when two NaNs meet in
// one operation depends on the operand order the compiler picks for a
// commutative operation, which IEEE arithmetic leaves open.
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
        if (FloatBits(x[c]) != FloatBits(y[c])) return false;
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
inline std::string Describe(const PF_PixelFloat& p) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "(%a, %a, %a, %a)", p.alpha, p.red, p.green, p.blue);
    return buf;
}
inline std::string Describe(const kestrelumen::KeySettings& ks) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "key (%a, %a, %a) choke_clear %a choke_opaque %a spill_amount %a spill_size %a "
                  "view %d",
                  ks.key_color.red, ks.key_color.green, ks.key_color.blue, ks.choke_clear,
                  ks.choke_opaque, ks.spill_amount, ks.spill_size, static_cast<int>(ks.view));
    return buf;
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

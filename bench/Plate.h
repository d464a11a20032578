// A generated green-screen plate, the same for every benchmark and for the
// comparison with ffmpeg, so that all figures are taken on one picture: a
// lit green backing with grain and a gradient, a subject (a tilted ellipse
// of warm, textured colour) with a soft edge, and green spill on the subject
// near its edge. The picture scales with the frame size, so a tiny frame
// for a smoke run still has backing, edge and subject.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/HostTypes.h"
#include "render/KeySettings.h"

namespace kbench {

constexpr int UHD_WIDTH = 3840;
constexpr int UHD_HEIGHT = 2160;

// The key colour of the backing, in 8-bit codes (what a user would pick).
constexpr A_u_char KEY_RED = 31;
constexpr A_u_char KEY_GREEN = 179;
constexpr A_u_char KEY_BLUE = 46;

struct PlateColour {
    float a, r, g, b;
};

// A cheap, repeatable hash noise in [-1, 1].
inline float Noise(uint32_t x, uint32_t y, uint32_t salt) {
    uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ salt * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<float>(h & 0xffff) / 32767.5f - 1.0f;
}

inline PlateColour PlateAt(int x, int y, int width, int height) {
    const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(width);
    const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(height);
    const float light = 0.9f + 0.1f * (1.0f - v);
    const uint32_t ux = static_cast<uint32_t>(x);
    const uint32_t uy = static_cast<uint32_t>(y);
    const float grain = 0.02f * Noise(ux, uy, 1);
    const PlateColour back{1.0f, 0.12f * light + grain, 0.72f * light + grain,
                           0.18f * light + grain};
    const float dx = (u - 0.5f) * 1.6f + (v - 0.5f) * 0.3f;
    const float dy = (v - 0.55f) * 1.1f;
    const float r = std::sqrt(dx * dx + dy * dy);
    const float edge = 0.42f;
    const float soft = 0.004f;
    float cover = (edge - r) / soft * 0.5f + 0.5f;
    cover = cover < 0.0f ? 0.0f : (cover > 1.0f ? 1.0f : cover);
    const float tex = 0.05f * Noise(ux / 3, uy / 3, 2);
    const float spill = r > edge - 0.05f ? (r - (edge - 0.05f)) / 0.05f * 0.15f : 0.0f;
    const PlateColour fore{1.0f, 0.78f + tex, 0.52f + tex + spill, 0.42f + tex};
    auto mix = [cover](float f, float k) { return cover * f + (1.0f - cover) * k; };
    auto unit = [](float c) { return c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c); };
    return {1.0f, unit(mix(fore.r, back.r)), unit(mix(fore.g, back.g)), unit(mix(fore.b, back.b))};
}

template <typename Pixel>
Pixel ToPixel(const PlateColour& c);

template <>
inline PF_Pixel ToPixel<PF_Pixel>(const PlateColour& c) {
    auto q = [](float f) { return static_cast<A_u_char>(std::lround(f * 255.0f)); };
    return {q(c.a), q(c.r), q(c.g), q(c.b)};
}
template <>
inline PF_Pixel16 ToPixel<PF_Pixel16>(const PlateColour& c) {
    auto q = [](float f) { return static_cast<A_u_short>(std::lround(f * 32768.0f)); };
    return {q(c.a), q(c.r), q(c.g), q(c.b)};
}
template <>
inline PF_PixelFloat ToPixel<PF_PixelFloat>(const PlateColour& c) {
    return {c.a, c.r, c.g, c.b};
}

// Row `y` of the plate into `row` (width pixels).
template <typename Pixel>
void FillPlateRow(Pixel* row, int y, int width, int height) {
    for (int x = 0; x < width; ++x) row[x] = ToPixel<Pixel>(PlateAt(x, y, width, height));
}

template <typename Pixel>
std::vector<Pixel> MakePlate(int width, int height) {
    std::vector<Pixel> p(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        FillPlateRow(p.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), y,
                     width, height);
    return p;
}

// A kernel as the host's iterate calls it, and the empty kernel that only
// copies the pixel: the cost of the call and the memory traffic alone.
template <typename Pixel>
using Kernel = PF_Err (*)(void*, A_long, A_long, Pixel*, Pixel*);

template <typename Pixel>
PF_Err CopyPixel(void*, A_long, A_long, Pixel* in, Pixel* out) {
    *out = *in;
    return 0;
}

// The controls of every measurement: every control in play, so that each
// step of the kernels does its work (the costly case, as a user sets them).
// The frame benchmarks set the same values through the effect's parameters.
constexpr float CHOKE_CLEAR = 0.1f;
constexpr float CHOKE_OPAQUE = 0.2f;
constexpr float SPILL_AMOUNT = 0.6f;
constexpr float SPILL_SIZE = 0.5f;

// The record the kernels receive for those controls, as the pre-render
// pass builds it from the parameters (colour in 0..1, sliders as given).
inline kestrelumen::KeySettings BenchSettings() {
    kestrelumen::KeySettings ks{};
    ks.key_color = {1.0f, KEY_RED / 255.0f, KEY_GREEN / 255.0f, KEY_BLUE / 255.0f};
    ks.choke_clear = CHOKE_CLEAR;
    ks.choke_opaque = CHOKE_OPAQUE;
    ks.spill_amount = SPILL_AMOUNT;
    ks.spill_size = SPILL_SIZE;
    ks.view = kestrelumen::VIEW_FINAL;
    return ks;
}

}  // namespace kbench

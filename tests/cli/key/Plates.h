// Generated camera plates with a known screen: which pixels show the screen
// and so the screen's true median colour, for judging key estimates.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/key/Pixels.h"

namespace platetest {

using kcli::Depth;
using kcli::HostImage;

struct PlateSpec {
    int width = 320, height = 180;
    Depth depth = Depth::U8;
    std::array<float, 3> screen{0x17 / 255.0f, 0x8e / 255.0f, 0x2f / 255.0f};
    bool uneven = false;       // lighting from 0.75 to 1.25 of the screen's colour across the frame
    float foreground = 0.4f;   // rough share of the frame the subject covers
    bool greenObject = false;  // a green-tinted prop beside the subject
    float grain = 1.0f / 255;  // amplitude of the sensor noise
    bool noScreen = false;     // an interior: no backing at all
};

struct Plate {
    HostImage image;
    std::vector<bool> screen;  // pixels that show only the screen
    double foregroundShare = 0;
};

inline float noise(uint32_t x, uint32_t y, uint32_t c) {
    uint32_t h = x * 374761393u + y * 668265263u + c * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xffff) / 65535.0f;
}

// Two uniforms summed: a bell-shaped grain in -amp..amp.
inline float grainAt(int x, int y, int c, float amp) {
    return (noise(x, y, c) + noise(x, y, c + 7) - 1.0f) * amp;
}

inline Plate makePlate(const PlateSpec& s) {
    Plate p;
    p.image.width = s.width;
    p.image.height = s.height;
    p.image.depth = s.depth;
    p.image.pixels.resize(p.image.rowBytes() * s.height);
    p.screen.assign(static_cast<std::size_t>(s.width) * s.height, false);
    const float W = static_cast<float>(s.width), H = static_cast<float>(s.height);
    const float cx = 0.45f * W, headR = 0.13f * H, headY = 0.3f * H;
    // The body fills most of the subject's share; head and hair the rest.
    const float bodyW = std::min(W, std::max(0.1f, s.foreground - 0.06f) * W / 0.62f);
    long fg = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            std::array<float, 3> bg;
            if (s.noScreen) {
                // Walls, a floor and skin-like tones: nothing strongly coloured.
                const float t = fx / W;
                bg = fy < 0.6f * H
                         ? std::array<float, 3>{0.62f - 0.2f * t, 0.55f - 0.15f * t, 0.47f}
                         : std::array<float, 3>{0.35f, 0.27f, 0.2f + 0.1f * t};
            } else {
                const float light = s.uneven ? 0.75f + 0.3f * fx / W + 0.2f * (1 - fy / H) : 1.0f;
                bg = {s.screen[0] * light, s.screen[1] * light, s.screen[2] * light};
            }
            std::array<float, 3> c = bg;
            float cover = 0;
            std::array<float, 3> fgc{};
            const float dx = fx - cx, dy = fy - headY;
            if (fy >= 0.38f * H && std::abs(dx) < bodyW / 2) {
                cover = 1;
                fgc = {0.25f, 0.22f + 0.1f * (fy / H), 0.4f};  // a shirt
            } else if (dx * dx + dy * dy < headR * headR) {
                cover = 1;
                fgc = {0.85f, 0.62f, 0.5f};  // skin
            } else if (dy < 0 && dx * dx + dy * dy < (1.35f * headR) * (1.35f * headR)) {
                // Hair: strands of partial coverage over the screen.
                cover = 0.5f + 0.5f * std::sin(fx * 1.7f);
                fgc = {0.2f, 0.12f, 0.06f};
            } else if (s.greenObject && fx > 0.82f * W && fx < 0.95f * W && fy > 0.45f * H) {
                cover = 1;
                fgc = {0.30f, 0.52f, 0.28f};  // a green-tinted prop
            }
            for (int i = 0; i < 3; ++i) c[i] = fgc[i] * cover + bg[i] * (1 - cover);
            const bool screenOnly = cover == 0 && !s.noScreen;
            p.screen[static_cast<std::size_t>(y) * s.width + x] = screenOnly;
            if (cover > 0) ++fg;
            kcli::setPixel(p.image, x, y,
                           {1.0f, c[0] + grainAt(x, y, 0, s.grain),
                            c[1] + grainAt(x, y, 1, s.grain), c[2] + grainAt(x, y, 2, s.grain)});
        }
    p.foregroundShare = static_cast<double>(fg) / (static_cast<double>(s.width) * s.height);
    return p;
}

// Per-channel median, in 8-bit codes, of the pixels that show the screen.
inline std::array<int, 3> trueScreenMedian(const Plate& p) {
    std::array<std::vector<int>, 3> v;
    for (int y = 0; y < p.image.height; ++y)
        for (int x = 0; x < p.image.width; ++x) {
            if (!p.screen[static_cast<std::size_t>(y) * p.image.width + x]) continue;
            const kcli::Rgba px = kcli::pixelAt(p.image, x, y);
            v[0].push_back(kcli::code8(px.r));
            v[1].push_back(kcli::code8(px.g));
            v[2].push_back(kcli::code8(px.b));
        }
    std::array<int, 3> m{};
    for (int i = 0; i < 3; ++i) {
        if (v[i].empty()) continue;
        std::nth_element(v[i].begin(), v[i].begin() + (v[i].size() - 1) / 2, v[i].end());
        m[i] = v[i][(v[i].size() - 1) / 2];
    }
    return m;
}

}  // namespace platetest

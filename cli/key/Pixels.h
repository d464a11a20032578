// Channel access to a HostImage at any depth, on a 0..1 scale, for the tool's
// own image work (key picking, composites, preview sheets). Pixels are
// alpha, red, green, blue; white is 255, 32768 or 1.0.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "cli/ImageFile.h"

namespace kcli {

struct Rgba {
    float a, r, g, b;
};

inline float fullScale(Depth d) {
    return d == Depth::U8 ? 255.0f : d == Depth::U16 ? 32768.0f : 1.0f;
}

// 0..1 of the host's scale; float pixels pass as they are.
inline Rgba pixelAt(const HostImage& image, int x, int y) {
    const unsigned char* row = image.row(y);
    switch (image.depth) {
        case Depth::U8: {
            const uint8_t* p = row + 4 * static_cast<std::size_t>(x);
            return {p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f, p[3] / 255.0f};
        }
        case Depth::U16: {
            uint16_t p[4];
            std::memcpy(p, row + 8 * static_cast<std::size_t>(x), sizeof p);
            return {p[0] / 32768.0f, p[1] / 32768.0f, p[2] / 32768.0f, p[3] / 32768.0f};
        }
        default: {
            float p[4];
            std::memcpy(p, row + 16 * static_cast<std::size_t>(x), sizeof p);
            return {p[0], p[1], p[2], p[3]};
        }
    }
}

// Integer depths round to the nearest code and saturate (NaN gives 0);
// float keeps the value.
inline void setPixel(HostImage& image, int x, int y, const Rgba& v) {
    unsigned char* row = image.row(y);
    auto code = [](float c, float scale) {
        const float s = c * scale + 0.5f;
        return s > 0.0f ? (s < scale ? static_cast<uint32_t>(s) : static_cast<uint32_t>(scale))
                        : 0u;
    };
    switch (image.depth) {
        case Depth::U8: {
            uint8_t* p = row + 4 * static_cast<std::size_t>(x);
            p[0] = static_cast<uint8_t>(code(v.a, 255.0f));
            p[1] = static_cast<uint8_t>(code(v.r, 255.0f));
            p[2] = static_cast<uint8_t>(code(v.g, 255.0f));
            p[3] = static_cast<uint8_t>(code(v.b, 255.0f));
            break;
        }
        case Depth::U16: {
            const uint16_t p[4] = {static_cast<uint16_t>(code(v.a, 32768.0f)),
                                   static_cast<uint16_t>(code(v.r, 32768.0f)),
                                   static_cast<uint16_t>(code(v.g, 32768.0f)),
                                   static_cast<uint16_t>(code(v.b, 32768.0f))};
            std::memcpy(row + 8 * static_cast<std::size_t>(x), p, sizeof p);
            break;
        }
        default: {
            const float p[4] = {v.a, v.r, v.g, v.b};
            std::memcpy(row + 16 * static_cast<std::size_t>(x), p, sizeof p);
        }
    }
}

// The 8-bit code the colour parameter would hold for a 0..1 value.
inline int code8(float v) {
    // Half-way codes round up, as lround does for these positive values.
    return v > 0.0f ? (v < 1.0f ? static_cast<int>(v * 255.0f + 0.5f) : 255) : 0;
}

}  // namespace kcli

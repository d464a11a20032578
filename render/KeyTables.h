// Read-only data of the kernels: compile-time tables and vector constants.
// All of it is built by the compiler into read-only data; loading the
// library runs no code for it.
#pragma once

#include <cstdint>

// The vector constants are defined in KeyTables.cpp, out of the kernels'
// sight: when GCC can see a vector constant it rebuilds it on every call from
// a scalar load and a shuffle, where an opaque one is a single load or a
// memory operand. On ELF they are hidden so that the access is direct, not
// through the GOT; on Windows the kernels' file is built with the small code
// model for the same reason (see CMakeLists.txt).
#if defined(__ELF__)
#define KESTRELUMEN_HIDDEN __attribute__((visibility("hidden")))
#else
#define KESTRELUMEN_HIDDEN
#endif

namespace kestrelumen {

struct ByteTables {
    // weighted[A * 256 + c] = ((A / 255) * c) / 255: the alpha-weighted colour
    // of an 8-bit channel, by the same single-precision operations as the
    // kernel's steps, so each entry equals the per-pixel result bit for bit.
    float weighted[256 * 256];
};

constexpr ByteTables MakeByteTables() {
    ByteTables t{};
    for (int a = 0; a < 256; ++a) {
        const float alpha = static_cast<float>(a) / 255.0f;
        for (int c = 0; c < 256; ++c) {
            const float scaled = alpha * static_cast<float>(c);
            t.weighted[a * 256 + c] = scaled / 255.0f;
        }
    }
    return t;
}

inline constexpr ByteTables BYTE_TABLES = MakeByteTables();

struct alignas(16) Vec4 {
    float v[4];
};
struct alignas(16) Bits4 {
    uint32_t v[4];
};

extern const Vec4 KEY_ONES KESTRELUMEN_HIDDEN;          // 1 in every lane
extern const Bits4 KEY_ABS_MASK KESTRELUMEN_HIDDEN;     // every bit but the sign
extern const Bits4 KEY_SIGN_MASK KESTRELUMEN_HIDDEN;    // only the sign
extern const Vec4 KEY_GREY_WEIGHTS KESTRELUMEN_HIDDEN;  // 0, 0.3, 0.59, 0.11
extern const Vec4 KEY_SCALE_8 KESTRELUMEN_HIDDEN;       // 255 in every lane
extern const Vec4 KEY_SCALE_16 KESTRELUMEN_HIDDEN;      // 32768 in every lane
extern const Vec4 KEY_UNIT_16 KESTRELUMEN_HIDDEN;       // 2^-15 in every lane
extern const Vec4 KEY_WEIGHT_16 KESTRELUMEN_HIDDEN;     // 2^-30 in every lane

}  // namespace kestrelumen

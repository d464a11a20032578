// Files store 16-bit white as 65535, the host as 32768. Both directions
// round to the nearest code; since the host scale is the coarser one, every
// host code survives host -> file -> host unchanged.
#pragma once

#include <cstdint>

namespace kcli {

constexpr uint16_t fileToHost16(uint16_t file) {
    // floor((2 * file * 32768 + 65535) / (2 * 65535)): half-way is never
    // reached exactly (65535 is odd), so this is round-to-nearest.
    return static_cast<uint16_t>((static_cast<uint32_t>(file) * 65536u + 65535u) / 131070u);
}

constexpr uint16_t hostToFile16(uint16_t host) {
    // Codes above white cannot come from a file or a kernel; they saturate
    // rather than wrap.
    if (host >= 32768u) return 65535u;
    // Half-way (host 16384) rounds up; 32768 maps back to 16384 either way.
    return static_cast<uint16_t>((static_cast<uint32_t>(host) * 65535u + 16384u) / 32768u);
}

static_assert(fileToHost16(0) == 0 && fileToHost16(65535) == 32768, "ends of the file scale");
static_assert(hostToFile16(0) == 0 && hostToFile16(32768) == 65535, "ends of the host scale");

}  // namespace kcli

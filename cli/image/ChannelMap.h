// Which channels of a file are the host's red, green, blue and alpha, and
// the copies between a file's interleaved channels and the host's layout.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstddef>
#include <string>

#include "cli/image/HostImage.h"

namespace kcli {

struct ChannelMap {
    int red = -1, green = -1, blue = -1, alpha = -1;  // channel indices; alpha -1: none
};

// R, G, B (and A) by name, else the first three (four) channels of a file
// with three or four. Throws Failure naming `path` for any other layout.
ChannelMap mapChannels(const std::string& path, const OIIO::ImageSpec& imageSpec);

// `file` holds `nch` interleaved channels of the image's pixels; a missing
// alpha is `opaque`. `convert` maps one file value to a host value.
template <typename T, typename Convert>
void toHost(const T* file, int nch, const ChannelMap& m, T opaque, Convert convert,
            HostImage& out) {
    const std::size_t n = static_cast<std::size_t>(out.width) * out.height;
    T* dst = reinterpret_cast<T*>(out.pixels.data());
    for (std::size_t i = 0; i < n; ++i) {
        const T* src = &file[i * nch];
        dst[4 * i + 0] = m.alpha >= 0 ? convert(src[m.alpha]) : opaque;
        dst[4 * i + 1] = convert(src[m.red]);
        dst[4 * i + 2] = convert(src[m.green]);
        dst[4 * i + 3] = convert(src[m.blue]);
    }
}

// The other way: host pixels (alpha first) to `nch` interleaved file
// channels R, G, B and, when nch is 4, A.
template <typename D, typename S, typename Convert>
void fromHost(D* dst, const S* src, std::size_t n, int nch, Convert convert) {
    for (std::size_t i = 0; i < n; ++i) {
        dst[i * nch + 0] = convert(src[4 * i + 1]);
        dst[i * nch + 1] = convert(src[4 * i + 2]);
        dst[i * nch + 2] = convert(src[4 * i + 3]);
        if (nch == 4) dst[i * nch + 3] = convert(src[4 * i + 0]);
    }
}

}  // namespace kcli

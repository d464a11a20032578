#include "cli/tune/Downscale.h"

#include <cstdint>
#include <vector>

namespace kcli {
namespace {

template <typename T>
void boxFilter(const HostImage& src, HostImage& dst) {
    const int sw = src.width, sh = src.height, dw = dst.width, dh = dst.height;
    // Column spans are the same for every row.
    std::vector<int> x0(dw + 1);
    for (int x = 0; x <= dw; ++x) x0[x] = static_cast<int>(static_cast<int64_t>(x) * sw / dw);
    std::vector<double> sum(static_cast<std::size_t>(dw) * 4);
    for (int y = 0; y < dh; ++y) {
        const int ya = static_cast<int>(static_cast<int64_t>(y) * sh / dh);
        const int yb = static_cast<int>(static_cast<int64_t>(y + 1) * sh / dh);
        std::fill(sum.begin(), sum.end(), 0.0);
        for (int sy = ya; sy < yb; ++sy) {
            const T* row = reinterpret_cast<const T*>(src.row(sy));
            for (int x = 0; x < dw; ++x)
                for (int sx = x0[x]; sx < x0[x + 1]; ++sx)
                    for (int c = 0; c < 4; ++c) sum[4 * x + c] += row[4 * sx + c];
        }
        T* out = reinterpret_cast<T*>(dst.row(y));
        for (int x = 0; x < dw; ++x) {
            const double count = static_cast<double>(yb - ya) * (x0[x + 1] - x0[x]);
            for (int c = 0; c < 4; ++c) {
                const double mean = sum[4 * x + c] / count;
                if constexpr (std::is_floating_point_v<T>)
                    out[4 * x + c] = static_cast<T>(mean);
                else
                    out[4 * x + c] = static_cast<T>(mean + 0.5);
            }
        }
    }
}

}  // namespace

HostImage downscale(const HostImage& source, int width, int height) {
    HostImage dst;
    dst.width = std::max(1, std::min(width, source.width));
    dst.height = std::max(1, std::min(height, source.height));
    dst.depth = source.depth;
    dst.pixels.resize(dst.rowBytes() * static_cast<std::size_t>(dst.height));
    switch (source.depth) {
        case Depth::U8: boxFilter<uint8_t>(source, dst); break;
        case Depth::U16: boxFilter<uint16_t>(source, dst); break;
        case Depth::F32: boxFilter<float>(source, dst); break;
    }
    return dst;
}

}  // namespace kcli

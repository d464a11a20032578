#include "cli/image/PixelConvert.h"

#include <cstdint>

#include "cli/Depth16.h"
#include "cli/image/PixelTypes.h"

using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace kcli {
namespace {

// Byte offset of each channel within a native pixel.
std::vector<std::size_t> channelOffsets(const ImageSpec& imageSpec) {
    std::vector<std::size_t> off(imageSpec.nchannels);
    std::size_t at = 0;
    for (int c = 0; c < imageSpec.nchannels; ++c) {
        off[c] = at;
        at += imageSpec.channelformat(c).size();
    }
    return off;
}

// One channel of every pixel, converted to `type`, into `dst` at the given
// strides: a packed plane, or one channel of the host's interleaved pixels.
void gather(const ImageSpec& imageSpec, const unsigned char* pixels, int channel, TypeDesc type,
            void* dst, OIIO::stride_t dstX = OIIO::AutoStride,
            OIIO::stride_t dstY = OIIO::AutoStride) {
    const std::size_t stride = imageSpec.pixel_bytes(true);
    const std::size_t offset = channelOffsets(imageSpec)[channel];
    OIIO::convert_image(1, imageSpec.width, imageSpec.height, 1, pixels + offset,
                        imageSpec.channelformat(channel), static_cast<OIIO::stride_t>(stride),
                        static_cast<OIIO::stride_t>(stride * imageSpec.width), OIIO::AutoStride,
                        dst, type, dstX, dstY, OIIO::AutoStride);
}

void scatter(const void* src, TypeDesc type, const ImageSpec& imageSpec, int channel,
             unsigned char* pixels) {
    const std::size_t stride = imageSpec.pixel_bytes(true);
    const std::size_t offset = channelOffsets(imageSpec)[channel];
    OIIO::convert_image(1, imageSpec.width, imageSpec.height, 1, src, type, OIIO::AutoStride,
                        OIIO::AutoStride, OIIO::AutoStride, pixels + offset,
                        imageSpec.channelformat(channel), static_cast<OIIO::stride_t>(stride),
                        static_cast<OIIO::stride_t>(stride * imageSpec.width), OIIO::AutoStride);
}

}  // namespace

void keyedToHost(const ImageSpec& imageSpec, const unsigned char* pixels, const ChannelMap& m,
                 bool associated, HostImage& out) {
    const std::size_t n = static_cast<std::size_t>(out.width) * out.height;
    const int from[4] = {m.alpha, m.red, m.green, m.blue};  // host order
    const TypeDesc host = typeOf(out.depth);
    // Each channel straight into the host's type when nothing is to be done
    // to it on the way (the common case, and exact); through float otherwise.
    bool direct = !(associated && m.alpha >= 0);
    for (int c = 1; c < 4; ++c) direct = direct && imageSpec.channelformat(from[c]) == host;
    if (m.alpha >= 0) direct = direct && imageSpec.channelformat(m.alpha) == host;

    // Channels land in their place in the frame, which is all the memory
    // this needs: planes of their own would hold a second frame while the
    // file's pixels and the frame are both alive.
    auto fill = [&](auto tag, auto fileType, auto missing) {
        using T = decltype(tag);
        T* dst = reinterpret_cast<T*>(out.pixels.data());
        const auto xs = static_cast<OIIO::stride_t>(4 * sizeof(T));
        const auto ys = static_cast<OIIO::stride_t>(out.rowBytes());
        for (int c = 0; c < 4; ++c) {
            if (from[c] >= 0)
                gather(imageSpec, pixels, from[c], fileType, dst + c, xs, ys);
            else
                for (std::size_t i = 0; i < n; ++i) dst[4 * i + c] = missing;
        }
        return dst;
    };
    if (direct && out.depth == Depth::U8) {
        fill(uint8_t{}, host, uint8_t{255});
        return;
    }
    if (direct && out.depth == Depth::U16) {
        uint16_t* px = fill(uint16_t{}, host, uint16_t{65535});
        for (std::size_t i = 0; i < 4 * n; ++i) px[i] = fileToHost16(px[i]);
        return;
    }
    if (out.depth == Depth::F32) {
        float* px = fill(float{}, TypeDesc(TypeDesc::FLOAT), 1.0f);
        if (associated && m.alpha >= 0)
            for (std::size_t i = 0; i < n; ++i) {
                const float a = px[4 * i];
                if (a > 0.0f)
                    for (int c = 1; c < 4; ++c) px[4 * i + c] /= a;
            }
        return;
    }
    // The file's values to the host's integer scale as a file of that type
    // would give them: through the 0..1 scale of the integer type. A channel
    // at a time, beside alpha, which the others are divided by.
    std::vector<float> alpha(n, 1.0f), plane(n);
    if (m.alpha >= 0) gather(imageSpec, pixels, m.alpha, TypeDesc::FLOAT, alpha.data());
    std::vector<uint16_t> wide(n);
    const TypeDesc integer = out.depth == Depth::U8 ? TypeDesc::UINT8 : TypeDesc::UINT16;
    for (int c = 0; c < 4; ++c) {
        if (c == 0) {
            plane = alpha;
        } else {
            gather(imageSpec, pixels, from[c], TypeDesc::FLOAT, plane.data());
            if (associated && m.alpha >= 0)
                for (std::size_t i = 0; i < n; ++i)
                    if (alpha[i] > 0.0f) plane[i] /= alpha[i];
        }
        // Written as 8-bit values for an 8-bit frame.
        OIIO::convert_pixel_values(TypeDesc::FLOAT, plane.data(), integer, wide.data(),
                                   static_cast<int>(n));
        if (out.depth == Depth::U8) {
            const auto* narrow = reinterpret_cast<const uint8_t*>(wide.data());
            for (std::size_t i = 0; i < n; ++i) out.pixels[4 * i + c] = narrow[i];
        } else {
            auto* px = reinterpret_cast<uint16_t*>(out.pixels.data());
            for (std::size_t i = 0; i < n; ++i) px[4 * i + c] = fileToHost16(wide[i]);
        }
    }
}

void hostToKeyed(const HostImage& img, const ChannelMap& m, bool associate,
                 const ImageSpec& imageSpec, unsigned char* dst) {
    const std::size_t n = static_cast<std::size_t>(img.width) * img.height;
    const int to[4] = {m.alpha, m.red, m.green, m.blue};
    auto channelType = [&](int c) { return imageSpec.channelformat(to[c]); };

    // Integer host pixels into channels of their own width: exact integer
    // arithmetic (a float detour would misround some 16-bit codes).
    auto integerPath = [&](auto tag, TypeDesc fileType, auto toFile, auto premultiply) {
        using T = decltype(tag);
        const T* src = reinterpret_cast<const T*>(img.pixels.data());
        std::vector<T> plane(n);
        for (int c = 0; c < 4; ++c) {
            if (to[c] < 0) continue;
            for (std::size_t i = 0; i < n; ++i) {
                T v = src[4 * i + c];
                if (associate && c > 0) v = premultiply(v, src[4 * i]);
                plane[i] = toFile(v);
            }
            scatter(plane.data(), fileType, imageSpec, to[c], dst);
        }
    };
    bool sameWidth = true;
    for (int c = 0; c < 4; ++c)
        if (to[c] >= 0) sameWidth = sameWidth && channelType(c) == typeOf(img.depth);
    if (sameWidth && img.depth == Depth::U8) {
        integerPath(
            uint8_t{}, TypeDesc::UINT8, [](uint8_t v) { return v; },
            [](uint8_t v, uint8_t a) {
                return static_cast<uint8_t>((static_cast<unsigned>(v) * a + 127u) / 255u);
            });
        return;
    }
    if (sameWidth && img.depth == Depth::U16) {
        integerPath(uint16_t{}, TypeDesc::UINT16, hostToFile16, [](uint16_t v, uint16_t a) {
            const uint32_t p = (static_cast<uint32_t>(v) * a + 16384u) / 32768u;
            return static_cast<uint16_t>(p > 65535u ? 65535u : p);
        });
        return;
    }

    // Everything else through float on the 0..1 scale, a channel at a time:
    // one plane of scratch, not four, beside the frame and the file's pixels.
    const float scale = img.depth == Depth::U8 ? 255.0f : 32768.0f;
    auto value = [&](std::size_t i) {
        if (img.depth == Depth::U8) return img.pixels[i] / scale;
        if (img.depth == Depth::U16)
            return reinterpret_cast<const uint16_t*>(img.pixels.data())[i] / scale;
        return reinterpret_cast<const float*>(img.pixels.data())[i];
    };
    std::vector<float> plane(n);
    for (int c = 0; c < 4; ++c) {
        if (to[c] < 0) continue;
        for (std::size_t i = 0; i < n; ++i) {
            float v = value(4 * i + c);
            if (associate && c > 0) v *= value(4 * i);
            plane[i] = v;
        }
        scatter(plane.data(), TypeDesc::FLOAT, imageSpec, to[c], dst);
    }
}

}  // namespace kcli

#include "cli/image/PixelConvert.h"

#include <cstdint>
#include <cstring>

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

// One channel of every pixel, converted to `type` into a packed array.
void gather(const ImageSpec& imageSpec, const unsigned char* pixels, int channel, TypeDesc type,
            void* dst) {
    const std::size_t stride = imageSpec.pixel_bytes(true);
    const std::size_t offset = channelOffsets(imageSpec)[channel];
    OIIO::convert_image(1, imageSpec.width, imageSpec.height, 1, pixels + offset,
                        imageSpec.channelformat(channel), static_cast<OIIO::stride_t>(stride),
                        static_cast<OIIO::stride_t>(stride * imageSpec.width), OIIO::AutoStride,
                        dst, type, OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride);
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

template <typename T>
void interleave(const std::vector<T> (&planes)[4], HostImage& out) {
    T* dst = reinterpret_cast<T*>(out.pixels.data());
    const std::size_t n = planes[0].size();
    for (std::size_t i = 0; i < n; ++i)
        for (int c = 0; c < 4; ++c) dst[4 * i + c] = planes[c][i];
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
    if (direct) {
        switch (out.depth) {
            case Depth::U8: {
                std::vector<uint8_t> planes[4];
                for (int c = 0; c < 4; ++c) {
                    planes[c].assign(n, 255);
                    if (from[c] >= 0) gather(imageSpec, pixels, from[c], host, planes[c].data());
                }
                interleave(planes, out);
                return;
            }
            case Depth::U16: {
                std::vector<uint16_t> planes[4];
                for (int c = 0; c < 4; ++c) {
                    planes[c].assign(n, 65535);
                    if (from[c] >= 0) gather(imageSpec, pixels, from[c], host, planes[c].data());
                    for (uint16_t& v : planes[c]) v = fileToHost16(v);
                }
                interleave(planes, out);
                return;
            }
            case Depth::F32: break;
        }
    }
    std::vector<float> planes[4];
    for (int c = 0; c < 4; ++c) {
        planes[c].assign(n, 1.0f);
        if (from[c] >= 0) gather(imageSpec, pixels, from[c], TypeDesc::FLOAT, planes[c].data());
    }
    if (associated && m.alpha >= 0)
        for (std::size_t i = 0; i < n; ++i) {
            const float a = planes[0][i];
            if (a > 0.0f)
                for (int c = 1; c < 4; ++c) planes[c][i] /= a;
        }
    if (out.depth == Depth::F32) {
        interleave(planes, out);
        return;
    }
    // The file's values to the host's integer scale as a file of that type
    // would give them: through the 0..1 scale of the integer type.
    std::vector<uint16_t> wide[4];
    for (int c = 0; c < 4; ++c) {
        wide[c].resize(n);
        OIIO::convert_pixel_values(TypeDesc::FLOAT, planes[c].data(),
                                   out.depth == Depth::U8 ? TypeDesc::UINT8 : TypeDesc::UINT16,
                                   wide[c].data(), static_cast<int>(n));
    }
    if (out.depth == Depth::U8) {
        std::vector<uint8_t> narrow[4];
        for (int c = 0; c < 4; ++c) {
            narrow[c].resize(n);
            std::memcpy(narrow[c].data(), wide[c].data(), n);  // written as 8-bit values above
        }
        interleave(narrow, out);
    } else {
        for (auto& plane : wide)
            for (uint16_t& v : plane) v = fileToHost16(v);
        interleave(wide, out);
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

    // Everything else through float on the 0..1 scale.
    std::vector<float> planes[4];
    for (auto& p : planes) p.resize(n);
    const float scale = img.depth == Depth::U8 ? 255.0f : 32768.0f;
    for (std::size_t i = 0; i < n; ++i)
        for (int c = 0; c < 4; ++c) {
            float v;
            if (img.depth == Depth::U8)
                v = img.pixels[4 * i + c] / scale;
            else if (img.depth == Depth::U16)
                v = reinterpret_cast<const uint16_t*>(img.pixels.data())[4 * i + c] / scale;
            else
                v = reinterpret_cast<const float*>(img.pixels.data())[4 * i + c];
            planes[c][i] = v;
        }
    if (associate)
        for (std::size_t i = 0; i < n; ++i)
            for (int c = 1; c < 4; ++c) planes[c][i] *= planes[0][i];
    for (int c = 0; c < 4; ++c)
        if (to[c] >= 0) scatter(planes[c].data(), TypeDesc::FLOAT, imageSpec, to[c], dst);
}

}  // namespace kcli

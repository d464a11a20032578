// Images owned by the reference host: the pixel storage behind the
// PF_EffectWorld records that the plug-in checks out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/HostTypes.h"
#include "refhost/Depth.h"

namespace refhost {

// A width x height image with rows `rowbytes` apart. `extraRowBytes` adds
// padding after each row (rowbytes > width x pixel size), as hosts do for
// alignment; it must be a multiple of the channel size (1, 2 or 4 bytes) so
// that every row stays aligned for its pixel type. Padding bytes are filled
// with PADDING_BYTE and never belong to any pixel: paddingIntact() tells
// whether anything wrote into them.
//
// Pixels start zeroed. The PF_EffectWorld record lives inside the object:
// effectWorld() is stable as long as the World is not moved.
class World {
public:
    static constexpr std::uint8_t PADDING_BYTE = 0xA5;

    // Throws std::invalid_argument for negative sizes or misaligned padding.
    World(Depth depth, int width, int height, int extraRowBytes = 0);
    // A world over `pixels` (rows packed, width x pixel size bytes each),
    // taken over without a copy: frames can be large. Throws
    // std::invalid_argument when the size does not match.
    World(Depth depth, int width, int height, std::vector<std::uint8_t>&& pixels);
    World(const World&) = delete;
    World& operator=(const World&) = delete;
    World(World&& other) noexcept;
    World& operator=(World&& other) noexcept;

    Depth depth() const { return depth_; }
    int width() const { return width_; }
    int height() const { return height_; }
    A_long rowbytes() const { return rowbytes_; }
    std::size_t pixelSize() const { return pixelBytes(depth_); }

    // The host record handed to the plug-in; `data` points at row 0.
    PF_EffectWorld* effectWorld() { return &world_; }
    const PF_EffectWorld* effectWorld() const { return &world_; }

    // Typed access. P must be the pixel type of the depth (PF_Pixel,
    // PF_Pixel16 or PF_PixelFloat); a mismatch or a row outside 0..height-1
    // throws std::out_of_range.
    template <class P>
    P* row(int y) {
        return reinterpret_cast<P*>(rowData(y, sizeof(P)));
    }
    template <class P>
    const P* row(int y) const {
        return reinterpret_cast<const P*>(const_cast<World*>(this)->rowData(y, sizeof(P)));
    }
    template <class P>
    P& at(int x, int y) {
        checkColumn(x);
        return row<P>(y)[x];
    }
    template <class P>
    const P& at(int x, int y) const {
        checkColumn(x);
        return row<P>(y)[x];
    }

    // Raw bytes of row y (width x pixelSize bytes of pixels, then padding).
    std::uint8_t* rowBytes(int y) { return rowData(y, pixelSize()); }
    const std::uint8_t* rowBytes(int y) const {
        return const_cast<World*>(this)->rowData(y, pixelSize());
    }

    // Gives up the storage (rows `rowbytes()` apart), leaving the world empty.
    std::vector<std::uint8_t> release();

    // True when both worlds have the same depth and size and every pixel
    // has the same bytes (padding is not compared; floats bit for bit, so a
    // NaN equals the same NaN).
    bool samePixels(const World& other) const;

    // True when no byte of any row padding has changed since construction.
    bool paddingIntact() const;

private:
    std::uint8_t* rowData(int y, std::size_t expectedPixelSize);
    void checkColumn(int x) const;
    void bind();

    Depth depth_;
    int width_;
    int height_;
    A_long rowbytes_;
    std::vector<std::uint8_t> storage_;
    PF_EffectWorld world_{};
};

}  // namespace refhost

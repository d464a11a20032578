#include "refhost/World.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "host/HostConstants.h"

namespace refhost {

World::World(Depth depth, int width, int height, int extraRowBytes)
    : depth_(depth), width_(width), height_(height), rowbytes_(0) {
    const std::size_t channel = pixelBytes(depth) / 4;
    if (width < 0 || height < 0 || extraRowBytes < 0)
        throw std::invalid_argument("world size and padding must not be negative");
    if (static_cast<std::size_t>(extraRowBytes) % channel != 0)
        throw std::invalid_argument("row padding of " + std::to_string(extraRowBytes) +
                                    " bytes would misalign " + depthName(depth) + " rows");
    const std::size_t rowbytes = static_cast<std::size_t>(width) * pixelBytes(depth) +
                                 static_cast<std::size_t>(extraRowBytes);
    if (rowbytes > 0x7FFFFFFF) throw std::invalid_argument("world rows too wide");
    rowbytes_ = static_cast<A_long>(rowbytes);
    storage_.assign(rowbytes * static_cast<std::size_t>(height), 0);
    const std::size_t usedBytes = static_cast<std::size_t>(width) * pixelBytes(depth);
    for (int y = 0; y < height; ++y)
        std::memset(storage_.data() + y * rowbytes + usedBytes, PADDING_BYTE, rowbytes - usedBytes);
    bind();
}

World::World(Depth depth, int width, int height, std::vector<std::uint8_t>&& pixels)
    : depth_(depth), width_(width), height_(height), rowbytes_(0) {
    if (width < 0 || height < 0) throw std::invalid_argument("world size must not be negative");
    const std::size_t rowbytes = static_cast<std::size_t>(width) * pixelBytes(depth);
    if (rowbytes > 0x7FFFFFFF) throw std::invalid_argument("world rows too wide");
    if (pixels.size() != rowbytes * static_cast<std::size_t>(height))
        throw std::invalid_argument("pixel storage does not match a " + std::to_string(width) +
                                    "x" + std::to_string(height) + " world");
    rowbytes_ = static_cast<A_long>(rowbytes);
    storage_ = std::move(pixels);
    bind();
}

std::vector<std::uint8_t> World::release() {
    std::vector<std::uint8_t> pixels = std::move(storage_);
    storage_.clear();
    width_ = height_ = 0;
    bind();
    return pixels;
}

World::World(World&& other) noexcept
    : depth_(other.depth_),
      width_(other.width_),
      height_(other.height_),
      rowbytes_(other.rowbytes_),
      storage_(std::move(other.storage_)) {
    bind();
    other.width_ = other.height_ = 0;
    other.bind();
}

World& World::operator=(World&& other) noexcept {
    if (this != &other) {
        depth_ = other.depth_;
        width_ = other.width_;
        height_ = other.height_;
        rowbytes_ = other.rowbytes_;
        storage_ = std::move(other.storage_);
        bind();
        other.width_ = other.height_ = 0;
        other.bind();
    }
    return *this;
}

void World::bind() {
    world_ = PF_EffectWorld{};
    world_.data = storage_.empty() ? nullptr : reinterpret_cast<PF_PixelPtr>(storage_.data());
    world_.rowbytes = rowbytes_;
    world_.width = width_;
    world_.height = height_;
    world_.extent_hint = PF_LRect{0, 0, width_, height_};
    world_.pix_aspect_ratio = PF_RationalScale{1, 1};
}

std::uint8_t* World::rowData(int y, std::size_t expectedPixelSize) {
    if (expectedPixelSize != pixelSize())
        throw std::out_of_range(std::string("pixel type does not match a ") + depthName(depth_) +
                                " world");
    if (y < 0 || y >= height_)
        throw std::out_of_range("row " + std::to_string(y) + " outside 0.." +
                                std::to_string(height_ - 1));
    return storage_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowbytes_);
}

void World::checkColumn(int x) const {
    if (x < 0 || x >= width_)
        throw std::out_of_range("column " + std::to_string(x) + " outside 0.." +
                                std::to_string(width_ - 1));
}

bool World::samePixels(const World& other) const {
    if (depth_ != other.depth_ || width_ != other.width_ || height_ != other.height_) return false;
    const std::size_t usedBytes = static_cast<std::size_t>(width_) * pixelSize();
    for (int y = 0; y < height_; ++y)
        if (std::memcmp(rowBytes(y), other.rowBytes(y), usedBytes) != 0) return false;
    return true;
}

bool World::paddingIntact() const {
    const std::size_t usedBytes = static_cast<std::size_t>(width_) * pixelSize();
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* r = rowBytes(y);
        for (std::size_t i = usedBytes; i < static_cast<std::size_t>(rowbytes_); ++i)
            if (r[i] != PADDING_BYTE) return false;
    }
    return true;
}

}  // namespace refhost

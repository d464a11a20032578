#include "cli/image/PngEncoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "cli/Depth16.h"

namespace kcli {
namespace {

// The five row filters of PNG.
enum Filter : uint8_t { NONE = 0, SUB = 1, UP = 2, AVERAGE = 3, PAETH = 4 };

struct Compressor {
    explicit Compressor(int level) : c(libdeflate_alloc_compressor(level)) {
        if (!c) throw std::bad_alloc();
    }
    ~Compressor() { libdeflate_free_compressor(c); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    std::vector<uint8_t> zlib(const std::vector<uint8_t>& in) const {
        std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c, in.size()));
        const size_t n = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
        if (n == 0) throw std::bad_alloc();  // the bound was too small: cannot happen
        out.resize(n);
        return out;
    }
    libdeflate_compressor* c;
};

// One row of the image in the file's layout: R, G, B, A, 16-bit samples
// big-endian.
void fileRow(const HostImage& img, int y, uint8_t* out) {
    const int w = img.width;
    switch (img.depth) {
        case Depth::U8: {
            const uint8_t* p = img.row(y);
            for (int x = 0; x < w; ++x, p += 4, out += 4) {
                out[0] = p[1];
                out[1] = p[2];
                out[2] = p[3];
                out[3] = p[0];
            }
            break;
        }
        case Depth::U16: {
            uint16_t px[4];
            for (int x = 0; x < w; ++x, out += 8) {
                std::memcpy(px, img.row(y) + 8 * static_cast<std::size_t>(x), 8);
                const uint16_t v[4] = {hostToFile16(px[1]), hostToFile16(px[2]),
                                       hostToFile16(px[3]), hostToFile16(px[0])};
                for (int c = 0; c < 4; ++c) {
                    out[2 * c] = static_cast<uint8_t>(v[c] >> 8);
                    out[2 * c + 1] = static_cast<uint8_t>(v[c]);
                }
            }
            break;
        }
        case Depth::F32: {
            float px[4];
            for (int x = 0; x < w; ++x, out += 8) {
                std::memcpy(px, img.row(y) + 16 * static_cast<std::size_t>(x), 16);
                const float f[4] = {px[1], px[2], px[3], px[0]};
                for (int c = 0; c < 4; ++c) {
                    // NaN and below 0 are black, above 1 white.
                    const float s = f[c] > 0.0f ? (f[c] < 1.0f ? f[c] : 1.0f) : 0.0f;
                    const auto v = static_cast<uint16_t>(s * 65535.0f + 0.5f);
                    out[2 * c] = static_cast<uint8_t>(v >> 8);
                    out[2 * c + 1] = static_cast<uint8_t>(v);
                }
            }
            break;
        }
    }
}

inline uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}

void applyFilter(Filter f, const uint8_t* cur, const uint8_t* prev, std::size_t n, int bpp,
                 uint8_t* out) {
    for (std::size_t i = 0; i < n; ++i) {
        const int a = i >= static_cast<std::size_t>(bpp) ? cur[i - bpp] : 0;
        const int b = prev ? prev[i] : 0;
        const int c = prev && i >= static_cast<std::size_t>(bpp) ? prev[i - bpp] : 0;
        int v = cur[i];
        switch (f) {
            case NONE: break;
            case SUB: v -= a; break;
            case UP: v -= b; break;
            case AVERAGE: v -= (a + b) >> 1; break;
            case PAETH: v -= paeth(a, b, c); break;
        }
        out[i] = static_cast<uint8_t>(v);
    }
}

// The usual heuristic: the filter whose output, read as signed bytes, has
// the least sum of magnitudes.
void filterRow(bool adaptive, const uint8_t* cur, const uint8_t* prev, std::size_t n, int bpp,
               uint8_t* out, std::vector<uint8_t>& scratch) {
    if (!adaptive) {
        out[0] = NONE;
        std::memcpy(out + 1, cur, n);
        return;
    }
    scratch.resize(n);
    unsigned long best = ~0ul;
    for (Filter f : {NONE, SUB, UP, AVERAGE, PAETH}) {
        applyFilter(f, cur, prev, n, bpp, scratch.data());
        unsigned long sum = 0;
        for (std::size_t i = 0; i < n; ++i) sum += scratch[i] < 128 ? scratch[i] : 256 - scratch[i];
        if (sum < best) {
            best = sum;
            out[0] = f;
            std::memcpy(out + 1, scratch.data(), n);
        }
    }
}

// Rows `rows` of the image, filtered, as the compressor takes them.
std::vector<uint8_t> filtered(const HostImage& img, const std::vector<int>& rows, bool adaptive,
                              int bpp) {
    const std::size_t n = static_cast<std::size_t>(img.width) * bpp;
    std::vector<uint8_t> out((n + 1) * rows.size());
    std::vector<uint8_t> cur(n), prev(n), scratch;
    int prevRow = -2;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int y = rows[i];
        if (y > 0 && prevRow != y - 1) fileRow(img, y - 1, prev.data());
        fileRow(img, y, cur.data());
        filterRow(adaptive, cur.data(), y > 0 ? prev.data() : nullptr, n, bpp,
                  out.data() + i * (n + 1), scratch);
        std::swap(cur, prev);
        prevRow = y;
    }
    return out;
}

// Grain defeats prediction: on camera footage the unfiltered rows compress
// best, on smooth or synthetic pictures the predicted ones. Eight rows out
// of every 128, tried both ways at the fastest level, tell which; the
// choice depends on the pixels alone, so the file does too.
bool predictionPays(const HostImage& img, int bpp) {
    std::vector<int> sample;
    for (int y = 0; y < img.height; ++y)
        if ((y / 8) % 16 == 0) sample.push_back(y);
    const Compressor fast(1);
    return fast.zlib(filtered(img, sample, true, bpp)).size() <
           fast.zlib(filtered(img, sample, false, bpp)).size();
}

// PNG's integers are big-endian.
void store32(uint8_t* p, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) *p++ = static_cast<uint8_t>(v >> s);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    store32(b, v);
    out.insert(out.end(), b, b + 4);
}

void chunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, std::size_t n) {
    put32(out, static_cast<uint32_t>(n));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + n);
    put32(out, libdeflate_crc32(0, out.data() + start, n + 4));
}

}  // namespace

std::vector<unsigned char> encodePng(const HostImage& img, int level, const PngMetadata& metadata) {
    const int bpp = img.depth == Depth::U8 ? 4 : 8;
    std::vector<int> rows(static_cast<std::size_t>(img.height));
    for (int y = 0; y < img.height; ++y) rows[static_cast<std::size_t>(y)] = y;
    const bool adaptive = level > 0 && predictionPays(img, bpp);
    std::vector<uint8_t> raw = filtered(img, rows, adaptive, bpp);
    const Compressor compressor(level);

    // The stream is deflated into storage left uninitialised: the system
    // lends its pages only as the compressor writes them, so it holds what
    // the stream takes, not the bound (a frame's size), beside the frame and
    // its filtered rows, when memory peaks.
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.c, raw.size());
    const std::unique_ptr<uint8_t[]> stream(new uint8_t[bound]);
    const std::size_t n =
        libdeflate_zlib_compress(compressor.c, raw.data(), raw.size(), stream.get(), bound);
    if (n == 0) throw std::bad_alloc();  // the bound was too small: cannot happen
    std::vector<uint8_t>().swap(raw);    // the rows go before the file is framed

    // IDAT chunks of at most 1 MiB, as readers expect moderate chunk sizes.
    constexpr std::size_t IDAT_MAX = 1 << 20;
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(img.width));
    put32(header, static_cast<uint32_t>(img.height));
    // Bit depth, colour type 6 (RGBA), deflate, adaptive filtering, no interlace.
    header.insert(header.end(), {static_cast<uint8_t>(bpp == 4 ? 8 : 16), 6, 0, 0, 0});
    std::vector<uint8_t> png;
    std::size_t size = 8 + 12 + header.size() + (metadata.density ? 12 + 9 : 0);
    // iTXt's four bytes more included: the file is never reallocated (and
    // held twice) on the way.
    for (const PngText& t : metadata.text) size += 12 + t.first.size() + 5 + t.second.size();
    png.reserve(size + n + 12 * (n / IDAT_MAX + 1) + 12);
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    png.insert(png.end(), signature, signature + 8);
    chunk(png, "IHDR", header.data(), header.size());
    if (const auto& d = metadata.density) {
        uint8_t body[9];
        store32(body, d->x);
        store32(body + 4, d->y);
        body[8] = d->perMetre ? 1 : 0;
        chunk(png, "pHYs", body, sizeof body);
    }
    for (const PngText& t : metadata.text) {
        // tEXt is Latin-1: UTF-8 beyond ASCII (a path, a name) would read
        // as other characters there.
        const bool ascii = std::all_of(t.second.begin(), t.second.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        std::vector<uint8_t> body(t.first.begin(), t.first.end());
        body.push_back(0);
        // Uncompressed, no language tag, no translated keyword.
        if (!ascii) body.insert(body.end(), {0, 0, 0, 0});
        body.insert(body.end(), t.second.begin(), t.second.end());
        chunk(png, ascii ? "tEXt" : "iTXt", body.data(), body.size());
    }
    for (std::size_t done = 0; done < n; done += IDAT_MAX)
        chunk(png, "IDAT", stream.get() + done, std::min(IDAT_MAX, n - done));
    chunk(png, "IEND", nullptr, 0);
    return png;
}

}  // namespace kcli

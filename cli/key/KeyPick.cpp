#include "cli/key/KeyPick.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/key/Pixels.h"

namespace kcli {
namespace {

using Rgb = std::array<float, 3>;

Rgb weighted(const Rgba& p) { return {p.a * p.r, p.a * p.g, p.a * p.b}; }

// Per-channel histograms of 8-bit codes: the median of rounded values is the
// rounded median, so this is exact at every depth and linear in the pixels.
class CodeHistogram {
public:
    void add(const Rgb& c) {
        for (int ch = 0; ch < 3; ++ch) ++bins_[ch][code8(c[ch])];
        ++count_;
    }
    int count() const { return count_; }

    ColorSample sample() const {
        ColorSample s;
        s.count = count_;
        int med[3];
        double mad = 0;
        for (int ch = 0; ch < 3; ++ch) {
            med[ch] = median(bins_[ch]);
            std::array<uint32_t, 256> dev{};
            for (int c = 0; c < 256; ++c) dev[std::abs(c - med[ch])] += bins_[ch][c];
            mad += median(dev);
        }
        s.color = {static_cast<uint8_t>(med[0]), static_cast<uint8_t>(med[1]),
                   static_cast<uint8_t>(med[2])};
        s.spread = mad / 3.0;
        return s;
    }

private:
    int median(const std::array<uint32_t, 256>& bins) const {
        const uint64_t half = (static_cast<uint64_t>(count_) + 1) / 2;
        uint64_t seen = 0;
        for (int c = 0; c < 256; ++c)
            if ((seen += bins[c]) >= half) return c;
        return 255;
    }

    std::array<std::array<uint32_t, 256>, 3> bins_{};
    int count_ = 0;
};

std::string sizeText(const HostImage& image) {
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}

// A screen is one channel well above the other two, in absolute terms (not
// a dark grey with a tint) and relative to its own level (not a pale grey).
struct Hue {
    int dom, o1, o2;
    const char* name;
};
constexpr Hue GREEN{1, 0, 2, "green"};
constexpr Hue BLUE{2, 0, 1, "blue"};

bool strongly(const Hue& h, const Rgb& c, float margin, float relative) {
    const float lead = c[h.dom] - std::max(c[h.o1], c[h.o2]);
    return lead > margin && lead > relative * c[h.dom];
}

float medianOf(std::vector<float> v) {
    if (v.empty()) return 0.0f;
    auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Blocks of at most 128 on the long side: enough to follow the foreground's
// outline. Each is judged by the mean of up to four of its pixels (a 2x2
// sample, spread over the block), so the estimate reads about the same
// number of pixels whatever the frame's size: a downscaled copy in effect.
struct Blocks {
    int size = 1, across = 0, down = 0, step = 1;
    std::vector<Rgb> mean;

    explicit Blocks(const HostImage& image) {
        size = std::max(1, (std::max(image.width, image.height) + 127) / 128);
        step = std::max(1, size / 2);
        across = (image.width + size - 1) / size;
        down = (image.height + size - 1) / size;
        mean.assign(static_cast<std::size_t>(across) * down, Rgb{0, 0, 0});
        for (int by = 0; by < down; ++by)
            for (int bx = 0; bx < across; ++bx) {
                Rgb sum{0, 0, 0};
                int n = 0;
                forSamples(image, bx, by, [&](const Rgb& c) {
                    for (int ch = 0; ch < 3; ++ch) sum[ch] += c[ch];
                    ++n;
                });
                for (int ch = 0; ch < 3; ++ch)
                    mean[static_cast<std::size_t>(by) * across + bx][ch] = sum[ch] / n;
            }
    }

    template <typename Visit>
    void forSamples(const HostImage& image, int bx, int by, Visit&& visit) const {
        const int x0 = bx * size, y0 = by * size;
        for (int y = y0; y < std::min(y0 + size, image.height) && y < y0 + 2 * step; y += step)
            for (int x = x0; x < std::min(x0 + size, image.width) && x < x0 + 2 * step; x += step)
                visit(weighted(pixelAt(image, x, y)));
    }
};

// Of the blocks of one hue, those whose hue ratios and brightness match the
// bulk's: a screen lit unevenly keeps its ratios, a green object does not.
std::vector<bool> screenBlocks(const Blocks& blocks, const Hue& h, int* kept) {
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < blocks.mean.size(); ++i)
        if (strongly(h, blocks.mean[i], 0.1f, 0.3f)) candidates.push_back(i);
    std::vector<bool> in(blocks.mean.size(), false);
    for (std::size_t i : candidates) in[i] = true;
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<float> u, v, level;
        for (std::size_t i : candidates) {
            if (!in[i]) continue;
            const Rgb& c = blocks.mean[i];
            u.push_back(c[h.o1] / c[h.dom]);
            v.push_back(c[h.o2] / c[h.dom]);
            level.push_back(c[h.dom]);
        }
        if (u.empty()) break;
        const float mu = medianOf(u), mv = medianOf(v), ml = medianOf(level);
        for (std::size_t i : candidates) {
            const Rgb& c = blocks.mean[i];
            const float l = c[h.dom];
            in[i] = std::abs(c[h.o1] / l - mu) <= 0.12f && std::abs(c[h.o2] / l - mv) <= 0.12f &&
                    l >= 0.55f * ml && l <= 1.8f * ml;
        }
    }
    *kept = static_cast<int>(std::count(in.begin(), in.end(), true));
    return in;
}

}  // namespace

ColorSample medianAround(const HostImage& image, int x, int y, int radius) {
    CodeHistogram hist;
    const long long r2 = static_cast<long long>(radius) * radius;
    const int y0 = std::max(0, y - radius), y1 = std::min(image.height - 1, y + radius);
    const int x0 = std::max(0, x - radius), x1 = std::min(image.width - 1, x + radius);
    for (int py = y0; py <= y1; ++py)
        for (int px = x0; px <= x1; ++px) {
            const long long dx = px - x, dy = py - y;
            if (dx * dx + dy * dy <= r2) hist.add(weighted(pixelAt(image, px, py)));
        }
    if (hist.count() == 0)
        throw Failure(EXIT_BAD_INPUT, "the point " + std::to_string(x) + "," + std::to_string(y) +
                                          " (radius " + std::to_string(radius) +
                                          ") lies outside the " + sizeText(image) + " image");
    return hist.sample();
}

ColorSample medianRect(const HostImage& image, int x, int y, int w, int h) {
    const long long x0 = std::max(0, x), y0 = std::max(0, y);
    const long long x1 = std::min<long long>(image.width, static_cast<long long>(x) + w);
    const long long y1 = std::min<long long>(image.height, static_cast<long long>(y) + h);
    if (w <= 0 || h <= 0 || x0 >= x1 || y0 >= y1)
        throw Failure(EXIT_BAD_INPUT, "the rectangle " + std::to_string(x) + "," +
                                          std::to_string(y) + "," + std::to_string(w) + "," +
                                          std::to_string(h) + " holds no pixel of the " +
                                          sizeText(image) + " image");
    CodeHistogram hist;
    for (long long py = y0; py < y1; ++py)
        for (long long px = x0; px < x1; ++px)
            hist.add(weighted(pixelAt(image, static_cast<int>(px), static_cast<int>(py))));
    return hist.sample();
}

std::optional<ColorSample> estimateKey(const HostImage& image) {
    if (image.width <= 0 || image.height <= 0) return std::nullopt;
    const Blocks blocks(image);
    int keptGreen = 0, keptBlue = 0;
    std::vector<bool> green = screenBlocks(blocks, GREEN, &keptGreen);
    std::vector<bool> blue = screenBlocks(blocks, BLUE, &keptBlue);
    const std::vector<bool>& in = keptGreen >= keptBlue ? green : blue;
    const int kept = std::max(keptGreen, keptBlue);
    // Below this share a green or blue region is more likely a prop than a
    // backing; keying against it would be a guess.
    if (kept < 0.15 * static_cast<double>(blocks.mean.size())) return std::nullopt;

    // The median over the sampled pixels of the screen's blocks: tens of
    // thousands of them, which puts it well within a code of the median over
    // every pixel.
    CodeHistogram hist;
    for (int by = 0; by < blocks.down; ++by)
        for (int bx = 0; bx < blocks.across; ++bx)
            if (in[static_cast<std::size_t>(by) * blocks.across + bx])
                blocks.forSamples(image, bx, by, [&](const Rgb& c) { hist.add(c); });
    return hist.sample();
}

std::optional<ColorSample> screenOnBorder(const HostImage& image) {
    if (image.width <= 0 || image.height <= 0) return std::nullopt;
    const int band = std::max(1, std::min(image.width, image.height) / 50);
    CodeHistogram all, green, blue;
    auto visit = [&](int x, int y) {
        const Rgb c = weighted(pixelAt(image, x, y));
        all.add(c);
        if (strongly(GREEN, c, 0.15f, 0.4f))
            green.add(c);
        else if (strongly(BLUE, c, 0.15f, 0.4f))
            blue.add(c);
    };
    // A grid of samples along the band: a few thousand pixels say what the
    // border shows.
    const int step = std::max(1, band / 4);
    for (int y = 0; y < image.height; y += step) {
        if (y < band || y >= image.height - band) {
            for (int x = 0; x < image.width; x += step) visit(x, y);
            continue;
        }
        for (int x = 0; x < band && x < image.width; x += step) visit(x, y);
        for (int x = std::max(band, image.width - band); x < image.width; x += step) visit(x, y);
    }
    const CodeHistogram& screen = green.count() >= blue.count() ? green : blue;
    if (screen.count() * 2 < all.count()) return std::nullopt;
    return screen.sample();
}

std::string hexText(const KeyColor& c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.red, c.green, c.blue);
    return buf;
}

}  // namespace kcli

#include "cli/key/Composite.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "cli/ExitCodes.h"
#include "cli/Sequence.h"
#include "cli/key/Pixels.h"

namespace kcli {

struct Background::Still {
    std::mutex mutex;
    std::shared_ptr<const HostImage> image;
};

namespace {

constexpr KeyColor CHECKER_LIGHT{204, 204, 204};  // 0.8
constexpr KeyColor CHECKER_DARK{140, 140, 140};   // 0.55

// Integer depths composite in integers, so a result is exact: rounded half up.
template <typename T>
void overInt(HostImage& keyed, int x, int y, const uint32_t bg[3], uint32_t scale) {
    T p[4];
    unsigned char* at = keyed.row(y) + sizeof p * static_cast<std::size_t>(x);
    std::memcpy(p, at, sizeof p);
    const uint32_t a = std::min<uint32_t>(p[0], scale);
    for (int c = 0; c < 3; ++c) {
        const uint64_t fg = std::min<uint32_t>(p[c + 1], scale);
        p[c + 1] = static_cast<T>((fg * a + uint64_t{bg[c]} * (scale - a) + scale / 2) / scale);
    }
    p[0] = static_cast<T>(scale);
    std::memcpy(at, p, sizeof p);
}

void overFloat(HostImage& keyed, int x, int y, const float bg[3]) {
    float p[4];
    unsigned char* at = keyed.row(y) + sizeof p * static_cast<std::size_t>(x);
    std::memcpy(p, at, sizeof p);
    // NaN alpha shows the background: there is no foreground to trust.
    const float a = p[0] > 0.0f ? std::min(p[0], 1.0f) : 0.0f;
    for (int c = 0; c < 3; ++c) p[c + 1] = a < 1.0f ? p[c + 1] * a + bg[c] * (1.0f - a) : p[c + 1];
    p[0] = 1.0f;
    std::memcpy(at, p, sizeof p);
}

// The background pixel at the keyed frame's depth: host codes, or floats.
struct BgPixel {
    uint32_t code[3];
    float value[3];
};

BgPixel fromCodes(const KeyColor& c, Depth d) {
    const uint32_t v[3] = {c.red, c.green, c.blue};
    BgPixel p{};
    for (int i = 0; i < 3; ++i) {
        p.value[i] = v[i] / 255.0f;
        p.code[i] = d == Depth::U16 ? (v[i] * 32768u + 127u) / 255u : v[i];
    }
    return p;
}

BgPixel fromImage(const HostImage& bg, int x, int y) {
    BgPixel p{};
    const unsigned char* at = bg.row(y) + pixelBytes(bg.depth) * static_cast<std::size_t>(x);
    if (bg.depth == Depth::U8) {
        for (int i = 0; i < 3; ++i) p.code[i] = at[i + 1];
    } else if (bg.depth == Depth::U16) {
        uint16_t v[4];
        std::memcpy(v, at, sizeof v);
        for (int i = 0; i < 3; ++i) p.code[i] = std::min<uint32_t>(v[i + 1], 32768u);
    } else {
        std::memcpy(p.value, at + sizeof(float), sizeof p.value);
    }
    return p;
}

template <typename BgAt>
void compositeWith(HostImage& keyed, BgAt&& bgAt) {
    for (int y = 0; y < keyed.height; ++y)
        for (int x = 0; x < keyed.width; ++x) {
            const BgPixel b = bgAt(x, y);
            switch (keyed.depth) {
                case Depth::U8: overInt<uint8_t>(keyed, x, y, b.code, 255u); break;
                case Depth::U16: overInt<uint16_t>(keyed, x, y, b.code, 32768u); break;
                default: overFloat(keyed, x, y, b.value);
            }
        }
}

void checkSize(const HostImage& keyed, const HostImage& bg, const std::string& path) {
    if (bg.width != keyed.width || bg.height != keyed.height)
        throw Failure(EXIT_BAD_INPUT, path + ": the background is " + std::to_string(bg.width) +
                                          "x" + std::to_string(bg.height) + ", the keyed frame " +
                                          std::to_string(keyed.width) + "x" +
                                          std::to_string(keyed.height));
}

}  // namespace

Background parseBackground(const std::string& text) {
    Background bg;
    if (text == "checker") return bg;
    if (!text.empty() && text[0] == '#') {
        try {
            bg.kind = Background::Kind::Color;
            bg.color = parseKeyColor(text);
        } catch (const Failure&) {
            throw Failure(EXIT_BAD_INPUT, "--over: '" + text + "' is not a colour (use #rrggbb)");
        }
        return bg;
    }
    if (text.empty())
        throw Failure(EXIT_BAD_INPUT, "--over: give an image, a sequence, #rrggbb or checker");
    bg.kind = Background::Kind::Image;
    bg.path = text;
    bg.sequence = FramePattern(text, "--over").isSequence();
    if (!bg.sequence) {
        probeImage(text);  // a missing or unreadable file fails before any keying
        bg.still = std::make_shared<Background::Still>();
    }
    return bg;
}

void compositeOver(HostImage& keyed, const Background& bg, int frame) {
    switch (bg.kind) {
        case Background::Kind::Checker: {
            const int square = checkerSquare(keyed.width, keyed.height);
            const BgPixel light = fromCodes(CHECKER_LIGHT, keyed.depth);
            const BgPixel dark = fromCodes(CHECKER_DARK, keyed.depth);
            compositeWith(keyed, [&](int x, int y) {
                return checkerAt(x, y, square) == CHECKER_DARK ? dark : light;
            });
            return;
        }
        case Background::Kind::Color: {
            const BgPixel c = fromCodes(bg.color, keyed.depth);
            compositeWith(keyed, [&](int, int) { return c; });
            return;
        }
        case Background::Kind::Image: break;
    }
    if (bg.sequence) {
        const std::string path = FramePattern(bg.path, "--over").path(frame);
        const HostImage image = readImage(path, keyed.depth);
        checkSize(keyed, image, path);
        compositeWith(keyed, [&](int x, int y) { return fromImage(image, x, y); });
        return;
    }
    // Frames in flight on several threads share the one read.
    std::shared_ptr<const HostImage> image;
    {
        std::lock_guard<std::mutex> lock(bg.still->mutex);
        if (!bg.still->image || bg.still->image->depth != keyed.depth)
            bg.still->image = std::make_shared<const HostImage>(readImage(bg.path, keyed.depth));
        image = bg.still->image;
    }
    checkSize(keyed, *image, bg.path);
    compositeWith(keyed, [&](int x, int y) { return fromImage(*image, x, y); });
}

int checkerSquare(int width, int height) {
    return std::max(8, (std::max(width, height) + 30) / 60);
}

KeyColor checkerAt(int x, int y, int square) {
    return ((x / square + y / square) & 1) ? CHECKER_DARK : CHECKER_LIGHT;
}

}  // namespace kcli

// Makes the bundled sample footage: a synthetic green-screen frame with the
// things a keyer is judged on. A subject with soft and hard edges, fine hair
// strands, a translucent scarf and a motion-blurred ball, green spill on the
// subject near its edges, unevenly lit screen, and sensor noise. Everything
// is deterministic (the noise is a hash of the pixel position), so the files
// come out byte for byte the same on every run.
//
//   kestrelumen-make-samples OUTDIR [--size WxH]
//
// writes OUTDIR/greenscreen-8bit.png, greenscreen-16bit.png and
// greenscreen-float.exr (RGB, no alpha: a camera plate).
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Rgb {
    float r, g, b;
};

struct Canvas {
    int w, h;
    float s;                   // scale relative to the 960x540 design
    std::vector<Rgb> fg;       // premultiplied foreground colour
    std::vector<float> alpha;  // foreground coverage

    Canvas(int width, int height)
        : w(width),
          h(height),
          s(height / 540.0f),
          fg(static_cast<std::size_t>(width) * height, Rgb{0, 0, 0}),
          alpha(static_cast<std::size_t>(width) * height, 0.0f) {}

    // Lays colour c with coverage a over what is there.
    void over(int x, int y, Rgb c, float a) {
        if (x < 0 || y < 0 || x >= w || y >= h || a <= 0) return;
        a = std::min(a, 1.0f);
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        fg[i] = {c.r * a + fg[i].r * (1 - a), c.g * a + fg[i].g * (1 - a),
                 c.b * a + fg[i].b * (1 - a)};
        alpha[i] = a + alpha[i] * (1 - a);
    }
};

float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

float smoothstep(float e0, float e1, float x) {
    const float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// Integer hash -> [0, 1): the noise depends on position only.
float hash01(uint32_t x, uint32_t y, uint32_t c) {
    uint32_t v = x * 0x8da6b343u ^ y * 0xd8163841u ^ c * 0xcb1ab31fu ^ 0x9e3779b9u;
    v ^= v >> 16;
    v *= 0x7feb352du;
    v ^= v >> 15;
    v *= 0x846ca68bu;
    v ^= v >> 16;
    return static_cast<float>(v >> 8) / 16777216.0f;
}

// Roughly Gaussian, sd 1: the sum of four uniforms, centred and scaled.
float noise(uint32_t x, uint32_t y, uint32_t c) {
    float sum = 0;
    for (uint32_t k = 0; k < 4; ++k) sum += hash01(x, y, c * 4 + k);
    return (sum - 2.0f) * 1.7320508f;
}

// A deterministic pseudo-random sequence for placing the strands.
struct Lcg {
    uint64_t state;
    float next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<float>(state >> 40) / 16777216.0f;
    }
    float range(float lo, float hi) { return lo + (hi - lo) * next(); }
};

// Fills a shape given by a signed distance (negative inside, in design
// pixels) with an edge `soft` design pixels wide.
template <typename Sdf, typename Shade>
void fillShape(Canvas& cv, float x0, float y0, float x1, float y1, float soft, Sdf sdf,
               Shade shade) {
    const int ix0 = std::max(0, static_cast<int>(std::floor(x0 * cv.s)));
    const int iy0 = std::max(0, static_cast<int>(std::floor(y0 * cv.s)));
    const int ix1 = std::min(cv.w - 1, static_cast<int>(std::ceil(x1 * cv.s)));
    const int iy1 = std::min(cv.h - 1, static_cast<int>(std::ceil(y1 * cv.s)));
    const float edge = std::max(soft, 1.0f / cv.s);
    for (int y = iy0; y <= iy1; ++y)
        for (int x = ix0; x <= ix1; ++x) {
            const float dx = (x + 0.5f) / cv.s, dy = (y + 0.5f) / cv.s;
            const float d = sdf(dx, dy);
            const float a = 1.0f - smoothstep(-edge * 0.5f, edge * 0.5f, d);
            if (a > 0) cv.over(x, y, shade(dx, dy), a);
        }
}

float ellipseSdf(float x, float y, float cx, float cy, float rx, float ry) {
    const float nx = (x - cx) / rx, ny = (y - cy) / ry;
    const float k = std::sqrt(nx * nx + ny * ny);
    return (k - 1.0f) * std::min(rx, ry);
}

float roundBoxSdf(float x, float y, float cx, float cy, float hx, float hy, float r) {
    const float qx = std::fabs(x - cx) - hx + r, qy = std::fabs(y - cy) - hy + r;
    const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - r;
}

// A thin curve (quadratic Bezier) `width` design pixels wide, drawn as short
// segments with coverage from the distance to each.
void strand(Canvas& cv, float x0, float y0, float cx, float cy, float x1, float y1, float width,
            Rgb c, float opacity) {
    const int steps = 24;
    float px = x0, py = y0;
    for (int i = 1; i <= steps; ++i) {
        const float t = static_cast<float>(i) / steps, u = 1 - t;
        const float qx = u * u * x0 + 2 * u * t * cx + t * t * x1;
        const float qy = u * u * y0 + 2 * u * t * cy + t * t * y1;
        // Strands thin out toward their tips.
        const float wPx = width * (1.0f - 0.7f * t) * cv.s;
        const float ax = px * cv.s, ay = py * cv.s, bx = qx * cv.s, by = qy * cv.s;
        const int xa = static_cast<int>(std::floor(std::min(ax, bx) - 2));
        const int xb = static_cast<int>(std::ceil(std::max(ax, bx) + 2));
        const int ya = static_cast<int>(std::floor(std::min(ay, by) - 2));
        const int yb = static_cast<int>(std::ceil(std::max(ay, by) + 2));
        const float vx = bx - ax, vy = by - ay, len2 = vx * vx + vy * vy + 1e-6f;
        for (int y = ya; y <= yb; ++y)
            for (int x = xa; x <= xb; ++x) {
                const float wx = x + 0.5f - ax, wy = y + 0.5f - ay;
                const float h = clamp01((wx * vx + wy * vy) / len2);
                const float dx = wx - vx * h, dy = wy - vy * h;
                const float d = std::sqrt(dx * dx + dy * dy);
                // A line thinner than a pixel covers it partly.
                const float a = clamp01(std::min(wPx, wPx * 0.5f + 0.5f - d));
                // Segments overlap at their joints; halve the doubled share.
                if (a > 0) cv.over(x, y, c, a * opacity * (h > 0 && h < 1 ? 1.0f : 0.5f));
            }
        px = qx;
        py = qy;
    }
}

void paintSubject(Canvas& cv) {
    const Rgb skin{0.86f, 0.62f, 0.50f};
    const Rgb hair{0.62f, 0.40f, 0.20f};  // auburn

    // Torso: a shirt with soft shading, edges slightly out of focus.
    fillShape(
        cv, 300, 320, 660, 560, 2.5f,
        [](float x, float y) {
            return roundBoxSdf(x, y, 480, 460, 150 + (y - 330) * 0.15f, 130, 60);
        },
        [](float x, float y) {
            const float shade = 0.75f + 0.25f * std::cos((x - 470) / 160.0f) - (y - 330) / 2000.0f;
            return Rgb{0.80f * shade, 0.30f * shade, 0.16f * shade};
        });
    // Neck and head, sharper.
    fillShape(
        cv, 440, 250, 520, 350, 1.0f,
        [](float x, float y) { return roundBoxSdf(x, y, 480, 300, 28, 50, 10); },
        [&](float, float) {
            return Rgb{skin.r * 0.85f, skin.g * 0.85f, skin.b * 0.85f};
        });
    fillShape(
        cv, 400, 110, 560, 320, 1.0f,
        [](float x, float y) { return ellipseSdf(x, y, 480, 215, 70, 92); },
        [&](float x, float y) {
            const float shade = 1.0f - 0.25f * std::fabs(x - 470) / 70.0f - (y - 200) / 900.0f;
            return Rgb{skin.r * shade, skin.g * shade, skin.b * shade};
        });
    // Hair cap.
    fillShape(
        cv, 395, 100, 565, 230, 1.5f,
        [](float x, float y) {
            return std::max(ellipseSdf(x, y, 480, 190, 80, 88),
                            y - 175 - std::fabs(x - 480) * 0.4f);
        },
        [&](float x, float) {
            const float v = 0.95f + 0.08f * std::sin(x * 0.9f);
            return Rgb{hair.r * v, hair.g * v, hair.b * v};
        });
    // Loose strands from the crown and the sides: widths around one pixel
    // and below, the finest detail a keyer has to keep.
    Lcg rng{20251208};
    for (int i = 0; i < 170; ++i) {
        const float ang = rng.range(-3.05f, -0.09f);  // upper half of the head
        const float x0 = 480 + 76 * std::cos(ang), y0 = 190 + 84 * std::sin(ang);
        const float len = rng.range(30, 120);
        const float out = rng.range(0.5f, 1.0f);
        const float dirx = std::cos(ang) * out + (x0 < 480 ? -0.5f : 0.5f) * (1 - out);
        const float diry = std::sin(ang) * out + 0.6f;
        const float x1 = x0 + dirx * len, y1 = y0 + diry * len;
        const float cx = (x0 + x1) / 2 + rng.range(-25, 25),
                    cy = (y0 + y1) / 2 + rng.range(-25, 10);
        const float tone = rng.range(0.8f, 1.5f);
        strand(cv, x0, y0, cx, cy, x1, y1, rng.range(0.35f, 1.4f),
               Rgb{hair.r * tone, hair.g * tone, hair.b * tone}, rng.range(0.55f, 1.0f));
    }
    // A translucent scarf across the shoulders and out over the screen.
    fillShape(
        cv, 250, 300, 800, 470, 3.0f,
        [](float x, float y) {
            const float mid = 345 + 0.00045f * (x - 520) * (x - 520) + 0.08f * (x - 480);
            return std::max(std::fabs(y - mid) - 22 - 0.03f * (x - 250), std::fabs(x - 525) - 270);
        },
        [](float x, float) {
            return Rgb{0.95f, 0.72f, 0.80f + 0.05f * std::sin(x * 0.05f)};
        });
    // The scarf is sheer: draw it again at partial coverage over itself by
    // lowering its alpha, which leaves semi-transparent pixels over the screen.
    for (int y = 0; y < cv.h; ++y)
        for (int x = 0; x < cv.w; ++x) {
            const float dx = (x + 0.5f) / cv.s, dy = (y + 0.5f) / cv.s;
            const float mid = 345 + 0.00045f * (dx - 520) * (dx - 520) + 0.08f * (dx - 480);
            const bool inScarf =
                std::fabs(dy - mid) < 22 + 0.03f * (dx - 250) && std::fabs(dx - 525) < 270;
            if (!inScarf) continue;
            const std::size_t i = static_cast<std::size_t>(y) * cv.w + x;
            // Where the scarf lies over nothing, keep only 45 % of it.
            const bool overBody =
                roundBoxSdf(dx, dy, 480, 460, 150 + (dy - 330) * 0.15f, 130, 60) < 0 ||
                roundBoxSdf(dx, dy, 480, 300, 28, 50, 10) < 0;
            if (!overBody) {
                cv.fg[i] = {cv.fg[i].r * 0.45f, cv.fg[i].g * 0.45f, cv.fg[i].b * 0.45f};
                cv.alpha[i] *= 0.45f;
            }
        }
}

// A ball thrown past the subject, blurred by its motion: the average of
// copies along its path, so its trailing edges are semi-transparent.
void paintBall(Canvas& cv) {
    Canvas acc(cv.w, cv.h);
    const int samples = 24;
    std::vector<Rgb> sumC(acc.fg.size(), Rgb{0, 0, 0});
    std::vector<float> sumA(acc.fg.size(), 0.0f);
    for (int k = 0; k < samples; ++k) {
        Canvas one(cv.w, cv.h);
        const float cx = 130 + 90.0f * k / (samples - 1);
        fillShape(
            one, cx - 50, 150, cx + 50, 260, 1.0f,
            [cx](float x, float y) { return ellipseSdf(x, y, cx, 205, 42, 42); },
            [cx](float x, float y) {
                const float hl =
                    std::exp(-((x - cx + 14) * (x - cx + 14) + (y - 190) * (y - 190)) / 200.0f);
                return Rgb{0.95f + 0.6f * hl, 0.78f + 0.6f * hl, 0.12f + 0.6f * hl};
            });
        for (std::size_t i = 0; i < one.fg.size(); ++i) {
            sumC[i].r += one.fg[i].r;
            sumC[i].g += one.fg[i].g;
            sumC[i].b += one.fg[i].b;
            sumA[i] += one.alpha[i];
        }
    }
    for (int y = 0; y < cv.h; ++y)
        for (int x = 0; x < cv.w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * cv.w + x;
            const float a = sumA[i] / samples;
            if (a <= 0) continue;
            cv.over(x, y, {sumC[i].r / sumA[i], sumC[i].g / sumA[i], sumC[i].b / sumA[i]}, a);
        }
}

// Box blur, three passes: close to a Gaussian of the coverage.
std::vector<float> blur(const std::vector<float>& src, int w, int h, int radius) {
    std::vector<float> a = src, b(src.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float sum = 0;
                for (int k = -radius; k <= radius; ++k)
                    sum += a[static_cast<std::size_t>(y) * w + std::clamp(x + k, 0, w - 1)];
                b[static_cast<std::size_t>(y) * w + x] = sum / (2 * radius + 1);
            }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float sum = 0;
                for (int k = -radius; k <= radius; ++k)
                    sum += b[static_cast<std::size_t>(std::clamp(y + k, 0, h - 1)) * w + x];
                a[static_cast<std::size_t>(y) * w + x] = sum / (2 * radius + 1);
            }
    }
    return a;
}

Rgb screen(const Canvas& cv, int x, int y) {
    const float u = (x + 0.5f) / cv.w, v = (y + 0.5f) / cv.h;
    // A hot spot where the lights overlap, darker corners, cloth folds.
    const float hot =
        0.20f * std::exp(-((u - 0.28f) * (u - 0.28f) * 3.2f + (v - 0.22f) * (v - 0.22f) * 5.0f));
    const float vignette = 0.40f * ((u - 0.5f) * (u - 0.5f) + (v - 0.5f) * (v - 0.5f));
    const float folds = 0.035f * std::sin(u * 23.0f + v * 7.0f) * std::sin(v * 11.0f - u * 3.0f);
    const float light = 0.82f + hot - vignette + folds;
    return {0.10f * light, 0.63f * light, 0.21f * light};
}

std::vector<float> render(int w, int h) {
    Canvas cv(w, h);
    paintBall(cv);
    paintSubject(cv);

    // Green light bouncing off the screen tints the subject most near its
    // edges: the inside of a blurred coverage is low there.
    const std::vector<float> soft = blur(cv.alpha, w, h, std::max(1, static_cast<int>(9 * cv.s)));
    std::vector<float> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            const float a = cv.alpha[i];
            Rgb f = cv.fg[i];  // premultiplied
            if (a > 0) {
                const float spill = (0.06f + 0.30f * (1.0f - soft[i])) * a;
                f.g += spill * 0.55f;
                f.r -= spill * 0.04f;
                f.b -= spill * 0.02f;
            }
            const Rgb bg = screen(cv, x, y);
            const Rgb p{f.r + (1 - a) * bg.r, f.g + (1 - a) * bg.g, f.b + (1 - a) * bg.b};
            const float n = 0.010f;
            rgb[i * 3 + 0] = p.r + n * noise(x, y, 0);
            rgb[i * 3 + 1] = p.g + n * noise(x, y, 1);
            rgb[i * 3 + 2] = p.b + n * noise(x, y, 2);
        }
    return rgb;
}

bool write(const std::string& path, int w, int h, const std::vector<float>& rgb,
           OIIO::TypeDesc type) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) {
        std::fprintf(stderr, "kestrelumen-make-samples: %s: %s\n", path.c_str(),
                     OIIO::geterror().c_str());
        return false;
    }
    OIIO::ImageSpec imageSpec(w, h, 3, type);
    if (type == OIIO::TypeDesc::HALF) imageSpec.attribute("compression", "zip");
    // A fixed stamp, or the EXR writer adds the current time and the file
    // changes on every run.
    imageSpec.attribute("DateTime", "2025:01:01 00:00:00");
    // Integer files clamp to 0..1; the float file keeps the ball's highlight
    // above 1, as a real float plate would.
    std::vector<float> data = rgb;
    if (type != OIIO::TypeDesc::HALF)
        for (float& v : data) v = std::min(1.0f, std::max(0.0f, v));
    if (!out->open(path, imageSpec) || !out->write_image(OIIO::TypeDesc::FLOAT, data.data()) ||
        !out->close()) {
        std::fprintf(stderr, "kestrelumen-make-samples: %s: %s\n", path.c_str(),
                     out->geterror().c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    int w = 960, h = 540;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w < 16 || h < 16 || w > 8192 ||
                h > 8192) {
                std::fprintf(stderr,
                             "kestrelumen-make-samples: --size: '%s' is not WxH within 16..8192\n",
                             argv[i]);
                return 2;
            }
        } else if (dir.empty() && argv[i][0] != '-') {
            dir = argv[i];
        } else {
            std::fprintf(stderr, "usage: kestrelumen-make-samples OUTDIR [--size WxH]\n");
            return 2;
        }
    }
    if (dir.empty()) {
        std::fprintf(stderr, "usage: kestrelumen-make-samples OUTDIR [--size WxH]\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "kestrelumen-make-samples: %s: %s\n", dir.c_str(),
                     ec.message().c_str());
        return 4;
    }
    const std::vector<float> rgb = render(w, h);
    bool ok = write(dir + "/greenscreen-8bit.png", w, h, rgb, OIIO::TypeDesc::UINT8);
    ok = write(dir + "/greenscreen-16bit.png", w, h, rgb, OIIO::TypeDesc::UINT16) && ok;
    ok = write(dir + "/greenscreen-float.exr", w, h, rgb, OIIO::TypeDesc::HALF) && ok;
    return ok ? 0 : 4;
}

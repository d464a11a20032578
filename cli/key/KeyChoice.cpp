#include "cli/key/KeyChoice.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "cli/ExitCodes.h"

namespace kcli {
namespace {

std::vector<int> integers(const std::string& text, const std::string& flag, const char* form,
                          std::size_t least, std::size_t most) {
    std::vector<int> v;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        errno = 0;
        char* end = nullptr;
        const long n = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end != '\0' || errno == ERANGE ||
            n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
            throw Failure(EXIT_BAD_INPUT, flag + ": '" + text + "' is not " + form);
        v.push_back(static_cast<int>(n));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (v.size() < least || v.size() > most)
        throw Failure(EXIT_BAD_INPUT, flag + ": '" + text + "' is not " + form);
    return v;
}

std::string spreadText(double spread) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", spread);
    return buf;
}

}  // namespace

void parsePoint(const std::string& text, const std::string& flag, int* x, int* y, int* radius) {
    const std::vector<int> v = integers(text, flag, "X,Y or X,Y,R (whole pixels)", 2, 3);
    *x = v[0];
    *y = v[1];
    if (v.size() == 3) {
        // Beyond this the "eyedropper" is a rectangle; --key-rect says so.
        if (v[2] < 0 || v[2] > 1000)
            throw Failure(EXIT_BAD_INPUT,
                          flag + ": radius " + std::to_string(v[2]) + " is outside 0..1000");
        *radius = v[2];
    }
}

void parseRect(const std::string& text, const std::string& flag, int* x, int* y, int* w, int* h) {
    const std::vector<int> v = integers(text, flag, "X,Y,W,H (whole pixels)", 4, 4);
    if (v[2] <= 0 || v[3] <= 0)
        throw Failure(EXIT_BAD_INPUT,
                      flag + ": '" + text + "' has no area (W and H must be above 0)");
    *x = v[0];
    *y = v[1];
    *w = v[2];
    *h = v[3];
}

KeyChoice parseKeyChoice(const std::string& key, const std::string& at, const std::string& rect,
                         std::optional<int> frame) {
    KeyChoice c;
    if (!key.empty() + !at.empty() + !rect.empty() > 1)
        throw Failure(
            EXIT_BAD_INPUT,
            "--key, --key-at and --key-rect each choose the key colour: give one of them");
    if (key == "auto") {
        c.kind = KeyChoice::Kind::Auto;
    } else if (!key.empty()) {
        c.kind = KeyChoice::Kind::Given;
        c.color = parseKeyColor(key);
    } else if (!at.empty()) {
        c.kind = KeyChoice::Kind::At;
        parsePoint(at, "--key-at", &c.x, &c.y, &c.radius);
    } else if (!rect.empty()) {
        c.kind = KeyChoice::Kind::Rect;
        parseRect(rect, "--key-rect", &c.x, &c.y, &c.w, &c.h);
    }
    if (frame) {
        if (c.kind == KeyChoice::Kind::Default || c.kind == KeyChoice::Kind::Given)
            throw Failure(
                EXIT_BAD_INPUT,
                "--key-frame: only with --key auto, --key-at or --key-rect, which measure "
                "the key on a frame");
        if (*frame < 0)
            throw Failure(EXIT_BAD_INPUT, "--key-frame: " + std::to_string(*frame) + " is below 0");
        c.frame = frame;
    }
    return c;
}

int chooseOneFrame(const FramePattern& in, std::optional<int> frame) {
    if (!in.isSequence()) {
        if (frame)
            throw Failure(EXIT_BAD_INPUT,
                          "--frame: '" + in.text() + "' is a single image, not a sequence");
        return 0;
    }
    if (frame) return *frame;
    const std::vector<int> onDisk = in.framesOnDisk();
    if (onDisk.empty()) throw Failure(EXIT_BAD_INPUT, in.text() + ": no files match this sequence");
    return onDisk.front();
}

MeasuredKey measureKey(const KeyChoice& choice, const HostImage& image, const std::string& where) {
    MeasuredKey m;
    try {
        switch (choice.kind) {
            case KeyChoice::Kind::Auto: {
                const std::optional<ColorSample> s = estimateKey(image);
                if (!s)
                    throw Failure(EXIT_BAD_INPUT,
                                  "no green or blue screen found (no strongly coloured region "
                                  "covers enough of the frame); give the key with --key #rrggbb, "
                                  "or --key-at X,Y on a pixel of the screen");
                m.sample = *s;
                m.how = "auto";
                return m;
            }
            case KeyChoice::Kind::At:
                m.sample = medianAround(image, choice.x, choice.y, choice.radius);
                m.how = "median of " + std::to_string(m.sample.count) + " pixels around " +
                        std::to_string(choice.x) + "," + std::to_string(choice.y);
                break;
            case KeyChoice::Kind::Rect:
                m.sample = medianRect(image, choice.x, choice.y, choice.w, choice.h);
                m.how = "median of " + std::to_string(m.sample.count) + " pixels in " +
                        std::to_string(choice.x) + "," + std::to_string(choice.y) + "," +
                        std::to_string(choice.w) + "," + std::to_string(choice.h);
                break;
            default: throw Failure(EXIT_INTERNAL, "a key colour given as such is not measured");
        }
    } catch (const Failure& f) {
        throw Failure(f.code(), where + ": " + f.what());
    }
    m.how += ", spread " + spreadText(m.sample.spread);
    return m;
}

KeyColor resolveKey(const KeyChoice& choice, int firstFrame,
                    const std::function<std::string(int frame)>& nameOf,
                    const std::function<HostImage(int frame)>& read, bool quiet) {
    if (choice.kind == KeyChoice::Kind::Given) return choice.color;
    const int frame = choice.frame.value_or(firstFrame);
    const HostImage image = read(frame);
    if (choice.kind == KeyChoice::Kind::Default) {
        if (const std::optional<ColorSample> s = screenOnBorder(image)) {
            const char* hue = s->color.green >= s->color.blue ? "green" : "blue";
            std::fprintf(
                stderr, "kestrelumen: warning: %s\n",
                (std::string(
                     "no --key given, so the key is black (the effect's default) and the ") +
                 hue + " screen around " + nameOf(frame) + " (about " + hexText(s->color) +
                 ") will not be keyed; use --key auto, or measure it with kestrelumen pick")
                    .c_str());
        }
        return KeyColor{};
    }
    const MeasuredKey m = measureKey(choice, image, nameOf(frame));
    if (!quiet) std::printf("key %s (%s)\n", hexText(m.sample.color).c_str(), m.how.c_str());
    return m.sample.color;
}

}  // namespace kcli

#include "cli/Controls.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "cli/ExitCodes.h"

namespace kcli {
namespace {

struct NamedColor {
    const char* name;
    KeyColor color;
};

constexpr NamedColor NAMED_COLORS[] = {
    {"green", {0, 255, 0}},     {"blue", {0, 0, 255}},      {"red", {255, 0, 0}},
    {"black", {0, 0, 0}},       {"white", {255, 255, 255}}, {"cyan", {0, 255, 255}},
    {"magenta", {255, 0, 255}}, {"yellow", {255, 255, 0}},
};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

[[noreturn]] void badColor(const std::string& text, const char* why) {
    throw Failure(EXIT_BAD_INPUT, "--key: '" + text + "' " + why +
                                      " (use #rrggbb, r,g,b with values 0..1, or a name such "
                                      "as green or blue)");
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

KeyColor parseHex(const std::string& text) {
    const std::string digits = text.substr(1);
    if (digits.size() != 6 && digits.size() != 3) badColor(text, "is not a colour");
    int v[6];
    for (std::size_t i = 0; i < digits.size(); ++i) {
        v[i] = hexDigit(digits[i]);
        if (v[i] < 0) badColor(text, "has a character that is not a hex digit");
    }
    if (digits.size() == 3)
        return {static_cast<uint8_t>(v[0] * 17), static_cast<uint8_t>(v[1] * 17),
                static_cast<uint8_t>(v[2] * 17)};
    return {static_cast<uint8_t>(v[0] * 16 + v[1]), static_cast<uint8_t>(v[2] * 16 + v[3]),
            static_cast<uint8_t>(v[4] * 16 + v[5])};
}

uint8_t unitToCode(const std::string& text, const std::string& part) {
    const char* begin = part.c_str();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    while (end && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (part.empty() || end == begin || *end != '\0')
        badColor(text, "has a part that is not a number");
    // Written so that NaN fails too.
    if (!(v >= 0.0 && v <= 1.0)) badColor(text, "has a value outside 0..1");
    return static_cast<uint8_t>(std::lround(v * 255.0));
}

KeyColor parseTriple(const std::string& text) {
    std::string parts[3];
    int n = 0;
    for (char c : text) {
        if (c == ',') {
            if (++n > 2) badColor(text, "has more than three parts");
        } else {
            parts[n] += c;
        }
    }
    if (n != 2) badColor(text, "needs three parts");
    return {unitToCode(text, parts[0]), unitToCode(text, parts[1]), unitToCode(text, parts[2])};
}

}  // namespace

KeyColor parseKeyColor(const std::string& text) {
    if (!text.empty() && text[0] == '#') return parseHex(text);
    if (text.find(',') != std::string::npos) return parseTriple(text);
    const std::string name = lower(text);
    for (const NamedColor& c : NAMED_COLORS)
        if (name == c.name) return c.color;
    badColor(text, "is not a known colour");
}

const char* keyColorName(const KeyColor& color) {
    for (const NamedColor& c : NAMED_COLORS)
        if (c.color == color) return c.name;
    return nullptr;
}

int parseView(const std::string& text) {
    using namespace kestrelumen;
    static const std::pair<const char*, int> names[] = {
        {"source", VIEW_SOURCE},
        {"1", VIEW_SOURCE},
        {"alpha", VIEW_ALPHA_MATTE},
        {"alpha-matte", VIEW_ALPHA_MATTE},
        {"2", VIEW_ALPHA_MATTE},
        {"spill", VIEW_SPILL_MATTE},
        {"spill-matte", VIEW_SPILL_MATTE},
        {"3", VIEW_SPILL_MATTE},
        {"final", VIEW_FINAL},
        {"4", VIEW_FINAL},
    };
    const std::string name = lower(text);
    for (const auto& [n, v] : names)
        if (name == n) return v;
    throw Failure(EXIT_BAD_INPUT,
                  "--view: '" + text + "' is not a view (source, alpha, spill, final or 1..4)");
}

const char* viewName(int view) {
    switch (view) {
        case kestrelumen::VIEW_SOURCE: return "source";
        case kestrelumen::VIEW_ALPHA_MATTE: return "alpha";
        case kestrelumen::VIEW_SPILL_MATTE: return "spill";
        default: return "final";
    }
}

}  // namespace kcli

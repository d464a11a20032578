#include "cli/SettingsFile.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/image/TempFile.h"
#include "cli/key/KeyPick.h"

namespace kcli {
namespace {

using nlohmann::json;

// A settings file is a handful of lines; anything far larger is not one.
constexpr std::size_t MAX_SETTINGS_BYTES = 64 * 1024;

struct Slider {
    const char* key;
    double Controls::*value;
};

constexpr Slider SLIDERS[] = {
    {"choke-transparent", &Controls::choke_transparent},
    {"choke-opaque", &Controls::choke_opaque},
    {"spill-amount", &Controls::spill_amount},
    {"spill-size", &Controls::spill_size},
};

[[noreturn]] void bad(const std::string& origin, const std::string& why) {
    throw Failure(EXIT_BAD_INPUT, origin + ": " + why);
}

}  // namespace

std::string withoutFlag(const std::string& message) {
    const std::size_t colon = message.find(": ");
    return colon == std::string::npos ? message : message.substr(colon + 2);
}

Controls parseSettings(const std::string& text, const std::string& origin) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        bad(origin, std::string("is not JSON (") + e.what() + ")");
    }
    if (!doc.is_object()) bad(origin, "is not a JSON object of settings");
    Controls c;
    for (const auto& item : doc.items()) {
        // Plain references: a lambda may not capture structured bindings before C++20.
        const std::string& name = item.key();
        const json& value = item.value();
        // The two settings written as text, parsed by the flags' own parsers.
        const auto text = [&](const char* example, auto parse, auto& into) {
            if (!value.is_string())
                bad(origin, "\"" + name + "\" must be a string such as \"" + example + "\"");
            try {
                into = parse(value.get<std::string>());
            } catch (const Failure& f) {
                bad(origin, "\"" + name + "\": " + withoutFlag(f.what()));
            }
        };
        if (name == "key") {
            text("#178e2f", parseKeyColor, c.key);
            continue;
        }
        if (name == "view") {
            text("final", parseView, c.view);
            continue;
        }
        const Slider* slider = nullptr;
        for (const Slider& s : SLIDERS)
            if (name == s.key) slider = &s;
        if (!slider) bad(origin, "unknown setting \"" + name + "\"");
        if (!value.is_number()) bad(origin, "\"" + name + "\" must be a number in 0..1");
        const double v = value.get<double>();
        if (!(v >= 0.0 && v <= 1.0))
            bad(origin, "\"" + name + "\": " + value.dump() + " is outside 0..1");
        c.*(slider->value) = v;
    }
    return c;
}

Controls readSettingsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure(EXIT_BAD_INPUT,
                      "--settings: " + path + ": cannot be read: " + std::strerror(errno));
    std::string text;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<std::size_t>(in.gcount()));
        if (text.size() > MAX_SETTINGS_BYTES)
            throw Failure(EXIT_BAD_INPUT,
                          "--settings: " + path + ": larger than a settings file can be");
    }
    if (in.bad()) throw Failure(EXIT_IO, "--settings: " + path + ": read failed");
    return parseSettings(text, "--settings: " + path);
}

std::string settingsJson(const Controls& c) {
    // ordered_json keeps the keys in the order of the flags in --help.
    nlohmann::ordered_json doc;
    doc["key"] = hexText(c.key);
    for (const Slider& s : SLIDERS) doc[s.key] = c.*(s.value);
    doc["view"] = viewName(c.view);
    return doc.dump(2) + "\n";
}

void writeSettingsFile(const std::string& path, const Controls& controls) {
    const std::string text = settingsJson(controls);
    TempFile temp(path);
    temp.writeAll(std::vector<unsigned char>(text.begin(), text.end()));
    temp.commit();
}

void applySettings(const CLI::App& command, const Controls& fromFile, Controls& controls,
                   std::string& key, std::string& view) {
    if (command.count("--key") + command.count("--key-at") + command.count("--key-rect") == 0)
        key = hexText(fromFile.key);
    if (command.count("--view") == 0) view = viewName(fromFile.view);
    for (const Slider& s : SLIDERS)
        if (command.count(std::string("--") + s.key) == 0)
            controls.*(s.value) = fromFile.*(s.value);
}

}  // namespace kcli

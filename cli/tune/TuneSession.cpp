#include "cli/tune/TuneSession.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cli/Depth16.h"
#include "cli/ExitCodes.h"
#include "cli/SettingsFile.h"
#include "cli/Text.h"
#include "cli/image/PngEncoder.h"
#include "cli/key/Composite.h"
#include "cli/key/KeyPick.h"
#include "cli/tune/TuneSource.h"
#include "host/HostConstants.h"
#include "refhost/Depth.h"

namespace fs = std::filesystem;

namespace kcli {
namespace {

using nlohmann::ordered_json;

int threadsOf(int requested) {
    return requested > 0 ? requested
                         : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Where the command line the page shows writes: beside the input, so
// running it never overwrites anything of the input's.
std::string suggestedOutput(const std::string& input, bool sequence) {
    const fs::path in(input);
    std::string stem = in.stem().string();
    std::string pattern;
    if (sequence) {
        // "shot.####" or "shot.%04d": the placeholder stays at the end.
        const std::size_t dot = stem.rfind('.');
        if (dot != std::string::npos) {
            pattern = stem.substr(dot);
            stem = stem.substr(0, dot);
        }
    }
    return (in.parent_path() / (stem + "-keyed" + pattern + ".png")).string();
}

std::vector<std::string> splitChoices(const std::string& utf8) {
    std::vector<std::string> out(1);
    for (char c : utf8) {
        if (c == '|')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

std::string sampleJson(const ColorSample& s) {
    char rgb[64];
    std::snprintf(rgb, sizeof rgb, "%.4f,%.4f,%.4f", s.color.red / 255.0, s.color.green / 255.0,
                  s.color.blue / 255.0);
    ordered_json doc;
    doc["key"] = hexText(s.color);
    doc["rgb"] = rgb;
    doc["spread"] = s.spread;
    doc["count"] = s.count;
    return doc.dump();
}

// One pixel, red, green, blue, alpha, in the file's scale: codes for 8 and
// 16 bits (0..65535, as written), values for float.
ordered_json pixelValues(const HostImage& img, int x, int y) {
    const std::size_t at = static_cast<std::size_t>(x) * 4;
    ordered_json v = ordered_json::array();
    const int order[] = {1, 2, 3, 0};
    for (int c : order) {
        switch (img.depth) {
            case Depth::U8: v.push_back(img.row(y)[at + c]); break;
            case Depth::U16:
                v.push_back(hostToFile16(reinterpret_cast<const uint16_t*>(img.row(y))[at + c]));
                break;
            case Depth::F32: {
                const float f = reinterpret_cast<const float*>(img.row(y))[at + c];
                // JSON has no NaN or infinity; the readout shows them as text.
                if (std::isfinite(f))
                    v.push_back(f);
                else
                    v.push_back(std::isnan(f) ? "NaN" : (f > 0 ? "inf" : "-inf"));
                break;
            }
        }
    }
    return v;
}

HostImage onePixel(const HostImage& img, int x, int y) {
    HostImage p;
    p.width = p.height = 1;
    p.depth = img.depth;
    p.pixels.resize(pixelBytes(img.depth));
    std::memcpy(p.pixels.data(), img.row(y) + static_cast<std::size_t>(x) * pixelBytes(img.depth),
                p.pixels.size());
    return p;
}

}  // namespace

TuneSession::TuneSession(const TuneOptions& options)
    : options_(options),
      keyer_(options.plugin.empty() ? defaultPluginPath() : options.plugin,
             threadsOf(options.threads)),
      cache_(tuneSourceOpener(options.input, options.frames, options.depth.has_value()),
             options.depth),
      current_(options.controls) {
    const KeyChoice::Kind kind = options.key.kind;
    if (kind != KeyChoice::Kind::Default && kind != KeyChoice::Kind::Given) {
        // The page shows the key found; stdout keeps to the one line of the address.
        current_.key = resolveKey(
            options.key, cache_.frames().front(),
            [](int f) { return "frame " + std::to_string(f) + " of the input"; },
            [this](int f) {
                if (!cache_.has(f))
                    throw Failure(EXIT_BAD_INPUT, "--key-frame: " + std::to_string(f) +
                                                      " is not a frame of the input");
                return cache_.frame(f);
            },
            true);
    }
}

std::string TuneSession::infoJson() const {
    ordered_json doc;
    const bool sequence = cache_.frames().size() > 1 ||
                          options_.input.find('#') != std::string::npos ||
                          options_.input.find('%') != std::string::npos;
    doc["input"] = options_.input;
    doc["output"] = suggestedOutput(options_.input, sequence);
    doc["sequence"] = sequence;
    doc["frames"] = cache_.frames();
    doc["width"] = cache_.info().width;
    doc["height"] = cache_.info().height;
    doc["depth"] = depthName(cache_.depth());
    doc["depthFlag"] = options_.depth ? std::to_string(refhost::bitdepthOf(*options_.depth)) : "";
    doc["settingsFile"] = options_.settingsFile;
    doc["settings"] = ordered_json::parse(settingsJson());
    ordered_json params = ordered_json::array();
    for (const Keyer::ParamRow& row : keyer_.description().params) {
        if (row.flag.empty()) continue;
        ordered_json p;
        p["flag"] = row.flag;
        p["label"] = gbkToUtf8(row.label);
        if (row.type == PF_Param_COLOR) {
            p["type"] = "color";
            const int d = static_cast<int>(row.dflt);
            p["default"] = hexText(KeyColor{static_cast<uint8_t>(d >> 16),
                                            static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d)});
        } else if (row.type == PF_Param_FLOAT_SLIDER) {
            p["type"] = "slider";
            p["min"] = row.min;
            p["max"] = row.max;
            p["default"] = row.dflt;
            p["precision"] = row.precision;
        } else if (row.type == PF_Param_POPUP) {
            p["type"] = "popup";
            ordered_json choices = ordered_json::array();
            for (int v = 1; v <= static_cast<int>(row.max); ++v) choices.push_back(viewName(v));
            p["choices"] = choices;
            p["labels"] = splitChoices(gbkToUtf8(row.choices));
            p["default"] = viewName(static_cast<int>(row.dflt));
        }
        params.push_back(p);
    }
    doc["params"] = params;
    return doc.dump();
}

std::optional<std::vector<unsigned char>> TuneSession::renderPng(const RenderRequest& r) {
    HostImage keyed;
    {
        RenderGate::Pass pass = gate_.enter(r.client);
        if (!pass.current()) return std::nullopt;
        const int w = std::max(1, static_cast<int>(std::lround(width() * r.scale)));
        const int h = std::max(1, static_cast<int>(std::lround(height() * r.scale)));
        HostImage source = cache_.scaled(r.frame, w, h);
        keyer_.setControls(r.controls);
        keyed = keyer_.render(std::move(source), r.frame);
    }
    remember(r.controls);
    if (!r.over.empty()) compositeOver(keyed, parseBackground(r.over), r.frame);
    // Stored, not compressed: the bytes only cross loopback, and the time is
    // better spent on the next picture.
    return encodePng(keyed, 0);
}

std::string TuneSession::pickJson(int frame, int x, int y, int radius) {
    RenderGate::Pass pass = gate_.enter("");
    return sampleJson(medianAround(cache_.frame(frame), x, y, radius));
}

std::optional<std::string> TuneSession::autoKeyJson(int frame) {
    RenderGate::Pass pass = gate_.enter("");
    const std::optional<ColorSample> s = estimateKey(cache_.frame(frame));
    if (!s) return std::nullopt;
    return sampleJson(*s);
}

std::string TuneSession::pixelJson(const Controls& controls, int frame, int x, int y) {
    RenderGate::Pass pass = gate_.enter("");
    const HostImage& img = cache_.frame(frame);
    // The effect keys each pixel on its own, so one pixel rendered alone is
    // that pixel of the whole frame's render.
    keyer_.setControls(controls);
    const HostImage out = keyer_.render(onePixel(img, x, y), frame);
    ordered_json doc;
    doc["x"] = x;
    doc["y"] = y;
    doc["input"] = pixelValues(img, x, y);
    doc["output"] = pixelValues(out, 0, 0);
    return doc.dump();
}

void TuneSession::remember(const Controls& controls) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    current_ = controls;
}

std::string TuneSession::settingsJson() const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return kcli::settingsJson(current_);
}

std::string TuneSession::saveSettings(const Controls& controls) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    current_ = controls;
    writeSettingsFile(options_.settingsFile, controls);
    return options_.settingsFile;
}

}  // namespace kcli

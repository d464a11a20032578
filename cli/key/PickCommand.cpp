#include "cli/key/PickCommand.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/ExitCodes.h"
#include "cli/Sequence.h"
#include "cli/key/KeyChoice.h"

namespace kcli {
namespace {

struct PickOptions {
    std::string input, at, rect;
    std::optional<int> frame;
    bool json = false;
};

std::string unitText(const KeyColor& c) {
    char buf[64];
    // Four decimals come back to the same codes through --key r,g,b.
    std::snprintf(buf, sizeof buf, "%.4f,%.4f,%.4f", c.red / 255.0, c.green / 255.0,
                  c.blue / 255.0);
    return buf;
}

// "#rgb" when every channel is a doubled digit.
std::string shortHex(const KeyColor& c) {
    if (c.red % 17 || c.green % 17 || c.blue % 17) return {};
    const char* digits = "0123456789abcdef";
    return std::string("#") + digits[c.red / 17] + digits[c.green / 17] + digits[c.blue / 17];
}

int runPick(const PickOptions& o) {
    KeyChoice choice;
    choice.kind = KeyChoice::Kind::Auto;
    if (!o.at.empty()) {
        choice.kind = KeyChoice::Kind::At;
        parsePoint(o.at, "--at", &choice.x, &choice.y, &choice.radius);
    } else if (!o.rect.empty()) {
        choice.kind = KeyChoice::Kind::Rect;
        parseRect(o.rect, "--rect", &choice.x, &choice.y, &choice.w, &choice.h);
    }

    const FramePattern in(o.input, "input");
    const int frame = chooseOneFrame(in, o.frame);
    const std::string path = in.path(frame);
    const MeasuredKey m = measureKey(choice, readImage(path), path);
    const KeyColor& c = m.sample.color;
    const char* method = choice.kind == KeyChoice::Kind::Auto ? "auto"
                         : choice.kind == KeyChoice::Kind::At ? "at"
                                                              : "rect";
    const char* name = keyColorName(c);
    const std::string hex = hexText(c), unit = unitText(c), shortForm = shortHex(c);

    if (o.json) {
        nlohmann::json j = {
            {"input", path},
            {"frame", in.isSequence() ? nlohmann::json(frame) : nlohmann::json()},
            {"method", method},
            {"hex", hex},
            {"short", shortForm.empty() ? nlohmann::json() : nlohmann::json(shortForm)},
            {"unit", unit},
            {"codes", {c.red, c.green, c.blue}},
            {"name", name ? nlohmann::json(name) : nlohmann::json()},
            {"spread", m.sample.spread},
            {"count", m.sample.count},
        };
        std::printf("%s\n", j.dump(2).c_str());
        return EXIT_OK;
    }
    std::printf("key %s (%s", hex.c_str(), m.how.c_str());
    if (choice.kind == KeyChoice::Kind::Auto) std::printf(", spread %.1f", m.sample.spread);
    std::printf(")\n");
    std::printf("  --key '%s'\n", hex.c_str());
    if (!shortForm.empty()) std::printf("  --key '%s'\n", shortForm.c_str());
    std::printf("  --key %s\n", unit.c_str());
    if (name) std::printf("  --key %s\n", name);
    std::printf(
        "spread %.1f: median distance of the %d pixels from it, in 8-bit codes "
        "(grain and uneven lighting raise it)\n",
        m.sample.spread, m.sample.count);
    return EXIT_OK;
}

}  // namespace

void addPickCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<PickOptions>();
    CLI::App* pick = app.add_subcommand(
        "pick",
        "Measure the key colour of IN, as --key auto (the default), --key-at or --key-rect would, "
        "and print it in every form --key takes");
    pick->add_option("IN", o->input, "Input image, or a sequence with --frame")->required();
    auto* at = pick->add_option("--at", o->at,
                                "The median within R (default 2) of pixel X,Y: X,Y or X,Y,R");
    pick->add_option("--rect", o->rect, "The median of the rectangle X,Y,W,H")->excludes(at);
    pick->add_option("--frame", o->frame, "Frame of a sequence (default the first on disk)");
    pick->add_flag("--json", o->json, "Print one JSON object, for scripts");
    pick->footer(
        std::string("Examples:\n"
                    "  kestrelumen pick plate.png\n"
                    "  kestrelumen pick plate.png --at 40,30,4\n"
                    "  kestrelumen pick shot.####.exr --frame 12 --rect 0,0,200,150 --json\n\n") +
        EXIT_CODES_HELP);
    pick->callback([o, &exitCode] { exitCode = runPick(*o); });
}

}  // namespace kcli

#include "cli/ControlFlags.h"

#include <cstdio>

#include "cli/ExitCodes.h"

namespace kcli {
namespace {

// Written so that NaN is refused too.
void checkUnit(const char* flag, double v) {
    if (!(v >= 0.0 && v <= 1.0)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", v);
        throw Failure(EXIT_BAD_INPUT, std::string(flag) + ": " + buf + " is outside 0..1");
    }
}

}  // namespace

void addControlFlags(CLI::App* command, ControlFlags& f, bool withView) {
    command->add_option("-k,--key", f.key,
                        "Key colour: auto (estimated from the frame), #rrggbb, r,g,b in 0..1, or "
                        "a name; default black, as the effect starts");
    command->add_option("--key-at", f.keyAt,
                        "Key colour: the median of the pixels within R (default 2) of pixel X,Y, "
                        "from the top-left: X,Y or X,Y,R");
    command->add_option("--key-rect", f.keyRect,
                        "Key colour: the median of the rectangle X,Y,W,H, from the top-left");
    command->add_option("--key-frame", f.keyFrame,
                        "Frame that --key auto, --key-at and --key-rect measure (default the "
                        "first keyed); the colour found keys every frame");
    command
        ->add_option("--choke-transparent", f.controls.choke_transparent,
                     "Choke toward transparent, 0..1: pushes partly transparent pixels to "
                     "full transparency")
        ->capture_default_str();
    command
        ->add_option("--choke-opaque", f.controls.choke_opaque,
                     "Choke toward opaque, 0..1: pushes partly transparent pixels to full "
                     "opacity")
        ->capture_default_str();
    command
        ->add_option("--spill-amount", f.controls.spill_amount, "Spill suppression strength, 0..1")
        ->capture_default_str();
    command
        ->add_option("--spill-size", f.controls.spill_size,
                     "Distance from the key colour over which spill is suppressed, 0..1")
        ->capture_default_str();
    if (withView)
        command
            ->add_option("--view", f.view,
                         "Output: source, alpha (alpha matte), spill (spill matte) or final")
            ->capture_default_str();
}

KeyChoice ControlFlags::finish() {
    controls.view = parseView(view);
    checkUnit("--choke-transparent", controls.choke_transparent);
    checkUnit("--choke-opaque", controls.choke_opaque);
    checkUnit("--spill-amount", controls.spill_amount);
    checkUnit("--spill-size", controls.spill_size);
    KeyChoice choice = parseKeyChoice(key, keyAt, keyRect, keyFrame);
    if (choice.kind == KeyChoice::Kind::Given) controls.key = choice.color;
    return choice;
}

Depth parseDepthFlag(const std::string& text) {
    if (text == "8") return Depth::U8;
    if (text == "16") return Depth::U16;
    if (text == "32" || text == "float") return Depth::F32;
    throw Failure(EXIT_BAD_INPUT, "--depth: '" + text + "' is not 8, 16 or 32");
}

}  // namespace kcli

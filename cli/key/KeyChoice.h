// How the user chose the key colour on the command line, and turning that
// choice into the one colour every frame is keyed with, as one parameter
// value would be in the host.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Controls.h"
#include "cli/ImageFile.h"
#include "cli/Sequence.h"
#include "cli/key/KeyPick.h"

namespace kcli {

struct KeyChoice {
    enum class Kind { Default, Given, Auto, At, Rect };
    Kind kind = Kind::Default;
    KeyColor color;  // Given
    int x = 0, y = 0, radius = 2, w = 0, h = 0;
    std::optional<int> frame;  // the frame measured; default the first keyed
};

// The texts of --key (a colour or "auto"), --key-at X,Y[,R], --key-rect
// X,Y,W,H and --key-frame; at most one of the first three. Throws
// Failure(EXIT_BAD_INPUT) naming the flag.
KeyChoice parseKeyChoice(const std::string& key, const std::string& at, const std::string& rect,
                         std::optional<int> frame);

// "X,Y[,R]" and "X,Y,W,H" as --key-at / --key-rect and pick's --at / --rect
// take them; `flag` names the flag in errors.
void parsePoint(const std::string& text, const std::string& flag, int* x, int* y, int* radius);
void parseRect(const std::string& text, const std::string& flag, int* x, int* y, int* w, int* h);

// The frame a command that looks at one frame (pick, preview) works on:
// --frame of a sequence, else its first on disk; 0 for a single image, which
// refuses --frame. Throws Failure(EXIT_BAD_INPUT).
int chooseOneFrame(const FramePattern& in, std::optional<int> frame);

// The colour a choice measures on one image, and how it was found ("auto",
// "median of 13 pixels around 20,30"). Throws Failure(EXIT_BAD_INPUT)
// naming `where` when the frame shows no screen or the point lies outside.
struct MeasuredKey {
    ColorSample sample;
    std::string how;
};
MeasuredKey measureKey(const KeyChoice& choice, const HostImage& image, const std::string& where);

// The colour to key every frame with. Reads the measured frame through
// `read` when the choice needs it (auto, --key-at, --key-rect) or, with no
// key given, to warn when the frame's border is a green or blue screen that
// the default black key will not take out. It prints the line "key #rrggbb
// (auto)"
// (the colour chosen, on stdout unless `quiet`) and the warning (on stderr).
// `nameOf` names a frame in messages (its file).
KeyColor resolveKey(const KeyChoice& choice, int firstFrame,
                    const std::function<std::string(int frame)>& nameOf,
                    const std::function<HostImage(int frame)>& read, bool quiet);

}  // namespace kcli

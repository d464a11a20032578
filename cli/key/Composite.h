// Keyed frames laid over a background, to judge a key or make a quick
// composite: out = fg * a + bg * (1 - a) with the keyed frame's straight
// alpha, written opaque.
#pragma once

#include <memory>
#include <string>

#include "cli/Controls.h"
#include "cli/ImageFile.h"

namespace kcli {

struct Background {
    enum class Kind { Checker, Color, Image };
    Kind kind = Kind::Checker;
    KeyColor color;    // Kind::Color
    std::string path;  // Kind::Image: one file, or a numbered sequence
    bool sequence = false;
    // A single file is read once, at the depth of the first frame composited.
    struct Still;
    std::shared_ptr<Still> still;
};

// "checker", "#rrggbb" (or "#rgb"), or an image file or sequence
// (shot.####.png). A single file is probed at once. Throws
// Failure(EXIT_BAD_INPUT) naming --over or the file.
Background parseBackground(const std::string& text);

// Composites in place at the frame's own depth; for a sequence background the
// file numbered `frame` is read. The background's alpha is ignored. Throws
// Failure(EXIT_BAD_INPUT) naming the background file when it is missing or
// its size differs from the frame's.
void compositeOver(HostImage& keyed, const Background& bg, int frame);

// The checkerboard: grey squares of about a sixtieth of the frame's longer
// side (16 pixels at 960x540), light at the top-left.
int checkerSquare(int width, int height);
KeyColor checkerAt(int x, int y, int square);

}  // namespace kcli

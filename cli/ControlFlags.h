// The keying controls as command-line flags, one definition for every
// command that keys (render, preview): the key colour or how to find it, the
// chokes, the spill controls and, where it applies, the view.
#pragma once

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/Controls.h"
#include "cli/image/HostImage.h"
#include "cli/key/KeyChoice.h"

namespace kcli {

struct ControlFlags {
    Controls controls;
    std::string key, keyAt, keyRect, view = "final";
    std::optional<int> keyFrame;

    // Checks every value and sets controls.view; the key colour itself is
    // resolved later, from the frames. Throws Failure naming the flag.
    KeyChoice finish();
};

void addControlFlags(CLI::App* command, ControlFlags& flags, bool withView);

// The text of a --depth flag: 8, 16, or 32 (also "float"). Throws Failure
// naming the flag.
Depth parseDepthFlag(const std::string& text);

}  // namespace kcli

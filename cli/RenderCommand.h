// `kestrelumen render`: keys one image or a numbered sequence.
#pragma once

#include <optional>
#include <string>

#include "cli/Controls.h"
#include "cli/ImageFile.h"

namespace kcli {

struct RenderOptions {
    std::string input;
    std::string output;
    std::string plugin;  // empty: the one built next to the tool
    std::string frames;  // empty: every frame on disk that matches the input
    Controls controls;
    std::optional<Depth> depth;
    int threads = 0;  // 0: all cores
    bool quiet = false;
    bool skipMissing = false;
};

// Returns the exit code; failures arrive as Failure exceptions.
int runRender(const RenderOptions& options);

}  // namespace kcli

// `kestrelumen render`: keys one image or a numbered sequence.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Controls.h"
#include "cli/ImageFile.h"
#include "cli/key/Composite.h"
#include "cli/key/KeyChoice.h"

namespace kcli {

struct RenderOptions {
    std::string input;
    std::string output;
    std::string plugin;  // empty: the one built next to the tool
    std::string frames;  // empty: every frame on disk that matches the input
    Controls controls;
    KeyChoice key;  // how controls.key is found, when not given
    std::optional<Background> over;
    std::optional<Depth> depth;
    ReadOptions read;        // which layer and part are keyed (--layer, --part)
    WriteOptions write;      // how outputs are written (--compression, --straight, ...)
    int threads = 0;         // 0: all cores
    int framesInFlight = 0;  // 0: from the threads
    bool skipExisting = false;
    double progressInterval = 5.0;  // seconds between progress lines in a log
    bool quiet = false;
    bool skipMissing = false;
    // Clip outputs.
    std::string codec;                      // empty: the container's default
    std::vector<std::string> codecOptions;  // KEY=VALUE for the encoder
    std::string fps;                        // images to a clip; empty: 24
};

// Returns the exit code; failures arrive as Failure exceptions.
int runRender(const RenderOptions& options);

}  // namespace kcli

// `kestrelumen preview`: one picture to judge a key by, with the source,
// the result over a checkerboard, the alpha matte and the spill matte side
// by side, each labelled.
#pragma once

#include <CLI/CLI.hpp>

namespace kcli {

// Registers the subcommand; when it runs, its exit code lands in `exitCode`.
void addPreviewCommand(CLI::App& app, int& exitCode);

}  // namespace kcli

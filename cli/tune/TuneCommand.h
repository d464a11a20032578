// `kestrelumen tune IN [controls]`: a local page to set the key by looking.
#pragma once

#include <CLI/CLI.hpp>

namespace kcli {

// Registers the subcommand; when it runs (until SIGINT or SIGTERM), its
// exit code lands in `exitCode`.
void addTuneCommand(CLI::App& app, int& exitCode);

}  // namespace kcli

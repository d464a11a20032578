// `kestrelumen pick`: the key colour of a plate, measured as --key auto,
// --key-at or --key-rect would, printed in every form --key takes.
#pragma once

#include <CLI/CLI.hpp>

namespace kcli {

// Registers the subcommand; when it runs, its exit code lands in `exitCode`.
void addPickCommand(CLI::App& app, int& exitCode);

}  // namespace kcli

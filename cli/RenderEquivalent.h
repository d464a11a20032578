// The `kestrelumen render` command that reproduces a run, written into each
// output so a compositor can key the plate again the same way.
#pragma once

#include <string>

#include "cli/RenderCommand.h"

namespace kcli {

// Every control spelled out (the key as `resolved` holds it, #rrggbb, the
// sliders exactly), with the options that change what is written; words
// quoted for a POSIX shell. How the run is carried out (threads, frames in
// flight, resuming) is left out: it does not change a pixel.
std::string equivalentCommand(const RenderOptions& options, const Controls& resolved);

// The Software attribute of every output: the tool, its version and the
// equivalent command, so a compositor can key the plate again the same way.
std::string softwareAttribute(const RenderOptions& options, const Controls& resolved);

}  // namespace kcli

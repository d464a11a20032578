// Image files read into the host's layout. Pixel values pass through as
// they are: no premultiplication, no colour conversion.
#pragma once

#include <optional>
#include <string>

#include "cli/image/HostImage.h"

namespace kcli {

// The file's size, depth and alpha from its header. Throws Failure naming
// the file when it cannot be keyed.
FileInfo probeImage(const std::string& path);

// Reads a file into the host's layout at `depth` (the file's own when not
// given). A file without alpha is opaque. Throws Failure naming the file.
// `fileDepth`, when given, receives the depth the file itself holds.
HostImage readImage(const std::string& path, std::optional<Depth> depth = std::nullopt,
                    Depth* fileDepth = nullptr);

}  // namespace kcli

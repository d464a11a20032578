// Image files read into the host's layout. Pixel values pass through as
// they are, without colour conversion; colour stored premultiplied by alpha
// (EXR, associated TIFF) reaches the host straight, as the host gives it.
#pragma once

#include <OpenImageIO/imageio.h>

#include <optional>
#include <string>

#include "cli/image/HostImage.h"

namespace kcli {

struct ReadOptions {
    std::string layer;  // --layer: the layer whose R, G, B, A are keyed; empty: the default
    std::string part;   // --part: a part's name or index; empty: the first with colour
};

// The keyed part's size, depth and alpha from the file's header. Throws
// Failure naming the file when it cannot be keyed.
FileInfo probeImage(const std::string& path, const ReadOptions& options = {});

// The keyed part's header: its windows, channels and attributes.
OIIO::ImageSpec probeImageHeader(const std::string& path, const ReadOptions& options = {});

// Reads a file into the host's layout at `depth` (the file's own when not
// given). A file without alpha is opaque. Throws Failure naming the file.
// `fileDepth`, when given, receives the depth the file itself holds. The
// image's `source` keeps the rest of the file for the write.
HostImage readImage(const std::string& path, std::optional<Depth> depth = std::nullopt,
                    Depth* fileDepth = nullptr, const ReadOptions& options = {});

}  // namespace kcli

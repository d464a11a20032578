// What each output format can hold: the checks made before any work, and
// the choices made when writing.
#pragma once

#include <OpenImageIO/typedesc.h>

#include <string>

#include "cli/image/WriteOptions.h"

namespace kcli {

// OpenImageIO's name of the format `path` would be written in ("openexr",
// "png", "tiff", "dpx", ...). Throws Failure naming the file when none is
// known for its extension.
std::string formatName(const std::string& path);

// Checks, before any work, that `path` names a format that can be written,
// that holds alpha when `needsAlpha`, and that knows the codec asked for.
// Throws Failure naming the file.
void checkOutputPath(const std::string& path, bool needsAlpha, const WriteOptions& options = {});

// Throws Failure naming `path` unless `format` offers `compression`.
void checkCompression(const std::string& path, const std::string& format,
                      const Compression& compression);

// The pixel type a file of `format` stores for pixels of `type`: the type
// itself where the format offers it, else the nearest that keeps the most.
OIIO::TypeDesc storedType(const std::string& format, OIIO::TypeDesc type);

}  // namespace kcli

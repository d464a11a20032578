// What each output format can hold: the checks made before any work, and
// the choices made when writing.
#pragma once

#include <OpenImageIO/typedesc.h>

#include <optional>
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

struct SourceFile;

// The type of the keyed channels in an output of `format`: chosen by
// --depth when given, else the input's where the format holds it (same
// format: its bits per sample too, returned in `bits`, 0 for the type's
// own), else the nearest that keeps the most.
OIIO::TypeDesc keyedType(const std::string& format, const SourceFile* source, Depth renderDepth,
                         std::optional<Depth> chosen, int& bits);

// Whether colour is written premultiplied by alpha. Throws Failure naming
// the flag when `storage` asks for what `format` does not allow.
bool writesAssociated(const std::string& path, const std::string& format, AlphaStorage storage);

}  // namespace kcli

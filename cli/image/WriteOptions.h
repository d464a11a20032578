// How the user asked an output file to be written (`render`'s flags), read
// by every format's writer.
#pragma once

#include <optional>
#include <string>

#include "cli/image/HostImage.h"

namespace kcli {

// A codec of the output format and, for the codecs that take one, its
// level: "zip:9", "dwaa:45", "lzw", "none".
struct Compression {
    std::string method;        // lower case, as OpenImageIO names it
    std::optional<int> level;  // absent: the codec's own default

    // "method" or "method:level", as OpenImageIO takes it.
    std::string text() const;
};

// Parses --compression: METHOD or METHOD:LEVEL with a whole-number level.
// Throws Failure(EXIT_BAD_INPUT) naming the flag.
Compression parseCompression(const std::string& text);

// How colour is stored beside alpha: as the format defines it (EXR
// premultiplied, the others straight), or as --straight / --premultiply ask
// where the format allows both.
enum class AlphaStorage { FormatDefault, Straight, Premultiplied };

struct WriteOptions {
    // --compression; absent: the input's own where the format is the same,
    // else the format's default.
    std::optional<Compression> compression;
    // --depth; when given it chooses the output's pixel type too, else the
    // input's type is kept where the format holds it.
    std::optional<Depth> depth;
    AlphaStorage alpha = AlphaStorage::FormatDefault;
    // The Software attribute: what produced the file and how (the
    // equivalent command); empty: left as the input had it.
    std::string software;
};

}  // namespace kcli

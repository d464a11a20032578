// How the user asked an output file to be written (`render`'s flags), read
// by every format's writer.
#pragma once

#include <optional>
#include <string>

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

struct WriteOptions {
    // --compression; absent: the input's own where the format is the same,
    // else the format's default.
    std::optional<Compression> compression;
};

}  // namespace kcli

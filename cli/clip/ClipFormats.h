// The containers the tool writes and the codec each defaults to: one table,
// read by the writer and by the help text.
#pragma once

#include <string>

#include "cli/ImageFile.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace kcli {

struct ClipDefault {
    const char* muxer;        // libavformat's name of the container
    const char* extensions;   // as the help shows them
    const char* encoder;      // libavcodec's name of the default encoder
    const char* description;  // what it writes, for the help
};

// The row for a muxer, or null when the container has no row (its own
// default video codec is used then).
const ClipDefault* clipDefaultFor(const char* muxer);

// The pixel format one of the default encoders is fed at a render depth;
// AV_PIX_FMT_NONE for other encoders.
AVPixelFormat preferredPixelFormat(const std::string& encoder, Depth depth);

// Options one of the default encoders gets unless --codec-option sets them:
// key, value pairs ended by a null key.
const char* const* defaultEncoderOptions(const std::string& encoder);

// "  .mov  ProRes 4444 ...\n" per row, for the help.
std::string clipFormatsHelp();

}  // namespace kcli

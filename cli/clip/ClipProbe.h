// Whether a file is a video clip or a still image. The tool asks the file's
// contents, through the demuxers, never its name: a movie named .png must
// not be read as its first picture.
#pragma once

#include <string>

namespace kcli {

// True when an existing file's contents are a video container or stream
// (MP4, MOV, MKV, WebM, AVI, MXF, an animated GIF, a raw H.264 stream, ...).
// False for still images, for files no demuxer recognises, and for files
// that cannot be opened (the image reader reports those).
bool isClipFile(const std::string& path);

// The demuxer that recognised the file ("mov,mp4,m4a,3gp,3g2,mj2",
// "matroska,webm", ...), empty when isClipFile() is false.
std::string clipFormatName(const std::string& path);

// True when an output name's extension is that of a video container
// (.mov, .mkv, .webm, .mp4, .avi, .mxf, ...) rather than an image file.
bool isClipName(const std::string& path);

}  // namespace kcli

// How the image libraries' complaints reach the user: as one line of the
// tool's own error, never as lines of their own on stderr.
#pragma once

#include <string>

namespace kcli {

// OpenImageIO's messages can span lines; the tool's errors are one line each.
std::string oneLine(std::string s);

// Writes the tool's own text to stderr, even while a QuietStderr on another
// thread has parked it: warnings and progress must not vanish with the
// decoders' chatter.
void writeStderr(const std::string& text);

// Some decoders (libpng among them) print their complaints to stderr on top
// of reporting them to OpenImageIO, which already hands them to us, so
// stderr is parked while they run. Frames decoded on several threads share
// one parking: the first in parks stderr, the last out restores it (each
// restoring its own saved copy would let a late one restore /dev/null).
class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
};

}  // namespace kcli

// A file's attributes carried to the output, and what the output format
// turned out not to hold.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>
#include <vector>

namespace kcli {

// Whether an attribute says how the input was encoded (its codec, bit
// packing, strips) rather than what it shows.
bool describesEncoding(const std::string& name);

// Copies `from`'s attributes into `to`, except those that describe the
// encoding of the input (its codec, bit packing, strips), which the writer
// chooses afresh, and, across formats, those named for the input's format.
// Those are listed in `notCarried` (encoding details excepted).
void carryAttributes(const OIIO::ImageSpec& from, const std::string& fromFormat,
                     const std::string& toFormat, OIIO::ImageSpec& to,
                     std::vector<std::string>& notCarried);

// The attributes of `intended` (the carried ones) that `written`, the file
// read back, does not hold as they were: missing, or a string cut short.
std::vector<std::string> lostAttributes(const OIIO::ImageSpec& intended,
                                        const OIIO::ImageSpec& written);

}  // namespace kcli

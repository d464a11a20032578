// Host images written to files, under a temporary name renamed when
// complete.
#pragma once

#include <string>

#include "cli/image/HostImage.h"
#include "cli/image/WriteOptions.h"

namespace kcli {

// Writes the image under a temporary name in the same folder and renames it
// to `path` only when complete, so a failure leaves no partial file and an
// existing file untouched. Alpha is written when the format holds it.
// `warning`, when given, receives a note if the format had to store the
// pixels at another depth than the image's.
void writeImage(const std::string& path, const HostImage& image, const WriteOptions& options,
                std::string* warning = nullptr);
void writeImage(const std::string& path, const HostImage& image, std::string* warning = nullptr);

}  // namespace kcli

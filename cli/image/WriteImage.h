// Host images written to files, under a temporary name renamed when
// complete, keeping what the frame's source file held as far as the output
// format can hold it.
#pragma once

#include <string>
#include <vector>

#include "cli/image/HostImage.h"
#include "cli/image/WriteOptions.h"

namespace kcli {

// Something the output could not keep or store as asked. `kind` is the same
// for every frame of a sequence that meets it, so it is said once; `text`
// names the file.
struct FileWarning {
    std::string kind;
    std::string text;
};

// Writes the image under a temporary name in the same folder and renames it
// to `path` only when complete, so a failure leaves no partial file and an
// existing file untouched. Alpha is written when the format holds it, with
// colour premultiplied where the format or `options` say so. An image read
// from a file keeps that file's other channels, parts, windows and
// attributes where the format holds them; `warnings` names what was not
// kept. Throws Failure naming the file.
void writeImage(const std::string& path, const HostImage& image, const WriteOptions& options,
                std::vector<FileWarning>* warnings);
// The same with the warnings joined into one line.
void writeImage(const std::string& path, const HostImage& image, const WriteOptions& options,
                std::string* warning = nullptr);
void writeImage(const std::string& path, const HostImage& image, std::string* warning = nullptr);

}  // namespace kcli

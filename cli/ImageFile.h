// Image files in and out of the host's pixel layout: alpha, red, green, blue
// per pixel at the host's scale (255, 32768 or 1.0 for white). Pixel values
// pass through as they are: no premultiplication, no colour conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kcli {

enum class Depth : int { U8 = 8, U16 = 16, F32 = 32 };

const char* depthName(Depth d);
std::size_t pixelBytes(Depth d);

struct HostImage {
    int width = 0;
    int height = 0;
    Depth depth = Depth::U8;
    std::vector<unsigned char> pixels;  // rows packed, width * pixelBytes(depth) each

    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * pixelBytes(depth); }
    unsigned char* row(int y) { return pixels.data() + rowBytes() * static_cast<std::size_t>(y); }
    const unsigned char* row(int y) const {
        return pixels.data() + rowBytes() * static_cast<std::size_t>(y);
    }
};

// What a file holds, from its header alone.
struct FileInfo {
    int width = 0;
    int height = 0;
    Depth depth = Depth::U8;  // the depth its pixels render at unless forced
    bool hasAlpha = false;
};

FileInfo probeImage(const std::string& path);

// Reads a file into the host's layout at `depth` (the file's own when not
// given). A file without alpha is opaque. Throws Failure naming the file.
// `fileDepth`, when given, receives the depth the file itself holds.
HostImage readImage(const std::string& path, std::optional<Depth> depth = std::nullopt,
                    Depth* fileDepth = nullptr);

// Checks, before any work, that `path` names a format that can be written
// and that holds alpha when `needsAlpha`. Throws Failure naming the file.
void checkOutputPath(const std::string& path, bool needsAlpha);

// Writes the image under a temporary name in the same folder and renames it
// to `path` only when complete, so a failure leaves no partial file and an
// existing file untouched. Alpha is written when the format holds it.
// `warning`, when given, receives a note if the format had to store the
// pixels at another depth than the image's.
void writeImage(const std::string& path, const HostImage& image, std::string* warning = nullptr);

// Removes an unfinished temporary output when the process is interrupted.
void installInterruptCleanup();

}  // namespace kcli

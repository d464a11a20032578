// The command-line tool's image loading over arbitrary bytes in a file named
// with one image format's extension (FUZZ_EXTENSION): corrupt, truncated and
// hostile headers. Loading must either give a complete image in the host's
// layout or refuse with the tool's own error (kcli::Failure); any other
// exception, a crash or a sanitizer report is a finding.
//
// Images whose header declares more than MAX_FUZZ_PIXELS are only probed:
// reading one would allocate what a real frame of that size needs, which is
// legitimate for footage but makes the fuzzer measure the allocator. The
// tool's own refusal of absurd sizes is tested through the header probe.
// Decoders may still size a buffer from a corrupt header before they check
// the file: OpenEXR 3.1 allocates a string attribute's declared size (up to
// 2 GiB) first, so a 335-byte file costs seconds and gigabytes before it is
// refused, and OpenImageIO's TIFF reader allocates by a rows-per-strip far
// beyond the image's height. The bounded runs allow for that (-rss_limit_mb
// and -malloc_limit_mb in scripts/test-all.sh).
//
// The tool parks stderr while a decoder runs, so a sanitizer report raised
// inside one is lost unless ASAN_OPTIONS/UBSAN_OPTIONS name a log_path.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/ExitCodes.h"
#include "cli/ImageFile.h"

#ifndef FUZZ_EXTENSION
#error "FUZZ_EXTENSION names the format, e.g. \".png\""
#endif

namespace {

constexpr long long MAX_FUZZ_PIXELS = 512 * 512;

void writeFile(const std::string& path, const uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

// One file name per fuzzing process, written for every input and removed
// after it (libFuzzer may end the process without running atexit handlers).
const std::string& scratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/kestrelumen-fuzz-" +
               std::to_string(::getpid()) + FUZZ_EXTENSION;
    }();
    return path;
}

struct ScratchFile {
    ScratchFile(const uint8_t* data, std::size_t size) { writeFile(scratchPath(), data, size); }
    ~ScratchFile() { ::unlink(scratchPath().c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
};

void checkImage(const kcli::HostImage& img, const kcli::FileInfo& info) {
    const std::size_t expected =
        static_cast<std::size_t>(img.width) * img.height * kcli::pixelBytes(img.depth);
    if (img.width != info.width || img.height != info.height || img.width <= 0 || img.height <= 0 ||
        img.pixels.size() != expected) {
        std::fprintf(stderr, "loaded image %dx%d with %zu bytes, header %dx%d\n", img.width,
                     img.height, img.pixels.size(), info.width, info.height);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ScratchFile scratch(data, size);
    const std::string& path = scratchPath();
    try {
        const kcli::FileInfo info = kcli::probeImage(path);
        if (static_cast<long long>(info.width) * info.height > MAX_FUZZ_PIXELS) return 0;
        checkImage(kcli::readImage(path), info);
        // And once at a depth forced on it, as --depth does.
        const kcli::Depth forced[] = {kcli::Depth::U8, kcli::Depth::U16, kcli::Depth::F32};
        checkImage(kcli::readImage(path, forced[size % 3]), info);
    } catch (const kcli::Failure&) {
        // Refused with the tool's own message: the expected outcome.
    }
    return 0;
}

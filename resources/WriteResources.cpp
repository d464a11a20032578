// Build-time tool: writes the registration resource and the manifest to the
// files named on the command line, for the Windows resource script to embed
// and for the Linux reference host to read next to the library.
#include <cstddef>
#include <cstdio>
#include <fstream>

#include "resources/Manifest.h"
#include "resources/PiplResource.h"

namespace {

bool writeFile(const char* path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.pipl OUTPUT.manifest\n", argv[0]);
        return 2;
    }
    constexpr auto pipl = kestrelumen::piplBytes();
    const bool ok = writeFile(argv[1], pipl.data(), pipl.size()) &&
                    writeFile(argv[2], kestrelumen::MANIFEST_XML, kestrelumen::MANIFEST_SIZE);
    return ok ? 0 : 1;
}

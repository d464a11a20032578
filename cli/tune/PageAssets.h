// The page's files, built into the tool: the server never reads the disk
// to answer a request for one.
#pragma once

#include <cstddef>
#include <string>

namespace kcli {

struct PageAsset {
    const char* path;  // as requested, e.g. "/tune.js"
    const char* contentType;
    const unsigned char* data;
    std::size_t size;
};

// nullptr for any other path.
const PageAsset* findPageAsset(const std::string& path);

}  // namespace kcli

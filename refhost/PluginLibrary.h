// Loading an effect library the way a host does: open the file, read its
// registration resource, find the entry point it names.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/HostTypes.h"

namespace refhost {

// Any failure of the reference host's own (load, lookup, misuse of the API).
// The message is meant for a user: it names the file or the item concerned.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An opened effect library. Movable, not copyable; closes the library when
// destroyed, so keep it alive as long as any Host made from it.
class PluginLibrary {
public:
    // Opens the library at `path` (UTF-8; on Windows through LoadLibraryW).
    // Throws refhost::Error with the system's message (dlerror / GetLastError
    // text) and the path when the file cannot be loaded, and when the entry
    // point cannot be found. The entry point is looked up under the name the
    // registration resource gives (property "8664") when the library carries
    // one, else under "EntryPointFunc".
    static PluginLibrary load(const std::string& path);

    PluginLibrary(PluginLibrary&& other) noexcept;
    PluginLibrary& operator=(PluginLibrary&& other) noexcept;
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    ~PluginLibrary();

    const std::string& path() const { return path_; }
    PF_FilterProc entry() const { return entry_; }
    const std::string& entryName() const { return entryName_; }

    // The registration resource's bytes, or empty when the library has none.
    // Windows: resource type "PIPL", name 16000, from the module itself.
    // Elsewhere: the file with the library's name and the extension .pipl in
    // the library's folder (plugin/Kestrelumen.so -> plugin/Kestrelumen.pipl),
    // which the build writes next to the library.
    const std::optional<std::vector<std::uint8_t>>& registrationResource() const { return pipl_; }

private:
    PluginLibrary() = default;
    void close() noexcept;

    std::string path_;
    void* module_ = nullptr;
    PF_FilterProc entry_ = nullptr;
    std::string entryName_;
    std::optional<std::vector<std::uint8_t>> pipl_;
};

}  // namespace refhost

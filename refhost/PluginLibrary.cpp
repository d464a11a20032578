#include "refhost/PluginLibrary.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "refhost/Pipl.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace refhost {

namespace {

constexpr char DEFAULT_ENTRY[] = "EntryPointFunc";

#ifdef _WIN32

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string lastErrorText() {
    const DWORD code = GetLastError();
    char* buf = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&buf), 0, nullptr);
    std::string text = n && buf ? std::string(buf, n) : std::string();
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text + " (error " + std::to_string(code) + ")";
}

std::optional<std::vector<std::uint8_t>> readResource(HMODULE module) {
    // MAKEINTRESOURCE(16000): the resource's name is a number.
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(16000), L"PIPL");
    if (!found) return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return std::nullopt;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    return std::vector<std::uint8_t>(p, p + size);
}

#else

std::optional<std::vector<std::uint8_t>> readSidecar(const std::string& libraryPath) {
    const std::size_t slash = libraryPath.find_last_of('/');
    const std::size_t dot = libraryPath.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string piplPath =
        (hasExtension ? libraryPath.substr(0, dot) : libraryPath) + ".pipl";
    std::ifstream file(piplPath, std::ios::binary);
    if (!file) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>());
}

#endif

}  // namespace

PluginLibrary PluginLibrary::load(const std::string& path) {
    PluginLibrary lib;
    lib.path_ = path;
#ifdef _WIN32
    HMODULE module = LoadLibraryW(widen(path).c_str());
    if (!module) throw Error("cannot load plug-in " + path + ": " + lastErrorText());
    lib.module_ = module;
    lib.pipl_ = readResource(module);
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = dlerror();
        throw Error("cannot load plug-in " + path + ": " + (why ? why : "unknown error"));
    }
    lib.module_ = module;
    lib.pipl_ = readSidecar(path);
#endif
    // A host calls the function the registration resource names; without a
    // readable resource, the name every effect of this kind exports.
    lib.entryName_ = DEFAULT_ENTRY;
    if (lib.pipl_) {
        try {
            const PiplInfo info = parsePipl(*lib.pipl_);
            if (info.entryPoint && !info.entryPoint->empty()) lib.entryName_ = *info.entryPoint;
        } catch (const PiplError&) {
            // The Host reports the unreadable resource; the default name still applies.
        }
    }
#ifdef _WIN32
    FARPROC symbol = GetProcAddress(module, lib.entryName_.c_str());
    if (!symbol)
        throw Error("plug-in " + path + " has no export " + lib.entryName_ + ": " +
                    lastErrorText());
    lib.entry_ = reinterpret_cast<PF_FilterProc>(reinterpret_cast<void (*)()>(symbol));
#else
    dlerror();
    void* symbol = dlsym(module, lib.entryName_.c_str());
    if (!symbol) {
        const char* why = dlerror();
        throw Error("plug-in " + path + " has no export " + lib.entryName_ + ": " +
                    (why ? why : "symbol is null"));
    }
    lib.entry_ = reinterpret_cast<PF_FilterProc>(symbol);
#endif
    return lib;
}

PluginLibrary::PluginLibrary(PluginLibrary&& other) noexcept
    : path_(std::move(other.path_)),
      module_(std::exchange(other.module_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)),
      entryName_(std::move(other.entryName_)),
      pipl_(std::move(other.pipl_)) {}

PluginLibrary& PluginLibrary::operator=(PluginLibrary&& other) noexcept {
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        module_ = std::exchange(other.module_, nullptr);
        entry_ = std::exchange(other.entry_, nullptr);
        entryName_ = std::move(other.entryName_);
        pipl_ = std::move(other.pipl_);
    }
    return *this;
}

PluginLibrary::~PluginLibrary() { close(); }

void PluginLibrary::close() noexcept {
    if (!module_) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(module_));
#else
    dlclose(module_);
#endif
    module_ = nullptr;
    entry_ = nullptr;
}

}  // namespace refhost

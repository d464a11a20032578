// The host finds the effect by one exported name; anything else the library
// exports is a symbol a host or another plug-in could collide with.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string RunCommand(const std::string& cmd) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe.get())) out += buf;
    return out;
}

TEST(Export, OnlyEntryPointFuncIsExported) {
    const std::string syms = RunCommand(std::string("nm -D --defined-only ") +
                                        KESTRELUMEN_PLUGIN_PATH + " | awk '{print $3}'");
    EXPECT_EQ(syms, "EntryPointFunc\n");
}

}  // namespace

// Bad input of every kind: a one-line error naming the file or flag, the
// documented exit code, and nothing left behind in the output folder.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "ToolHarness.h"

namespace {

using clitest::runTool;
using clitest::TempDir;
using clitest::writeFile;
using OIIO::TypeDesc;

enum Exit { OK = 0, BAD_INPUT = 2, PLUGIN = 3, IO = 4 };

// Folder contents every row starts from.
void populate(const TempDir& dir) {
    writeFile(dir / "in.png", 2, 2, 4, std::vector<uint8_t>(16, 200), TypeDesc::UINT8);
    writeFile(dir / "ga.png", 2, 2, 2, std::vector<uint8_t>(8, 100), TypeDesc::UINT8);
    std::ofstream(dir / "empty.png");
    std::ofstream(dir / "junk.png") << "this is not a PNG file at all, only text";
    const std::string png = clitest::slurp(dir / "in.png");
    std::ofstream(dir / "cut.png", std::ios::binary) << png.substr(0, png.size() / 2);
    std::filesystem::create_directory(dir / "folder.png");
    std::filesystem::create_hard_link(dir / "in.png", dir / "link.png");
}

struct ErrorRow {
    const char* name;
    std::vector<std::string> args;  // "@" at the start of an argument: path in the test folder
    int exitCode;
    const char* message;  // must appear in the one error line
};

const ErrorRow ROWS[] = {
    {"missing input",
     {"render", "@nope.png", "-o", "@out.png"},
     BAD_INPUT,
     "nope.png: no such file"},
    {"folder as input", {"render", "@folder.png", "-o", "@out.png"}, BAD_INPUT, "is a folder"},
    {"empty input", {"render", "@empty.png", "-o", "@out.png"}, BAD_INPUT, "empty.png: is empty"},
    {"corrupt input",
     {"render", "@junk.png", "-o", "@out.png"},
     BAD_INPUT,
     "junk.png: not a readable image"},
    {"truncated input", {"render", "@cut.png", "-o", "@out.png"}, BAD_INPUT, "cut.png"},
    {"grey and alpha",
     {"render", "@ga.png", "-o", "@out.png"},
     BAD_INPUT,
     "unsupported channel layout"},
    {"slider above 1",
     {"render", "@in.png", "-o", "@out.png", "--choke-opaque", "1.5"},
     BAD_INPUT,
     "--choke-opaque: 1.5 is outside 0..1"},
    {"slider below 0",
     {"render", "@in.png", "-o", "@out.png", "--spill-amount", "-0.1"},
     BAD_INPUT,
     "--spill-amount"},
    {"slider NaN",
     {"render", "@in.png", "-o", "@out.png", "--spill-size", "nan"},
     BAD_INPUT,
     "--spill-size"},
    {"slider not a number",
     {"render", "@in.png", "-o", "@out.png", "--choke-transparent", "lots"},
     BAD_INPUT,
     "--choke-transparent"},
    {"view 5", {"render", "@in.png", "-o", "@out.png", "--view", "5"}, BAD_INPUT, "--view: '5'"},
    {"view 0", {"render", "@in.png", "-o", "@out.png", "--view", "0"}, BAD_INPUT, "--view: '0'"},
    {"bad key",
     {"render", "@in.png", "-o", "@out.png", "--key", "#12345"},
     BAD_INPUT,
     "--key: '#12345'"},
    {"key out of range",
     {"render", "@in.png", "-o", "@out.png", "--key", "0,1.5,0"},
     BAD_INPUT,
     "--key"},
    {"bad depth",
     {"render", "@in.png", "-o", "@out.png", "--depth", "12"},
     BAD_INPUT,
     "--depth: '12'"},
    {"bad threads",
     {"render", "@in.png", "-o", "@out.png", "--threads", "-3"},
     BAD_INPUT,
     "--threads"},
    {"overwrite input",
     {"render", "@in.png", "-o", "@in.png"},
     BAD_INPUT,
     "would overwrite the input"},
    {"overwrite input, other spelling",
     {"render", "@in.png", "-o", "@./folder.png/../in.png"},
     BAD_INPUT,
     "would overwrite the input"},
    {"overwrite input through a hard link",
     {"render", "@in.png", "-o", "@link.png"},
     BAD_INPUT,
     "would overwrite the input"},
    {"no alpha in jpeg", {"render", "@in.png", "-o", "@out.jpg"}, BAD_INPUT, "cannot hold alpha"},
    {"unknown format",
     {"render", "@in.png", "-o", "@out.xyz"},
     BAD_INPUT,
     "out.xyz: no image format"},
    {"output folder missing",
     {"render", "@in.png", "-o", "@nodir/out.png"},
     BAD_INPUT,
     "does not exist"},
    {"output is a folder",
     {"render", "@in.png", "-o", "@folder.png"},
     BAD_INPUT,
     "folder.png: is a folder"},
    {"frames on a single file",
     {"render", "@in.png", "-o", "@out.png", "--frames", "1-3"},
     BAD_INPUT,
     "--frames"},
    {"sequence into one file",
     {"render", "@s.####.png", "-o", "@out.png"},
     BAD_INPUT,
     "must both name a sequence"},
    {"unknown flag", {"render", "@in.png", "-o", "@out.png", "--despill"}, BAD_INPUT, "--despill"},
    {"no output", {"render", "@in.png"}, BAD_INPUT, "--output is required"},
    {"no command", {}, BAD_INPUT, "subcommand"},
    {"missing plug-in",
     {"render", "@in.png", "-o", "@out.png", "--plugin", "@none.so"},
     PLUGIN,
     "none.so: no such plug-in"},
    {"not a library",
     {"render", "@in.png", "-o", "@out.png", "--plugin", "@in.png"},
     PLUGIN,
     "cannot load the plug-in"},
    // The plug-in's own message, converted from GBK.
    {"plug-in refuses",
     {"render", "@in.png", "-o", "@out.png", "--plugin", FAILING_PLUGIN},
     PLUGIN,
     "global setup failed (error 512): 测试失败"},
    {"info on a plug-in that refuses", {"info", FAILING_PLUGIN}, PLUGIN, "测试失败"},
};

std::vector<std::string> expand(const TempDir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (const std::string& a : args) out.push_back(a.rfind('@', 0) == 0 ? dir / a.substr(1) : a);
    return out;
}

TEST(ErrorsEndToEndTest, BadInputIsNamedAndLeavesNothingBehind) {
    for (const ErrorRow& row : ROWS) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        populate(dir);
        const auto before = dir.names();
        const clitest::RunResult r = runTool(expand(dir, row.args), dir.path());
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("kestrelumen: error: ", 0), 0u) << r.err;
        EXPECT_EQ(dir.names(), before) << "files were added or removed";
    }
}

// A write that fails half-way keeps the previous file and leaves no
// temporary: /dev/full fails every write, but needs a folder of its own, so
// an unwritable folder stands in for a full disk.
TEST(ErrorsEndToEndTest, UnwritableOutputIsAnIoErrorAndKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    TempDir dir;
    populate(dir);
    std::filesystem::create_directory(dir / "ro");
    std::ofstream(dir / "ro/out.png") << "old";
    ::chmod((dir / "ro").c_str(), 0555);
    const clitest::RunResult r =
        runTool({"render", dir / "in.png", "-o", dir / "ro/out.png"}, dir.path());
    ::chmod((dir / "ro").c_str(), 0755);
    EXPECT_EQ(r.exitCode, IO) << r.err;
    EXPECT_NE(r.err.find("ro/out.png: cannot be written"), std::string::npos) << r.err;
    EXPECT_EQ(clitest::slurp(dir / "ro/out.png"), "old");
}

TEST(ErrorsEndToEndTest, UnreadableInputIsAnIoError) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads anything";
    TempDir dir;
    populate(dir);
    ::chmod((dir / "in.png").c_str(), 0);
    const clitest::RunResult r =
        runTool({"render", dir / "in.png", "-o", dir / "out.png"}, dir.path());
    EXPECT_EQ(r.exitCode, IO) << r.err;
    EXPECT_NE(r.err.find("in.png: cannot be read"), std::string::npos) << r.err;
}

// An output on a full file system: the write fails and neither the output
// nor a temporary is left. Needs a tiny tmpfs, which only root can mount.
TEST(ErrorsEndToEndTest, FullDiskLeavesNoPartialOutput) {
    TempDir dir;
    populate(dir);
    const std::string mnt = dir / "tiny";
    std::filesystem::create_directory(mnt);
    if (std::system(("mount -t tmpfs -o size=8k tmpfs " + mnt + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    std::vector<uint8_t> noise(256 * 256 * 4);
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    writeFile(dir / "big.png", 256, 256, 4, noise, TypeDesc::UINT8);
    const clitest::RunResult r = runTool(
        {"render", dir / "big.png", "-o", mnt + "/out.png", "--view", "source"}, dir.path());
    const bool empty = std::filesystem::is_empty(mnt);
    std::system(("umount " + mnt).c_str());
    EXPECT_EQ(r.exitCode, IO) << r.err;
    EXPECT_NE(r.err.find("out.png: cannot be written"), std::string::npos) << r.err;
    EXPECT_TRUE(empty) << "a partial output or temporary was left";
}

}  // namespace

// The command-line tool fed what a hostile or broken file system hands it:
// headers that declare absurd sizes, images without pixels, pipes and
// devices in place of files, paths that cannot exist, and a disk that fills
// up while the output is written. Each must end in one clear error line, a
// non-zero exit, within seconds and without huge allocations, and must
// leave the folder exactly as it was: no partial output, no temporary, no
// clobbered earlier output.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "ToolHarness.h"
#include "cli/ImageFile.h"

namespace robusttest {
namespace {

namespace fs = std::filesystem;

enum Exit { BAD_INPUT = 2, IO = 4 };

void spit(const fs::path& p, const std::string& bytes) {
    std::ofstream f(p, std::ios::binary);
    f << bytes;
}

using clitest::RunResult;
using clitest::slurp;
using clitest::TempDir;
using Limits = clitest::RunLimits;

RunResult runTool(const std::vector<std::string>& args, const TempDir& dir, Limits limits = {}) {
    return clitest::runTool(args, dir.path(), limits);
}

// ---- Files --------------------------------------------------------------------

uint32_t crc32(const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

std::string be32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}

std::string pngChunk(const std::string& type, const std::string& data) {
    return be32(static_cast<uint32_t>(data.size())) + type + data + be32(crc32(type + data));
}

// A PNG whose header declares width x height RGBA pixels, with a few bytes
// of (uncompressed, stored) image data: valid checksums, impossible sizes.
std::string pngHeader(uint32_t width, uint32_t height) {
    const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x06\x00\x00\x00", 5);
    // A zlib stream of one stored block holding 8 zero bytes.
    const std::string idat = std::string("\x78\x01\x01\x08\x00\xf7\xff", 7) + std::string(8, '\0') +
                             std::string("\x00\x08\x00\x01", 4);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", idat) +
           pngChunk("IEND", "");
}

// A little-endian TIFF, 8-bit RGBA, one strip of 16 bytes, declaring
// width x height.
std::string tiffHeader(uint32_t width, uint32_t height) {
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const uint32_t stripOffset = 8 + 2 + 12 * 11 + 4;
    const Entry entries[] = {{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8},
                             {259, 3, 1, 1},     {262, 3, 1, 2},      {273, 4, 1, stripOffset},
                             {277, 3, 1, 4},     {278, 4, 1, height}, {279, 4, 1, 16},
                             {284, 3, 1, 1},     {338, 3, 1, 2}};
    std::string s = std::string("II*\0", 4) + le(8, 4) + le(11, 2);
    for (const Entry& e : entries)
        s += le(e.tag, 2) + le(e.type, 2) + le(e.count, 4) + le(e.value, 4);
    return s + le(0, 4) + std::string(16, '\x7f');
}

// An OpenEXR file declaring a data window of width x height, one half
// channel per R, G, B, A, uncompressed, and a line offset table of one entry.
std::string exrHeader(int32_t width, int32_t height) {
    auto attr = [](const std::string& name, const std::string& type, const std::string& value) {
        return name + '\0' + type + '\0' + le(static_cast<uint32_t>(value.size()), 4) + value;
    };
    std::string channels;
    for (const char* c : {"A", "B", "G", "R"})
        channels += std::string(c) + '\0' + le(1, 4) + le(0, 4) + le(1, 4) + le(1, 4);
    channels += '\0';
    const std::string box = le(0, 4) + le(0, 4) + le(static_cast<uint32_t>(width - 1), 4) +
                            le(static_cast<uint32_t>(height - 1), 4);
    std::string s = le(20000630, 4) + le(2, 4);
    s += attr("channels", "chlist", channels);
    s += attr("compression", "compression", std::string(1, '\0'));
    s += attr("dataWindow", "box2i", box);
    s += attr("displayWindow", "box2i", box);
    s += attr("lineOrder", "lineOrder", std::string(1, '\0'));
    s += attr("pixelAspectRatio", "float", le(0x3f800000, 4));
    s += attr("screenWindowCenter", "v2f", std::string(8, '\0'));
    s += attr("screenWindowWidth", "float", le(0x3f800000, 4));
    s += '\0';
    s += std::string(8, '\0');  // offset table: one entry
    return s;
}

// Noise that PNG cannot compress: the keyed output is about as large.
void writeNoise(const std::string& path, int size) {
    kcli::HostImage img;
    img.width = img.height = size;
    img.depth = kcli::Depth::U8;
    img.pixels.resize(img.rowBytes() * static_cast<std::size_t>(size));
    uint32_t x = 0x2545F491u;
    for (unsigned char& b : img.pixels) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }
    kcli::writeImage(path, img);
}

// ---- Rows ----------------------------------------------------------------------

struct HostileRow {
    const char* name;
    // Makes the folder's files; returns the input argument.
    std::function<std::string(const TempDir&)> make;
    int exitCode;
    const char* message;  // part of the one error line
};

const HostileRow ROWS[] = {
    {"PNG declaring 100000x100000",
     [](const TempDir& d) {
         spit(d / "huge.png", pngHeader(100000, 100000));
         return d / "huge.png";
     },
     BAD_INPUT, "huge.png"},
    {"PNG declaring 2^31-1 x 2^31-1",
     [](const TempDir& d) {
         spit(d / "max.png", pngHeader(0x7FFFFFFF, 0x7FFFFFFF));
         return d / "max.png";
     },
     BAD_INPUT, "max.png"},
    {"PNG declaring 0 rows",
     [](const TempDir& d) {
         spit(d / "flat.png", pngHeader(4, 0));
         return d / "flat.png";
     },
     BAD_INPUT, "flat.png"},
    {"TIFF declaring 100000x100000",
     [](const TempDir& d) {
         spit(d / "huge.tif", tiffHeader(100000, 100000));
         return d / "huge.tif";
     },
     BAD_INPUT, "huge.tif"},
    {"TIFF declaring 0x0",
     [](const TempDir& d) {
         spit(d / "none.tif", tiffHeader(0, 0));
         return d / "none.tif";
     },
     BAD_INPUT, "none.tif"},
    {"TIFF declaring 65536x65536 in 16 bytes",
     [](const TempDir& d) {
         spit(d / "big.tif", tiffHeader(65536, 65536));
         return d / "big.tif";
     },
     BAD_INPUT, "big.tif"},
    {"EXR declaring 100000x100000",
     [](const TempDir& d) {
         spit(d / "huge.exr", exrHeader(100000, 100000));
         return d / "huge.exr";
     },
     BAD_INPUT, "huge.exr"},
    {"EXR declaring an empty data window",
     [](const TempDir& d) {
         spit(d / "none.exr", exrHeader(0, 0));
         return d / "none.exr";
     },
     BAD_INPUT, "none.exr"},
    {"named pipe instead of a file",
     [](const TempDir& d) {
         ::mkfifo((d / "pipe.png").c_str(), 0644);
         return d / "pipe.png";
     },
     BAD_INPUT, "pipe.png"},
    {"endless device instead of a file", [](const TempDir&) { return std::string("/dev/zero"); },
     BAD_INPUT, "/dev/zero"},
    {"path through a file",
     [](const TempDir& d) {
         spit(d / "plain.png", pngHeader(1, 1));
         return d / "plain.png/in.png";
     },
     BAD_INPUT, "plain.png/in.png"},
    {"dangling symbolic link",
     [](const TempDir& d) {
         fs::create_symlink(d / "gone.png", d / "link.png");
         return d / "link.png";
     },
     BAD_INPUT, "link.png"},
};

TEST(ToolHostileInputTest, RefusedWithOneLineAndNothingWritten) {
    for (const HostileRow& row : ROWS) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string input = row.make(dir);
        spit(dir / "out.png", "earlier output");
        const auto before = dir.snapshot();

        const RunResult r =
            runTool({"render", input, "-o", dir / "out.png"}, dir,
                    Limits{0, 30, false, {}, CLI_TEST_LSAN_SUPP, CLI_TEST_TSAN_SUPP});
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_EQ(r.err.rfind("kestrelumen: error: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(dir.snapshot(), before) << "the folder changed";
    }
}

// The disk fills up while the output is written: simulated by a file-size
// limit, under which the system raises SIGXFSZ and fails the write. The tool
// must report an I/O error, keep the earlier output and remove its temporary.
TEST(ToolHostileInputTest, FullDiskIsAnIoErrorAndKeepsTheEarlierOutput) {
    const struct { const char* output; } outputs[] = {{"out.png"}, {"out.tif"}, {"out.exr"}};
    for (const auto& o : outputs) {
        SCOPED_TRACE(o.output);
        TempDir dir;
        writeNoise(dir / "noise.png", 96);
        spit(dir / o.output, "earlier output");
        const auto before = dir.snapshot();

        const RunResult r =
            runTool({"render", dir / "noise.png", "-o", dir / o.output}, dir,
                    Limits{4096, 60, false, {}, CLI_TEST_LSAN_SUPP, CLI_TEST_TSAN_SUPP});
        EXPECT_EQ(r.exitCode, IO) << r.err;
        EXPECT_NE(r.err.find(std::string(o.output) + ": cannot be written"), std::string::npos)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(dir.snapshot(), before) << "partial output, temporary or clobbered file";
    }
}

// What the file system forbids: an input that cannot be read, an output
// folder that cannot be written. Both are I/O errors that name the file, and
// the earlier output stays as it was.
TEST(ToolHostileInputTest, ForbiddenFilesAreIoErrorsAndKeepTheEarlierOutput) {
    const struct {
        const char* name;
        const char* output;
        mode_t inputMode, folderMode;
        const char* message;
    } rows[] = {
        {"unreadable input", "out.png", 0000, 0755, "in.png: cannot be read"},
        {"output folder without write permission", "ro/out.png", 0644, 0555,
         "ro/out.png: cannot be written"},
    };
    // The unprivileged user runs a copy of the tool and its plug-in laid out
    // as the build lays them out (bin/ beside plugin/), in a folder it can
    // reach whatever the permissions of the checkout the build lives in.
    TempDir installed;
    fs::permissions(installed.path(), fs::perms(0755));
    fs::create_directories(installed.path() / "bin");
    fs::create_directories(installed.path() / "plugin");
    fs::copy_file(KESTRELUMEN_TOOL, installed / "bin/kestrelumen");
    const fs::path plugin = KESTRELUMEN_PLUGIN;
    fs::copy_file(plugin, installed.path() / "plugin" / plugin.filename());
    fs::copy_file(CLI_TEST_LSAN_SUPP, installed / "lsan.supp");
    fs::copy_file(CLI_TEST_TSAN_SUPP, installed / "tsan.supp");
    for (const auto& e : fs::recursive_directory_iterator(installed.path()))
        fs::permissions(e.path(), fs::perms(0755));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        fs::permissions(dir.path(), fs::perms(0755));  // reachable for the unprivileged user
        writeNoise(dir / "in.png", 4);
        ::chmod((dir / "in.png").c_str(), row.inputMode);
        fs::create_directory(dir / "ro");
        spit(dir / "out.png", "earlier output");
        spit(dir / "ro/out.png", "earlier output");
        ::chmod((dir / "ro").c_str(), row.folderMode);
        const auto before = dir.snapshot();

        Limits limits;
        limits.unprivileged = true;
        limits.executable = installed / "bin/kestrelumen";
        limits.lsanSuppressions = installed / "lsan.supp";
        limits.tsanSuppressions = installed / "tsan.supp";
        const RunResult r =
            runTool({"render", dir / "in.png", "-o", dir / row.output}, dir, limits);
        ::chmod((dir / "ro").c_str(), 0755);
        EXPECT_EQ(r.exitCode, IO) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(dir.snapshot(), before);
        EXPECT_EQ(slurp(dir / "ro/out.png"), "earlier output");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "ro"), fs::directory_iterator()), 1)
            << "a temporary was left in the output folder";
    }
}

// A sequence whose later frame is hostile stops there, with every frame
// before it complete and nothing of the hostile frame written.
TEST(ToolHostileInputTest, HostileFrameInASequenceStopsCleanly) {
    TempDir dir;
    writeNoise(dir / "shot.0001.png", 8);
    writeNoise(dir / "shot.0002.png", 8);
    spit(dir / "shot.0003.png", pngHeader(100000, 100000));
    const RunResult r = runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png"}, dir,
                                Limits{0, 60, false, {}, CLI_TEST_LSAN_SUPP, CLI_TEST_TSAN_SUPP});
    EXPECT_EQ(r.exitCode, BAD_INPUT) << r.err;
    EXPECT_NE(r.err.find("shot.0003.png"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "key.0003.png"));
    for (const auto& [name, bytes] : dir.snapshot())
        EXPECT_EQ(name.find("kestrelumen-tmp"), std::string::npos) << name;
}

}  // namespace
}  // namespace robusttest

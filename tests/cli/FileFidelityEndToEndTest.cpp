// What the tool's outputs keep of their inputs: pixel type, codec, windows,
// attributes, channels, layers and parts, alpha as each format means it,
// and a warning for each thing a format cannot hold. Inputs are made with
// OpenImageIO's oiiotool; outputs are read back with OpenImageIO.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ToolHarness.h"

namespace {

using clitest::runTool;
using clitest::TempDir;

int sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

std::unique_ptr<OIIO::ImageInput> openOut(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    return OIIO::ImageInput::open(path, &config);
}

struct FidelityRow {
    const char* name;
    const char* make;  // oiiotool arguments writing IN (the input's extension below)
    const char* inExt;
    std::vector<std::string> args;  // after IN -o OUT
    const char* outExt;
    // What the output holds, read back part by part: "type R,G,B,A;..." etc.
    const char* type;       // the first part's pixel type
    const char* channels;   // the keyed part's channel names, comma-separated
    const char* attribute;  // an attribute "name=value" of the keyed part; empty: none
    int x, y, fullWidth;    // data window origin and display width
    int parts;
    const char* warning;  // a fragment of stderr; empty: no warning at all
};

const FidelityRow ROWS[] = {
    {"half DWAA keeps type, codec and level, timecode and rate",
     "--pattern checker 32x16 4 -d half --compression dwaa:60 --attrib:type=timecode "
     "smpte:TimeCode 01:02:03:04 --attrib:type=rational FramesPerSecond 24/1",
     ".exr",
     {"--key", "green"},
     ".exr",
     "half",
     "R,G,B,A",
     "openexr:dwaCompressionLevel=60",
     0,
     0,
     32,
     1,
     ""},
    {"--depth 16 to EXR writes half, --compression chooses",
     "--pattern checker 32x16 4 -d float",
     ".exr",
     {"--depth", "16", "--compression", "piz"},
     ".exr",
     "half",
     "R,G,B,A",
     "compression=piz",
     0,
     0,
     32,
     1,
     ""},
    {"uint16 TIFF stays uint16",
     "--pattern checker 32x16 4 -d uint16",
     ".tif",
     {},
     ".tif",
     "uint16",
     "R,G,B,A",
     "",
     0,
     0,
     32,
     1,
     ""},
    {"zip TIFF to TIFF, --compression chooses",
     "--pattern checker 32x16 4 -d uint8 --compression zip",
     ".tif",
     {"--compression", "lzw"},
     ".tif",
     "uint8",
     "R,G,B,A",
     "compression=lzw",
     0,
     0,
     32,
     1,
     ""},
    {"10-bit DPX stays 10-bit",
     "--pattern checker 32x16 3 -d uint10",
     ".dpx",
     {},
     ".dpx",
     "uint16",
     "R,G,B,A",
     "oiio:BitsPerSample=10",
     0,
     0,
     32,
     1,
     "Software (cut to"},
    {"data and display windows kept, extra channel passes through",
     "--pattern constant:color=0.1,0.2,0.3,0.4,0.5 40x30 5 --chnames R,G,B,A,Z "
     "--origin +200+100 --fullsize 96x54 -d half",
     ".exr",
     {},
     ".exr",
     "half",
     "R,G,B,A,Z",
     "",
     200,
     100,
     96,
     1,
     ""},
    {"only layer keyed, names kept, alpha added to it",
     "--pattern constant:color=0.1,0.2,0.3 16x8 3 --chnames beauty.R,beauty.G,beauty.B",
     ".exr",
     {},
     ".exr",
     "float",
     "beauty.R,beauty.G,beauty.B,beauty.A",
     "",
     0,
     0,
     16,
     1,
     ""},
    {"two parts, both kept",
     "--pattern constant:color=0.1,0.2,0.3,1 16x8 4 --attrib oiio:subimagename fg "
     "--pattern constant:color=0.5 16x8 1 --chnames Z --attrib oiio:subimagename depth --siappend",
     ".exr",
     {},
     ".exr",
     "float",
     "R,G,B,A",
     "oiio:subimagename=fg",
     0,
     0,
     16,
     2,
     ""},
    {"to PNG: the window, Z and timecode are named as dropped",
     "--pattern constant:color=0.1,0.2,0.3,0.4,0.5 40x30 5 --chnames R,G,B,A,Z "
     "--origin +20+10 --fullsize 96x54 -d half --attrib:type=timecode smpte:TimeCode 01:02:03:04",
     ".exr",
     {},
     ".png",
     "uint16",
     "R,G,B,A",
     "",
     0,
     0,
     40,
     1,
     "channels Z of"},
    {"PNG stays 8-bit and keeps its text",
     "--pattern checker 32x16 4 -d uint8 --attrib Comment 'plate 12, take 3'",
     ".png",
     {},
     ".png",
     "uint8",
     "R,G,B,A",
     "Comment=plate 12, take 3",
     0,
     0,
     32,
     1,
     ""},
    {"PNG keeps its density",
     "--pattern checker 32x16 4 -d uint8 --attrib XResolution 300.0 --attrib YResolution 300.0 "
     "--attrib ResolutionUnit cm",
     ".png",
     {},
     ".png",
     "uint8",
     "R,G,B,A",
     "XResolution=762",
     0,
     0,
     32,
     1,
     ""},
    {"10-bit DPX with alpha stays 10-bit",
     "--pattern checker 32x16 4 -d uint10",
     ".dpx",
     {},
     ".dpx",
     "uint16",
     "R,G,B,A",
     "oiio:BitsPerSample=10",
     0,
     0,
     32,
     1,
     "Software (cut to"},
    {"to TIFF: the second part is named as dropped",
     "--pattern constant:color=0.1,0.2,0.3,1 16x8 4 --pattern constant:color=0.5 16x8 1 "
     "--chnames Z --siappend",
     ".exr",
     {},
     ".tif",
     "float",
     "R,G,B,A",
     "",
     0,
     0,
     16,
     1,
     "holds one part"},
};

std::string joinedNames(const OIIO::ImageSpec& s) {
    std::string t;
    for (const std::string& n : s.channelnames) t += (t.empty() ? "" : ",") + n;
    return t;
}

TEST(FileFidelityEndToEndTest, OutputsKeepWhatTheirFormatHolds) {
    for (const FidelityRow& row : ROWS) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string in = dir / (std::string("in") + row.inExt);
        const std::string out = dir / (std::string("out") + row.outExt);
        ASSERT_EQ(sh(std::string("oiiotool ") + row.make + " -o " + in), 0);
        std::vector<std::string> args{"render", in, "-o", out};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const clitest::RunResult r = runTool(args, dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        if (*row.warning)
            EXPECT_NE(r.err.find(row.warning), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;

        auto file = openOut(out);
        ASSERT_TRUE(file) << OIIO::geterror();
        const OIIO::ImageSpec& s = file->spec();
        EXPECT_EQ(std::string(s.format.c_str()), row.type);
        EXPECT_EQ(joinedNames(s), row.channels);
        EXPECT_EQ(s.x, row.x);
        EXPECT_EQ(s.y, row.y);
        EXPECT_EQ(s.full_width, row.fullWidth);
        if (*row.attribute) {
            const std::string a = row.attribute, name = a.substr(0, a.find('='));
            const OIIO::ParamValue* p = s.find_attribute(name);
            ASSERT_TRUE(p) << name;
            EXPECT_EQ(p->get_string(), a.substr(a.find('=') + 1));
        }
        EXPECT_NE(s.get_string_attribute("Software").find("kestrelumen render"), std::string::npos);
        int parts = 0;
        while (file->seek_subimage(parts, 0)) ++parts;
        EXPECT_EQ(parts, row.parts);
        // What is not keyed is copied exactly.
        if (row.parts == 2) {
            EXPECT_EQ(sh("oiiotool " + in + " --subimage 1 -o " + dir / "a.exr" + " && oiiotool " +
                         out + " --subimage 1 -o " + dir / "b.exr" + " && idiff " + dir / "a.exr" +
                         " " + dir / "b.exr"),
                      0);
        }
    }
}

// EXR holds colour premultiplied by alpha; the plug-in works on straight
// colour. The EXR written is the straight result (a float TIFF) times alpha,
// and an EXR read back is made straight again before keying.
TEST(FileFidelityEndToEndTest, ExrColourIsTheStraightResultTimesAlpha) {
    TempDir dir;
    const std::string in = dir / "in.tif";
    ASSERT_EQ(sh("oiiotool --pattern fill:topleft=0,1,0,1:topright=0.8,0.4,0.2,0.5:"
                 "bottomleft=0.3,0.9,0.1,0.25:bottomright=1,1,1,1 16x16 4 -d float -o " +
                 in),
              0);
    const std::vector<std::string> key{"--key", "green", "--spill-amount", "0.5", "-q"};
    auto render = [&](const std::string& from, const std::string& to,
                      std::vector<std::string> more) {
        std::vector<std::string> args{"render", from, "-o", to};
        args.insert(args.end(), key.begin(), key.end());
        args.insert(args.end(), more.begin(), more.end());
        return runTool(args, dir.path()).exitCode;
    };
    ASSERT_EQ(render(in, dir / "straight.tif", {}), 0);
    ASSERT_EQ(render(in, dir / "assoc.exr", {"--depth", "32"}), 0);
    ASSERT_EQ(render(in, dir / "assoc.tif", {"--premultiply"}), 0);
    const clitest::FileImage s = clitest::readFile(dir / "straight.tif");
    ASSERT_EQ(s.f.size(), 16u * 16u * 4u);
    for (const char* name : {"assoc.exr", "assoc.tif"}) {
        SCOPED_TRACE(name);
        const clitest::FileImage p = clitest::readFile(dir / name);
        ASSERT_EQ(p.f.size(), s.f.size());
        int diffs = 0;
        for (std::size_t i = 0; i < s.f.size(); ++i) {
            const float a = s.f[i - i % 4 + 3];
            const float want = i % 4 == 3 ? a : s.f[i] * a;
            diffs += clitest::bitsOf(p.f[i]) != clitest::bitsOf(want);
        }
        EXPECT_EQ(diffs, 0);
    }
    // The premultiplied file keys as the straight one did: the source view
    // of the EXR, written straight, is the straight input again.
    ASSERT_EQ(sh("oiiotool " + in + " -o " + dir / "in.exr"), 0);  // premultiplied by oiiotool
    ASSERT_EQ(render(dir / "in.exr", dir / "again.tif", {}), 0);
    EXPECT_EQ(sh("idiff -fail 1e-6 " + dir / "straight.tif" + " " + dir / "again.tif"), 0);
    // Each format's own alpha is refused the other way.
    EXPECT_EQ(render(in, dir / "x.exr", {"--straight"}), 2);
    EXPECT_EQ(render(in, dir / "x.png", {"--premultiply"}), 2);
}

// The Software attribute, run as it reads, writes the same file again: the
// key found on the plate is in it, how the run was carried out is not.
TEST(FileFidelityEndToEndTest, SoftwareIsTheCommandThatReproducesTheKey) {
    TempDir dir;
    const std::string in = dir / "plate 1.png", out = dir / "key.png";
    ASSERT_EQ(sh("oiiotool --pattern checker:color1=0.1,0.8,0.2:color2=0.8,0.3,0.2 64x32 3 "
                 "-d uint8 -o '" +
                 in + "'"),
              0);
    const clitest::RunResult r = runTool(
        {"render", in, "-o", out, "--key-at", "2,2", "--spill-amount", "0.7", "-j", "1", "-q"},
        dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string first = dir.snapshot().at("key.png");
    std::string software = openOut(out)->spec().get_string_attribute("Software");
    const std::string marker = " : kestrelumen render ";
    ASSERT_NE(software.find(marker), std::string::npos) << software;
    EXPECT_NE(software.find(" --spill-amount 0.7 "), std::string::npos) << software;
    EXPECT_EQ(software.find("-j"), std::string::npos) << software;
    ASSERT_TRUE(clitest::fs::remove(out));
    ASSERT_EQ(std::system((std::string(KESTRELUMEN_TOOL) + " render " +
                           software.substr(software.find(marker) + marker.size()) + " -q")
                              .c_str()),
              0);
    EXPECT_EQ(dir.snapshot().at("key.png"), first);
}

// A sequence keeps all of it frame after frame, and says each loss once.
TEST(FileFidelityEndToEndTest, SequenceKeepsItEveryFrame) {
    TempDir dir;
    for (int f = 1; f <= 3; ++f)
        ASSERT_EQ(sh("oiiotool --pattern constant:color=0.1,0.2,0.3,0.4," + std::to_string(f) +
                     " 16x8 5 --chnames R,G,B,A,Z --origin +4+2 --fullsize 32x16 -d half "
                     "--attrib:type=timecode smpte:TimeCode 01:00:00:0" +
                     std::to_string(f) + " -o " + dir / ("s." + std::to_string(f) + ".exr")),
                  0);
    clitest::RunResult r = runTool({"render", dir / "s.#.exr", "-o", dir / "k.#.exr"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int f = 1; f <= 3; ++f) {
        SCOPED_TRACE(f);
        auto file = openOut(dir / ("k." + std::to_string(f) + ".exr"));
        ASSERT_TRUE(file);
        const OIIO::ImageSpec& s = file->spec();
        EXPECT_EQ(joinedNames(s), "R,G,B,A,Z");
        EXPECT_EQ(s.format, OIIO::TypeDesc::HALF);
        EXPECT_EQ(s.x, 4);
        EXPECT_EQ(s.full_width, 32);
        const OIIO::ParamValue* tc = s.find_attribute("smpte:TimeCode");
        ASSERT_TRUE(tc);
        EXPECT_EQ(tc->get_string(), "01:00:00:0" + std::to_string(f));
        // Z is this frame's own.
        std::vector<float> z(16 * 8);
        ASSERT_TRUE(file->read_image(0, 0, 4, 5, OIIO::TypeDesc::FLOAT, z.data()));
        EXPECT_EQ(z[0], float(f));
    }
    r = runTool({"render", dir / "s.#.exr", "-o", dir / "k.#.png"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::size_t count = 0;
    for (std::size_t at = 0; (at = r.err.find("channels Z of", at)) != std::string::npos; ++at)
        ++count;
    EXPECT_EQ(count, 1u) << r.err;
}

// A part or layer that cannot be keyed is refused naming the flag to change,
// before anything is written.
TEST(FileFidelityEndToEndTest, ChoicesThatCannotBeKeyedNameTheirFlag) {
    TempDir dir;
    const std::string in = dir / "two.exr";
    ASSERT_EQ(
        sh("oiiotool --pattern constant:color=0.1,0.2,0.3,1 16x8 4 --attrib oiio:subimagename fg "
           "--pattern constant:color=0.5 16x8 1 --chnames Z --attrib oiio:subimagename depth "
           "--siappend -o " +
           in),
        0);
    const struct {
        std::vector<std::string> args;
        const char* error;
    } rows[] = {
        {{"--part", "depth"}, "part 'depth' cannot be keyed"},
        {{"--part", "beauty"}, "has no part 'beauty' (its parts: 0 'fg', 1 'depth')"},
        {{"--layer", "diffuse"}, "has no layer 'diffuse'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        std::vector<std::string> args{"render", in, "-o", dir / "out.exr"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const clitest::RunResult r = runTool(args, dir.path());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(row.error), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("kestrelumen: error: " + row.args[0] + ": ", 0), 0u) << r.err;
        EXPECT_FALSE(clitest::fs::exists(dir / "out.exr"));
    }
}

}  // namespace

// Sequences through the frame pipeline, end to end: the same bytes whatever
// the threads and frames in flight, a failing frame that stops the run with
// the frames before it complete, interruption that leaves only complete
// files and resumes to the same result, and progress in a log.
#include <gtest/gtest.h>

#include <regex>

#include "ToolHarness.h"

namespace {

using clitest::RunResult;
using clitest::runTool;
using clitest::TempDir;
using OIIO::TypeDesc;
namespace fs = std::filesystem;

std::string frameName(const char* stem, int f, const char* ext) {
    char name[64];
    std::snprintf(name, sizeof name, "%s.%04d.%s", stem, f, ext);
    return name;
}

// Frames that differ from each other, so a frame keyed or written under
// another's number shows.
void writeFrames(const TempDir& dir, int count, const char* ext, TypeDesc type) {
    const int w = 37, h = 23;
    for (int f = 1; f <= count; ++f) {
        std::vector<float> px(static_cast<std::size_t>(w) * h * 4);
        for (int i = 0; i < w * h; ++i) {
            px[4 * i + 0] = static_cast<float>((i * 7 + f * 13) % 256) / 255.0f;
            px[4 * i + 1] = static_cast<float>((i * 3 + f * 29) % 256) / 255.0f;
            px[4 * i + 2] = static_cast<float>((i + f * 5) % 256) / 255.0f;
            px[4 * i + 3] = 1.0f;
        }
        auto out = OIIO::ImageOutput::create(dir / frameName("shot", f, ext));
        ASSERT_TRUE(out);
        OIIO::ImageSpec imageSpec(w, h, 4, type);
        imageSpec.attribute("oiio:UnassociatedAlpha", 1);
        ASSERT_TRUE(out->open(dir / frameName("shot", f, ext), imageSpec));
        ASSERT_TRUE(out->write_image(TypeDesc::FLOAT, px.data()));
        ASSERT_TRUE(out->close());
    }
}

// Outputs only (the inputs and the tool's own capture files left out).
std::map<std::string, std::string> outputs(const TempDir& dir) {
    std::map<std::string, std::string> all = dir.snapshot(), keyed;
    for (const auto& [name, what] : all)
        if (name.rfind("shot.", 0) != 0) keyed[name] = what;
    return keyed;
}

// The TIFF and EXR writers stamp each file with the time it was written, so
// those outputs are compared by their pixels, bit for bit.
std::map<std::string, std::string> outputPixels(const TempDir& dir) {
    std::map<std::string, std::string> keyed;
    for (const auto& [name, what] : outputs(dir)) {
        const clitest::FileImage img = clitest::readFile(dir / name);
        std::string bits;
        for (float v : img.f) bits += std::to_string(clitest::bitsOf(v)) + ",";
        for (uint32_t v : img.u) bits += std::to_string(v) + ",";
        keyed[name] = bits;
    }
    return keyed;
}

std::vector<std::string> keyArgs(const TempDir& dir, const char* ext) {
    return {"render",
            dir / (std::string("shot.####.") + ext),
            "-o",
            dir / (std::string("key.####.") + ext),
            "--key",
            "#178e2f",
            "--spill-amount",
            "0.8",
            "-q"};
}

TEST(PipelineEndToEndTest, SameBytesWhateverTheThreadsAndFramesInFlight) {
    struct Row {
        const char* ext;
        TypeDesc type;
    };
    const Row formats[] = {
        {"png", TypeDesc::UINT8}, {"tif", TypeDesc::UINT16}, {"exr", TypeDesc::HALF}};
    const std::vector<std::vector<std::string>> runs = {
        {"-j", "2", "--frames-in-flight", "1"}, {"-j", "2", "--frames-in-flight", "2"},
        {"-j", "3", "--frames-in-flight", "7"}, {"-j", "8", "--frames-in-flight", "3"},
        {"--frames-in-flight", "20"},
    };
    for (const Row& row : formats) {
        TempDir dir;
        writeFrames(dir, 9, row.ext, row.type);
        std::vector<std::string> args = keyArgs(dir, row.ext);
        args.insert(args.end(), {"-j", "1", "--frames-in-flight", "1"});
        ASSERT_EQ(runTool(args, dir.path()).exitCode, 0) << row.ext;
        const auto compared = std::string(row.ext) == "png" ? outputs : outputPixels;
        const auto expected = compared(dir);
        ASSERT_EQ(expected.size(), 9u) << row.ext;
        for (const auto& extra : runs) {
            for (const auto& [name, what] : expected) fs::remove(dir / name);
            args = keyArgs(dir, row.ext);
            args.insert(args.end(), extra.begin(), extra.end());
            const RunResult r = runTool(args, dir.path());
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(compared(dir), expected) << row.ext << " " << extra[1];
        }
    }
}

TEST(PipelineEndToEndTest, FailingFrameStopsTheRunNamingIt) {
    struct Row {
        const char* what;
        std::function<void(const TempDir&)> spoil;
        int exitCode;
        std::string message;
    };
    const Row rows[] = {
        {"corrupt input", [](const TempDir& d) { fs::resize_file(d / "shot.0005.png", 100); }, 2,
         "shot.0005.png: corrupt or truncated image"},
        {"input of another size",
         [](const TempDir& d) {
             clitest::writeFile(d / "shot.0005.png", 2, 2, 4, std::vector<uint8_t>(16, 9),
                                TypeDesc::UINT8);
         },
         2, "shot.0005.png: 2x2 differs from the sequence's 37x23"},
        {"output taken by a folder",
         [](const TempDir& d) { fs::create_directory(d / "key.0005.png"); }, 4,
         "key.0005.png: cannot be written"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        writeFrames(dir, 12, "png", TypeDesc::UINT8);
        std::vector<std::string> args = keyArgs(dir, "png");
        ASSERT_EQ(runTool(args, dir.path()).exitCode, 0);
        const auto complete = outputs(dir);
        for (const auto& [name, what] : complete) fs::remove(dir / name);

        row.spoil(dir);
        args.insert(args.end(), {"-j", "2", "--frames-in-flight", "4"});
        const RunResult r = runTool(args, dir.path());
        EXPECT_EQ(r.exitCode, row.exitCode) << row.what << ": " << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << row.what << ": " << r.err;
        // Every frame before the failing one is there; any file there is
        // complete, and no temporary is left.
        const auto after = outputs(dir);
        for (int f = 1; f <= 4; ++f)
            EXPECT_EQ(after.count(frameName("key", f, "png")), 1u) << row.what << " frame " << f;
        for (const auto& [name, what] : after) {
            if (name == "key.0005.png") continue;
            ASSERT_EQ(complete.count(name), 1u) << row.what << ": unexpected " << name;
            EXPECT_EQ(what, complete.at(name)) << row.what << ": " << name;
        }
    }
}

// Frames large enough that a run lasts while the signal is sent.
void writeLongShot(const TempDir& dir, int count) {
    const int w = 1280, h = 720;
    std::vector<uint8_t> px(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    clitest::writeFile(dir / "shot.0001.png", w, h, 4, px, TypeDesc::UINT8);
    for (int f = 2; f <= count; ++f)
        fs::copy_file(dir / "shot.0001.png", dir / frameName("shot", f, "png"));
}

TEST(PipelineEndToEndTest, InterruptedRunKeepsCompleteFramesAndResumes) {
    struct Row {
        int signal;
        int exitCode;
    };
    for (const Row row : {Row{SIGINT, 130}, Row{SIGTERM, 143}}) {
        TempDir dir;
        const int count = 24;
        writeLongShot(dir, count);
        std::vector<std::string> args = keyArgs(dir, "png");
        args.insert(args.end(), {"-j", "1", "--frames-in-flight", "2"});
        const clitest::SignalWhen interrupt{row.signal,
                                            [&] { return fs::exists(dir / "key.0002.png"); }};
        const RunResult r = runTool(args, dir.path(), {}, interrupt);
        ASSERT_EQ(r.exitCode, row.exitCode) << r.err;
        const auto kept = outputs(dir);
        ASSERT_GE(kept.size(), 2u);
        ASSERT_LT(kept.size(), static_cast<std::size_t>(count))
            << "the run ended before the signal";
        for (const auto& [name, what] : kept) {
            EXPECT_EQ(name.find("tmp"), std::string::npos) << "temporary left: " << name;
            EXPECT_EQ(clitest::readFile(dir / name).width, 1280) << name;
        }
        EXPECT_NE(r.err.find("kestrelumen: interrupted: " + std::to_string(kept.size()) + " of " +
                             std::to_string(count) + " frames written to " + dir / "key.####.png" +
                             "; to resume, run the same command with --skip-existing\n"),
                  std::string::npos)
            << r.err;

        args.push_back("--skip-existing");
        const RunResult resumed = runTool(args, dir.path());
        ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
        const auto afterResume = outputs(dir);
        for (const auto& [name, what] : kept)
            EXPECT_EQ(afterResume.at(name), what) << "rewritten: " << name;

        // An uninterrupted run of the same command writes the same bytes
        // (each file names its command, paths included).
        for (const auto& [name, what] : afterResume) fs::remove(dir / name);
        ASSERT_EQ(runTool(keyArgs(dir, "png"), dir.path()).exitCode, 0);
        EXPECT_EQ(afterResume, outputs(dir));
    }
}

TEST(PipelineEndToEndTest, ProgressInALogIsPlainLines) {
    TempDir dir;
    writeFrames(dir, 5, "png", TypeDesc::UINT8);
    struct Row {
        const char* interval;
        std::size_t lines;
    };
    // Every frame with no interval; only the closing line when the run is
    // shorter than the interval.
    for (const Row row : {Row{"0", 5}, Row{"600", 1}}) {
        const RunResult r = runTool({"render", dir / "shot.####.png", "-o", dir / "key.####.png",
                                     "-j", "1", "--progress-interval", row.interval},
                                    dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::regex line(
            R"(kestrelumen: frame \d+, (\d)/5 \((\d+)%\), \d+\.\d fps, (\d+:\d\d|--:--) left)");
        std::istringstream lines(r.err);
        std::vector<std::string> got;
        for (std::string l; std::getline(lines, l);) got.push_back(l);
        ASSERT_EQ(got.size(), row.lines) << r.err;
        for (const std::string& l : got) EXPECT_TRUE(std::regex_match(l, line)) << l;
        EXPECT_EQ(got.back().rfind("kestrelumen: frame 5, 5/5 (100%)", 0), 0u) << got.back();
    }
}

}  // namespace

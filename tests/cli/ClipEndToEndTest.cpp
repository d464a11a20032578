// Video clips through the built tool. The clips are made here with the
// ffmpeg command, and what the tool writes is judged by ffprobe and ffmpeg,
// readers independent of the tool's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "ToolHarness.h"

namespace {

namespace fs = std::filesystem;
using clitest::FileImage;
using clitest::readFile;
using clitest::RunResult;
using clitest::runTool;
using clitest::TempDir;
using OIIO::TypeDesc;

enum Exit { OK = 0, BAD_INPUT = 2 };

RunResult runProgram(const TempDir& dir, const char* program, std::vector<std::string> args) {
    clitest::RunLimits limits;
    limits.executable = program;
    return runTool(args, dir.path(), limits);
}

void ffmpeg(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {"-v", "error", "-nostdin", "-y"});
    const RunResult r = runProgram(dir, "/usr/bin/ffmpeg", args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// One line of ffprobe's flat output per entry: "streams.stream.0.codec_name=..." etc.
std::string probe(const TempDir& dir, const std::string& file) {
    const RunResult r = runProgram(
        dir, "/usr/bin/ffprobe",
        {"-v", "error", "-count_packets", "-show_streams", "-show_format", "-of", "flat", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
}

// The value of `key=` in ffprobe's flat output, without quotes.
std::string value(const std::string& probed, const std::string& key) {
    const auto at = probed.find("\n" + key + "=");
    if (at == std::string::npos) return "";
    const auto start = at + key.size() + 2;
    std::string v = probed.substr(start, probed.find('\n', start) - start);
    if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
    return v;
}

bool has(const std::string& text, const std::string& line) {
    return text.find(line) != std::string::npos;
}

RunResult render(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), "render");
    args.insert(args.end(), {"--key", "#00b140", "--spill-amount", "1", "--spill-size", "0.5",
                             "--choke-opaque", "0.25", "--quiet"});
    return runTool(args, dir.path());
}

// A moving test pattern, `frames` frames at 24 fps, 64x48 unless `size`.
void makeClip(const TempDir& dir, const std::string& name, int frames,
              std::vector<std::string> encode, const std::string& size = "64x48") {
    std::vector<std::string> args = {
        "-f", "lavfi", "-i", "testsrc2=s=" + size + ":r=24", "-frames:v", std::to_string(frames)};
    args.insert(args.end(), encode.begin(), encode.end());
    args.push_back(dir / name);
    ffmpeg(dir, args);
}

const std::vector<std::string> H264 = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "8"};

void expectSameImage(const std::string& a, const std::string& b) {
    const FileImage x = readFile(a), y = readFile(b);
    ASSERT_EQ(x.width, y.width) << a << " vs " << b;
    ASSERT_EQ(x.height, y.height);
    ASSERT_EQ(x.nchannels, y.nchannels);
    ASSERT_EQ(x.format, y.format);
    EXPECT_TRUE(x.u == y.u && x.f == y.f) << a << " differs from " << b;
}

// RGBA frames of straight colour: the key, spill greens, colours, ramps,
// partial alpha. Written as PNG, then made into a lossless FFV1 clip.
void makeRgbaFrames(const TempDir& dir, int frames, bool deep) {
    constexpr int W = 32, H = 16;
    for (int f = 1; f <= frames; ++f) {
        std::vector<uint16_t> px(W * H * 4);
        for (int i = 0; i < W * H; ++i) {
            const unsigned v = (i * 2654435761u + f * 40503u) >> 8;
            px[4 * i + 0] = (v * 7) & 0xffff;
            px[4 * i + 1] = i % 3 == 0 ? 0xb1b1 : (v * 13) & 0xffff;
            px[4 * i + 2] = i % 5 == 0 ? 0x4040 : (v * 3) & 0xffff;
            px[4 * i + 3] = i % 4 == 0 ? 0xffff : (v * 11) & 0xffff;
        }
        char name[32];
        std::snprintf(name, sizeof name, "in.%04d.png", f);
        if (deep) {
            clitest::writeFile(dir / name, W, H, 4, px, TypeDesc::UINT16);
        } else {
            std::vector<uint8_t> px8(px.size());
            for (std::size_t i = 0; i < px.size(); ++i) px8[i] = px[i] >> 8;
            clitest::writeFile(dir / name, W, H, 4, px8, TypeDesc::UINT8);
        }
    }
}

TEST(ClipEndToEnd, LosslessRgbClipKeysBitForBitAsItsFramesDo) {
    struct Row {
        const char* name;
        bool deep;
        const char* pixFmt;      // of the source clip
        const char* decodedFmt;  // what ffmpeg decodes the output to, as PNG
    };
    const Row rows[] = {{"8-bit", false, "bgra", "rgba"},
                        {"16-bit", true, "gbrap16le", "rgba64be"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        makeRgbaFrames(dir, 3, row.deep);
        ffmpeg(dir, {"-start_number", "1", "-i", dir / "in.%04d.png", "-c:v", "ffv1", "-pix_fmt",
                     row.pixFmt, dir / "clip.mkv"});
        RunResult r = render(dir, {dir / "in.####.png", "-o", dir / "img.####.png"});
        ASSERT_EQ(r.exitCode, OK) << r.err;
        // Clip to clip, decoded by ffmpeg; and clip to images directly.
        r = render(dir, {dir / "clip.mkv", "-o", dir / "keyed.mkv"});
        ASSERT_EQ(r.exitCode, OK) << r.err;
        r = render(dir, {dir / "clip.mkv", "-o", dir / "seq.####.png"});
        ASSERT_EQ(r.exitCode, OK) << r.err;
        const std::string p = probe(dir, dir / "keyed.mkv");
        EXPECT_TRUE(has(p, "codec_name=\"ffv1\"")) << p;
        EXPECT_TRUE(has(p, std::string("pix_fmt=\"") + (row.deep ? "gbrap16le" : "bgra") + "\""))
            << p;
        ffmpeg(dir, {"-i", dir / "keyed.mkv", "-pix_fmt", row.decodedFmt, "-start_number", "1",
                     dir / "out.%04d.png"});
        for (const char* f : {"0001", "0002", "0003"}) {
            expectSameImage(dir / ("img." + std::string(f) + ".png"),
                            dir / ("out." + std::string(f) + ".png"));
            expectSameImage(dir / ("img." + std::string(f) + ".png"),
                            dir / ("seq." + std::string(f) + ".png"));
        }
        EXPECT_FALSE(fs::exists(dir / "out.0004.png"));
    }
}

// YUV footage reaches the plug-in as ffmpeg's own accurate conversion gives
// it when told the matrix and chroma siting the stream declares, or BT.601
// undeclared below HD, BT.709 from HD up, and chroma on the left sample as
// H.264 defines it (the ffmpeg command would take BT.601 and centred chroma
// whatever the size). Tolerance: 1 code in 8 bits, mean below 0.05.
TEST(ClipEndToEnd, YuvClipConvertsAsFfmpegDoes) {
    struct Row {
        const char* name;
        std::string size;
        std::vector<std::string> tags;
        const char* scale;  // what ffmpeg's scale filter is told
    };
    const Row rows[] = {
        {"declared BT.709, centred chroma",
         "64x48",
         {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709",
          "-color_range", "tv", "-chroma_sample_location", "center"},
         "in_color_matrix=bt709:in_h_chr_pos=128:in_v_chr_pos=128"},
        {"undeclared SD", "64x48", {}, "in_color_matrix=bt601:in_h_chr_pos=0:in_v_chr_pos=128"},
        {"undeclared HD", "1280x720", {}, "in_color_matrix=bt709:in_h_chr_pos=0:in_v_chr_pos=128"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        std::vector<std::string> enc = H264;
        enc.insert(enc.end(), row.tags.begin(), row.tags.end());
        makeClip(dir, "clip.mp4", 2, enc, row.size);
        const RunResult r =
            render(dir, {dir / "clip.mp4", "-o", dir / "tool.####.png", "--view", "source"});
        ASSERT_EQ(r.exitCode, OK) << r.err;
        ffmpeg(dir, {"-i", dir / "clip.mp4", "-vf",
                     std::string("scale=") + row.scale +
                         ":flags=accurate_rnd+full_chroma_int+full_chroma_inp,format=rgba",
                     "-start_number", "1", dir / "ref.%04d.png"});
        for (const char* f : {"0001", "0002"}) {
            const FileImage a = readFile(dir / ("tool." + std::string(f) + ".png"));
            const FileImage b = readFile(dir / ("ref." + std::string(f) + ".png"));
            ASSERT_EQ(a.u.size(), b.u.size());
            long sum = 0, worst = 0;
            for (std::size_t i = 0; i < a.u.size(); ++i) {
                const long d = std::labs(static_cast<long>(a.u[i]) - static_cast<long>(b.u[i]));
                sum += d;
                worst = std::max(worst, d);
            }
            EXPECT_LE(worst, 1) << f;
            EXPECT_LT(static_cast<double>(sum) / a.u.size(), 0.05) << f;
        }
    }
}

// A camera clip as delivered: timecode, title, audio. Keyed whole and as a
// range, to ProRes 4444 in .mov; to WebM, whose container cannot hold the
// AAC audio, with a warning naming it.
TEST(ClipEndToEnd, ClipKeepsRateTimecodeMetadataAndAudio) {
    TempDir dir;
    ffmpeg(dir, {"-f",
                 "lavfi",
                 "-i",
                 "testsrc2=s=64x48:r=24",
                 "-f",
                 "lavfi",
                 "-i",
                 "sine=frequency=440:sample_rate=48000",
                 "-t",
                 "0.5",
                 "-c:v",
                 "libx264",
                 "-pix_fmt",
                 "yuv420p",
                 "-c:a",
                 "aac",
                 "-timecode",
                 "01:00:00:00",
                 "-metadata",
                 "title=Take 7",
                 dir / "camera.mov"});
    const std::string audio =
        value(probe(dir, dir / "camera.mov"), "streams.stream.1.nb_read_packets");
    ASSERT_GT(std::stoi(audio), 20);
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int frames;
        const char* timecode;
    };
    const Row rows[] = {{"whole clip", {}, 12, "01:00:00:00"},
                        {"frames 4-9", {"--frames", "4-9"}, 6, "01:00:00:03"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args = {dir / "camera.mov", "-o", dir / "keyed.mov"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = render(dir, args);
        ASSERT_EQ(r.exitCode, OK) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string p = probe(dir, dir / "keyed.mov");
        for (const std::string& line :
             {std::string("streams.stream.0.codec_name=\"prores\""),
              std::string("profile=\"4444\""),
              // as ffprobe decodes it: 4:4:4 with alpha
              std::string("streams.stream.0.pix_fmt=\"yuva444p12le\""),
              std::string("streams.stream.0.r_frame_rate=\"24/1\""),
              "streams.stream.0.nb_read_packets=\"" + std::to_string(row.frames) + "\"",
              // BT.601, as an undeclared SD source is converted
              std::string("streams.stream.0.color_space=\"smpte170m\""),
              std::string("streams.stream.1.codec_name=\"aac\""),
              std::string("format.tags.title=\"Take 7\""),
              "tags.timecode=\"" + std::string(row.timecode) + "\""})
            EXPECT_TRUE(has(p, line)) << line << "\n" << p;
        // Every audio packet of the whole clip; about half of them for half its frames.
        const int packets = std::stoi("0" + value(p, "streams.stream.1.nb_read_packets"));
        if (row.frames == 12)
            EXPECT_EQ(std::to_string(packets), audio);
        else
            EXPECT_NEAR(packets, std::stoi(audio) / 2, 2);
    }
    const RunResult r = runTool({"render", dir / "camera.mov", "-o", dir / "keyed.webm", "--view",
                                 "alpha", "--frames", "1-2"},
                                dir.path());
    ASSERT_EQ(r.exitCode, OK) << r.err;
    EXPECT_TRUE(has(r.err, "audio stream #1 (aac) is dropped")) << r.err;
}

// Single frames of a clip: as one image (only when --frames names one),
// and a range far into the clip reached by seeking, equal to the same
// frames decoded from the start.
TEST(ClipEndToEnd, FramesOfAClip) {
    TempDir dir;
    makeClip(dir, "clip.mp4", 60, H264);
    RunResult r = render(dir, {dir / "clip.mp4", "-o", dir / "all.####.png"});
    ASSERT_EQ(r.exitCode, OK) << r.err;
    r = render(dir, {dir / "clip.mp4", "-o", dir / "part.####.png", "--frames", "57-58,3"});
    ASSERT_EQ(r.exitCode, OK) << r.err;
    EXPECT_EQ(dir.names().count("part.0056.png") + dir.names().count("part.0059.png"), 0u);
    for (const char* f : {"0003", "0057", "0058"})
        expectSameImage(dir / ("all." + std::string(f) + ".png"),
                        dir / ("part." + std::string(f) + ".png"));
    r = render(dir, {dir / "clip.mp4", "-o", dir / "one.png", "--frames", "40"});
    ASSERT_EQ(r.exitCode, OK) << r.err;
    expectSameImage(dir / "all.0040.png", dir / "one.png");
    // The key measured on the first frame keyed, and on one after it that
    // the reader must come back from, gives what that colour given does.
    for (const char* keyFrame : {"", "40"}) {
        SCOPED_TRACE(keyFrame);
        std::vector<std::string> args = {
            "render", dir / "clip.mp4", "-o", dir / "measured.png", "--frames",
            "3",      "--key-at",       "5,5"};
        if (*keyFrame) args.insert(args.end(), {"--key-frame", keyFrame});
        r = runTool(args, dir.path());
        ASSERT_EQ(r.exitCode, OK) << r.err;
        const std::string key = r.out.substr(r.out.find("key #") + 4, 7);
        r = runTool({"render", dir / "clip.mp4", "-o", dir / "given.png", "--frames", "3", "--key",
                     key, "--quiet"},
                    dir.path());
        ASSERT_EQ(r.exitCode, OK) << r.err;
        expectSameImage(dir / "given.png", dir / "measured.png");
    }
    EXPECT_FALSE(fs::exists(dir / "all.0061.png"));
    EXPECT_TRUE(fs::exists(dir / "all.0060.png"));
}

// Images to a clip: the frames' own rate, else 24 fps, unless --fps says,
// and the summary says which. The first frame's timecode and descriptive
// tags go into the clip with the command that made it; what a clip cannot
// hold of the files is named once.
TEST(ClipEndToEnd, SequenceToClip) {
    TempDir dir;
    makeRgbaFrames(dir, 3, false);
    for (int f = 1; f <= 3; ++f)
        ASSERT_EQ(std::system(("oiiotool --pattern constant:color=0.1,0.8,0.3,1,0.5 16x8 5 "
                               "--chnames R,G,B,A,Z --origin +4+2 --fullsize 32x16 -d half "
                               "--attrib:type=timecode smpte:TimeCode 01:00:10:0" +
                               std::to_string(f) +
                               " --attrib:type=rational FramesPerSecond 25/1 --attrib Copyright "
                               "Studio --attrib Comment Take3 -o " +
                               dir / ("exr." + std::to_string(f) + ".exr"))
                                  .c_str()),
                  0);
    struct Row {
        const char* input;
        std::vector<std::string> flags;
        const char* summary;
        std::vector<std::string> probed;  // lines of ffprobe's output
        std::vector<std::string> warned;  // texts on stderr
    };
    const Row rows[] = {
        {"in.####.png", {}, "24 fps (the default", {"r_frame_rate=\"24/1\""}, {}},
        {"in.####.png",
         {"--fps", "29.97"},
         "(30000/1001) (--fps)",
         {"r_frame_rate=\"30000/1001\""},
         {}},
        {"exr.#.exr",
         {},
         "25 fps (the frames' FramesPerSecond",
         {"r_frame_rate=\"25/1\"", "tags.timecode=\"01:00:10:01\"",
          "format.tags.copyright=\"Studio\"", "format.tags.software=\"kestrelumen "},
         {"channels Z of " + dir / "exr.1.exr" + " are dropped",
          "the data window 16x8 at (4,2) in the display window 32x16",
          "a clip has no place for Comment, Exif:ImageHistory of"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        std::vector<std::string> args = {"render", dir / row.input, "-o", dir / "clip.mov"};
        args.insert(args.end(), row.flags.begin(), row.flags.end());
        const RunResult r = runTool(args, dir.path());
        ASSERT_EQ(r.exitCode, OK) << r.err;
        EXPECT_TRUE(has(r.out, row.summary)) << r.out;
        const std::string p = probe(dir, dir / "clip.mov");
        EXPECT_TRUE(has(p, "nb_read_packets=\"3\"")) << p;
        for (const std::string& line : row.probed) EXPECT_TRUE(has(p, line)) << line << "\n" << p;
        for (const std::string& text : row.warned) {
            EXPECT_TRUE(has(r.err, text)) << text << "\n" << r.err;
            // Once, not once a frame.
            EXPECT_EQ(r.err.find(text), r.err.rfind(text)) << text;
        }
    }
}

// Clip and sequence ends through the frame pipeline: the same output with
// one frame in flight as with four; ffmpeg decodes the clips it compares.
TEST(ClipEndToEnd, SameOutputWhateverTheFramesInFlight) {
    TempDir dir;
    makeRgbaFrames(dir, 6, false);
    ffmpeg(dir, {"-start_number", "1", "-i", dir / "in.%04d.png", "-c:v", "ffv1", "-pix_fmt",
                 "bgra", dir / "clip.mkv"});
    struct Row {
        const char* name;
        const char* in;
        const char* out;
    };
    const Row rows[] = {{"clip to clip", "clip.mkv", "k.mkv"},
                        {"clip to sequence", "clip.mkv", "k.####.png"},
                        {"sequence to clip", "in.####.png", "k.mkv"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> frames[2];
        for (int run = 0; run < 2; ++run) {
            const RunResult r = render(dir, {dir / row.in, "-o", dir / row.out, "-j", "2",
                                             "--frames-in-flight", run ? "4" : "1"});
            ASSERT_EQ(r.exitCode, OK) << r.err;
            if (std::string(row.out) == "k.mkv")
                ffmpeg(dir, {"-i", dir / "k.mkv", "-pix_fmt", "rgba", "-start_number", "1",
                             dir / "k.%04d.png"});
            for (int f = 1; f <= 6; ++f) {
                char name[32];
                std::snprintf(name, sizeof name, "k.%04d.png", f);
                frames[run].push_back(clitest::slurp(dir / name));
                fs::remove(dir / name);
            }
        }
        EXPECT_EQ(frames[0], frames[1]);
    }
}

// SIGTERM in the middle of a clip: exit 143, no temporary, the earlier
// output untouched, one line saying nothing was written.
TEST(ClipEndToEnd, InterruptedClipLeavesNothing) {
    TempDir dir;
    makeClip(dir, "long.mp4", 240, H264, "640x360");
    std::ofstream(dir / "keyed.mov") << "an earlier render";
    const auto before = dir.snapshot();
    const clitest::SignalWhen term{
        SIGTERM, [&] { return has(clitest::slurp(dir / ".stderr"), "frame 3,"); }};
    const RunResult r = runTool({"render", dir / "long.mp4", "-o", dir / "keyed.mov", "--key",
                                 "#00b140", "--progress-interval", "0"},
                                dir.path(), {}, term);
    ASSERT_EQ(r.exitCode, 143) << r.err;
    EXPECT_TRUE(has(r.err, "keyed.mov was not written (a clip is kept only when complete)"))
        << r.err;
    EXPECT_EQ(dir.snapshot(), before);
}

// Bad clips and bad requests: one error naming the file (and the frame,
// where decoding failed), exit 2, and the folder as it was: no partial
// clip, an existing output untouched.
TEST(ClipEndToEnd, BadInputLosesNothing) {
    TempDir dir;
    makeClip(dir, "good.mp4", 24,
             {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-movflags", "+faststart"});
    // Matroska declares no frame count, only a duration.
    makeClip(dir, "good.mkv", 24, {"-c:v", "ffv1"});
    for (const char* ext : {".mp4", ".mkv"}) {
        const std::string bytes = clitest::slurp(dir / ("good" + std::string(ext)));
        std::ofstream(dir / ("cut" + std::string(ext)), std::ios::binary)
            << bytes.substr(0, bytes.size() * 2 / 3);
        std::string damaged = bytes;
        for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 600; ++i)
            damaged[i] = '\x5a';
        std::ofstream(dir / ("damaged" + std::string(ext)), std::ios::binary) << damaged;
    }
    ffmpeg(dir, {"-f", "lavfi", "-i", "sine", "-t", "0.2", dir / "sound.m4a"});
    ffmpeg(dir, {"-f", "lavfi", "-i", "testsrc2=s=64x48", "-frames:v", "0", "-c:v", "mpeg4",
                 dir / "empty.avi"});
    std::ofstream(dir / "keyed.mov") << "an earlier render";

    struct Row {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    };
    const Row rows[] = {
        {"truncated", {"@cut.mp4", "-o", "@keyed.mov"}, "cut.mp4: frame "},
        {"damaged", {"@damaged.mp4", "-o", "@keyed.mov"}, "damaged.mp4: frame "},
        {"truncated, no frame count",
         {"@cut.mkv", "-o", "@keyed.mov"},
         "cut.mkv: frame 16 is missing"},
        {"damaged, no frame count",
         {"@damaged.mkv", "-o", "@keyed.mov"},
         "damaged.mkv: frame 13 is missing"},
        {"no video stream", {"@sound.m4a", "-o", "@keyed.mov"}, "sound.m4a: has no video stream"},
        {"no frames", {"@empty.avi", "-o", "@keyed.mov"}, "empty.avi: the clip has no frames"},
        {"frame out of range",
         {"@good.mp4", "-o", "@keyed.mov", "--frames", "20-30"},
         "frames 1-24"},
        {"key frame out of range",
         {"@good.mkv", "-o", "@keyed.mov", "--key", "auto", "--key-frame", "30"},
         "--key-frame: frame 30 is outside"},
        {"clip to one image", {"@good.mp4", "-o", "@one.png"}, "--frames N"},
        {"codec without alpha", {"@good.mp4", "-o", "@keyed.mp4"}, "cannot hold alpha"},
        {"unknown codec",
         {"@good.mp4", "-o", "@keyed.mov", "--codec", "nosuch"},
         "--codec: 'nosuch'"},
        {"unknown codec option",
         {"@good.mp4", "-o", "@keyed.mov", "--codec-option", "bogus=1"},
         "--codec-option: 'bogus'"},
        {"codec for an image", {"@good.mp4", "-o", "@x.####.png", "--codec", "ffv1"}, "--codec"},
        {"fps for a clip", {"@good.mp4", "-o", "@keyed.mov", "--fps", "30"}, "--fps"},
        {"clip over itself",
         {"@good.mp4", "-o", "@good.mp4", "--view", "alpha"},
         "overwrite the input"},
    };
    const auto before = dir.snapshot();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args = {"render"};
        for (const std::string& a : row.args) args.push_back(a[0] == '@' ? dir / a.substr(1) : a);
        const RunResult r = runTool(args, dir.path());
        EXPECT_EQ(r.exitCode, BAD_INPUT) << r.err;
        EXPECT_TRUE(has(r.err, row.message)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(dir.snapshot(), before);
    }
}

}  // namespace

#include "cli/clip/ClipRender.h"

extern "C" {
#include <libavutil/parseutils.h>
}

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "cli/ExitCodes.h"
#include "cli/Keyer.h"
#include "cli/Progress.h"
#include "cli/RenderEquivalent.h"
#include "cli/Sequence.h"
#include "cli/clip/ClipProbe.h"
#include "cli/clip/ClipReader.h"
#include "cli/clip/ClipWriter.h"

namespace fs = std::filesystem;

namespace kcli {
namespace {

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

std::string rateText(AVRational r) {
    char buf[64];
    if (r.den == 1) std::snprintf(buf, sizeof buf, "%d fps", r.num);
    else std::snprintf(buf, sizeof buf, "%.3f fps (%d/%d)", av_q2d(r), r.num, r.den);
    return buf;
}

// Images numbered by a pattern, or one image, as frames for a clip.
struct ImageFrames {
    FramePattern pattern;
    std::vector<int> frames;
};

ImageFrames imageFrames(const RenderOptions& o) {
    ImageFrames in{FramePattern(o.input, "input"), {}};
    if (!in.pattern.isSequence()) {
        if (!o.frames.empty())
            throw Failure(EXIT_BAD_INPUT, "--frames: '" + o.input +
                                              "' has no frame-number placeholder (#### or %04d)");
        in.frames = {0};
        return in;
    }
    if (!o.frames.empty()) {
        in.frames = parseFrameList(o.frames);
    } else {
        const std::vector<int> onDisk = in.pattern.framesOnDisk();
        if (onDisk.empty()) throw Failure(EXIT_BAD_INPUT, o.input + ": no files match this sequence");
        for (int f = onDisk.front(); f <= onDisk.back(); ++f) in.frames.push_back(f);
    }
    std::vector<int> present;
    for (int f : in.frames) {
        std::error_code ec;
        if (fs::exists(in.pattern.path(f), ec)) present.push_back(f);
        else if (!o.skipMissing)
            throw Failure(EXIT_BAD_INPUT, in.pattern.path(f) + ": frame " + std::to_string(f) +
                                              " of the sequence is missing; use --skip-missing "
                                              "to key the others");
    }
    if (present.empty()) throw Failure(EXIT_BAD_INPUT, o.input + ": none of the requested frames exist");
    in.frames = present;
    return in;
}

}  // namespace

AVRational parseFrameRate(const std::string& text) {
    // The broadcast rates as people write them.
    if (text == "23.976" || text == "23.98") return {24000, 1001};
    if (text == "29.97") return {30000, 1001};
    if (text == "59.94") return {60000, 1001};
    AVRational r{0, 1};
    if (av_parse_video_rate(&r, text.c_str()) < 0 || r.num <= 0 || r.den <= 0 || av_q2d(r) > 1000)
        throw Failure(EXIT_BAD_INPUT, "--fps: '" + text +
                                          "' is not a frame rate (24, 25, 23.976, 30000/1001, ...)");
    return r;
}

bool involvesClip(const RenderOptions& o) {
    const FramePattern in(o.input, "input");
    const FramePattern out(o.output, "-o");
    return (!in.isSequence() && isClipFile(o.input)) || (!out.isSequence() && isClipName(o.output));
}

int runClipRender(const RenderOptions& o) {
    // Decoded and encoded frames are large and are freed on other threads
    // than the ones that allocated them. Past glibc's adaptive threshold they
    // pile up in per-thread heaps, and peak memory grew with the clip's
    // length (1.3 GB for 72 frames of 1080p). Mapping every buffer of 1 MB
    // or more on its own gives it back to the system when freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    const FramePattern in(o.input, "input");
    const FramePattern out(o.output, "-o");
    const bool clipIn = !in.isSequence() && isClipFile(o.input);
    const bool clipOut = !out.isSequence() && isClipName(o.output);
    const bool needsAlpha = !isMatteView(o.controls.view) && !o.over;
    if (!clipOut && (!o.codec.empty() || !o.codecOptions.empty()))
        throw Failure(EXIT_BAD_INPUT, std::string(o.codec.empty() ? "--codec-option" : "--codec") +
                                          ": '" + o.output + "' is not a clip (.mov, .mkv, .webm, ...)");
    if (clipIn && !o.fps.empty())
        throw Failure(EXIT_BAD_INPUT, "--fps: '" + o.input +
                                          "' is a clip; its own frame rate is kept");

    // The source: the clip, or the images.
    std::unique_ptr<ClipReader> clip;
    std::optional<ImageFrames> images;
    std::vector<int> frames;
    FileInfo info;
    AVRational rate{24, 1};
    if (clipIn) {
        clip = std::make_unique<ClipReader>(o.input, o.frames);
        frames = clip->frames();
        info = clip->info();
        rate = clip->facts().frameRate;
    } else {
        images = imageFrames(o);
        frames = images->frames;
        info = probeImage(images->pattern.path(frames.front()), o.read);
        if (!o.fps.empty()) rate = parseFrameRate(o.fps);
    }
    const Depth depth = o.depth ? *o.depth : info.depth;

    if (clipOut && clipIn && sameFile(o.input, o.output))
        throw Failure(EXIT_BAD_INPUT, "-o: '" + o.output + "' would overwrite the input '" + o.input + "'");
    if (!clipOut && !out.isSequence() && frames.size() != 1)
        throw Failure(EXIT_BAD_INPUT,
                      "-o: '" + o.output + "' is one image but " + o.input + " has " +
                          std::to_string(frames.size()) +
                          " frames; name one with --frames N, or write a sequence "
                          "(out.####.png) or a clip (.mov, .mkv, .webm)");
    if (!clipOut) checkOutputPath(out.path(frames.front()), needsAlpha, o.write);
    if (!clipOut)
        for (int f : frames)
            if (sameFile(o.input, out.path(f)))
                throw Failure(EXIT_BAD_INPUT, "-o: '" + out.path(f) + "' would overwrite the input '" +
                                                  o.input + "'");

    const int threads = o.threads > 0 ? o.threads : std::max(1u, std::thread::hardware_concurrency());
    Keyer keyer(o.plugin.empty() ? defaultPluginPath() : o.plugin, threads);
    Controls controls = o.controls;
    // A reader of its own for the measured frame, so the one that feeds the
    // frames still starts at the first.
    controls.key = resolveKey(
        o.key, frames.front(), [&](int f) { return clip ? clip->name(f) : images->pattern.path(f); },
        [&](int f) {
            return clip ? ClipReader(o.input, std::to_string(f)).read(f, depth)
                        : readImage(images->pattern.path(f), depth);
        },
        o.quiet);
    keyer.setControls(controls);
    WriteOptions imageWrite = o.write;
    imageWrite.software = softwareAttribute(o, controls);

    std::unique_ptr<ClipWriter> writer;
    if (clipOut) {
        ClipWriterOptions w;
        w.codec = o.codec;
        w.codecOptions = o.codecOptions;
        w.needsAlpha = needsAlpha;
        w.depth = depth;
        w.width = info.width;
        w.height = info.height;
        w.frameRate = rate;
        w.frames = frames;
        w.source = clip.get();
        writer = std::make_unique<ClipWriter>(o.output, w);
    }

    installInterruptCleanup();
    Progress progress(static_cast<int>(frames.size()), !o.quiet && frames.size() > 1);
    std::mutex progressMutex;  // warnings arrive from the reading and writing threads
    auto note = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(progressMutex);
        if (!o.quiet) progress.note("kestrelumen: warning: " + line);
    };
    if (clip) clip->onWarning(note);
    if (writer) writer->onWarning(note);
    auto read = [&](int f) {
        HostImage image = clip ? clip->read(f, depth) : readImage(images->pattern.path(f), depth, nullptr, o.read);
        if (image.width != info.width || image.height != info.height)
            throw Failure(EXIT_BAD_INPUT, images->pattern.path(f) + ": " +
                                              std::to_string(image.width) + "x" +
                                              std::to_string(image.height) +
                                              " differs from the first frame's " +
                                              std::to_string(info.width) + "x" +
                                              std::to_string(info.height));
        return image;
    };
    auto write = [&](int f, const HostImage& keyed) {
        if (writer) {
            writer->write(f, keyed);
        } else {
            std::string warning;
            writeImage(out.path(f), keyed, imageWrite, &warning);
            if (!warning.empty()) note(warning);
        }
    };
    // Decoding runs a frame ahead on a thread of its own and encoding a
    // frame behind on another, so the three overlap with three frames in
    // memory. Each side still sees its frames one at a time, in order.
    std::future<HostImage> reading;
    std::future<void> writing;
    auto settle = [&] {
        if (reading.valid()) reading.wait();
        if (writing.valid()) writing.wait();
    };
    try {
        reading = std::async(std::launch::async, read, frames.front());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const int f = frames[i];
            HostImage image = reading.get();
            if (i + 1 < frames.size()) reading = std::async(std::launch::async, read, frames[i + 1]);
            HostImage keyed = keyer.render(std::move(image), f);
            if (o.over) compositeOver(keyed, *o.over, f);
            if (writing.valid()) {
                writing.get();
                std::lock_guard<std::mutex> lock(progressMutex);
                progress.frameDone(frames[i - 1]);
            }
            writing = std::async(std::launch::async,
                                 [&write, f](HostImage done) { write(f, done); }, std::move(keyed));
        }
        writing.get();
        progress.frameDone(frames.back());
        if (writer) writer->finish();
    } catch (...) {
        settle();
        if (writer) writer->abort();
        throw;
    }
    progress.finish();

    if (!o.quiet) {
        std::string what = std::to_string(frames.size()) + (frames.size() == 1 ? " frame" : " frames");
        std::string detail = std::to_string(info.width) + "x" + std::to_string(info.height) + ", " +
                             depthName(depth) + ", view " + viewName(o.controls.view);
        if (writer) {
            detail += ", " + writer->codecSummary() + ", " + rateText(rate);
            if (!clipIn) detail += o.fps.empty() ? " (the default; --fps to choose)" : " (--fps)";
        }
        std::printf("wrote %s to %s (%s)\n", what.c_str(), o.output.c_str(), detail.c_str());
    }
    return EXIT_OK;
}

}  // namespace kcli

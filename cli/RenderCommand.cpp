#include "cli/RenderCommand.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/Keyer.h"
#include "cli/Progress.h"
#include "cli/RenderEquivalent.h"
#include "cli/Sequence.h"
#include "cli/clip/ClipOptions.h"
#include "cli/pipeline/ImageSequenceSink.h"
#include "cli/pipeline/ImageSequenceSource.h"
#include "cli/pipeline/Interrupt.h"
#include "cli/pipeline/Pipeline.h"
#include "cli/pipeline/RunPlan.h"

namespace fs = std::filesystem;

namespace kcli {
namespace {

// The same file under two spellings must compare equal, whether or not the
// output exists yet.
std::string identity(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal().string() : p.string();
}

std::vector<int> chooseFrames(const FramePattern& in, const RenderOptions& o) {
    if (!in.isSequence()) {
        if (!o.frames.empty())
            throw Failure(EXIT_BAD_INPUT, "--frames: '" + o.input +
                                              "' has no frame-number placeholder (#### or %04d)");
        return {0};
    }
    if (!o.frames.empty()) return parseFrameList(o.frames);
    const std::vector<int> onDisk = in.framesOnDisk();
    if (onDisk.empty()) throw Failure(EXIT_BAD_INPUT, o.input + ": no files match this sequence");
    // From the first frame on disk to the last, so a gap is noticed rather
    // than silently closed up.
    std::vector<int> frames;
    for (int f = onDisk.front(); f <= onDisk.back(); ++f) frames.push_back(f);
    return frames;
}

std::string frameListText(const std::vector<int>& frames) {
    std::string text;
    for (std::size_t i = 0; i < frames.size() && i < 5; ++i)
        text += (i ? ", " : "") + std::to_string(frames[i]);
    if (frames.size() > 5) text += ", ... (" + std::to_string(frames.size()) + " in all)";
    return text;
}

// The frames to key, every one of them on disk: a sequence with a hole
// fails at once instead of after hours of rendering, unless --skip-missing.
std::vector<int> presentFrames(const FramePattern& in, const RenderOptions& o) {
    const std::vector<int> frames = chooseFrames(in, o);
    std::vector<int> missing;
    std::vector<int> present;
    for (int f : frames) {
        std::error_code ec;
        (fs::exists(in.path(f), ec) ? present : missing).push_back(f);
    }
    if (missing.empty() || !in.isSequence()) return frames;
    if (!o.skipMissing)
        throw Failure(EXIT_BAD_INPUT,
                      in.path(missing.front()) + ": frame " + std::to_string(missing.front()) +
                          " of the sequence is missing (missing frames: " + frameListText(missing) +
                          "); use --skip-missing to key the others");
    if (present.empty())
        throw Failure(EXIT_BAD_INPUT, o.input + ": none of the requested frames exist");
    std::fprintf(stderr, "kestrelumen: warning: skipping %zu missing frame%s: %s\n", missing.size(),
                 missing.size() == 1 ? "" : "s", frameListText(missing).c_str());
    return present;
}

// By name, and by file identity for an existing output, which catches a
// hard link to an input too.
void checkNoOverwrite(const std::vector<std::string>& inputFiles,
                      const std::vector<std::string>& outputFiles) {
    std::map<std::string, std::string> inputs;
    std::map<std::pair<dev_t, ino_t>, std::string> inodes;
    for (const std::string& path : inputFiles) {
        inputs.emplace(identity(path), path);
        struct stat st;
        if (::stat(path.c_str(), &st) == 0)
            inodes.emplace(std::make_pair(st.st_dev, st.st_ino), path);
    }
    for (const std::string& path : outputFiles) {
        auto hit = inputs.find(identity(path));
        std::string clash = hit != inputs.end() ? hit->second : std::string();
        struct stat st;
        if (clash.empty() && ::stat(path.c_str(), &st) == 0) {
            const auto same = inodes.find(std::make_pair(st.st_dev, st.st_ino));
            if (same != inodes.end()) clash = same->second;
        }
        if (!clash.empty())
            throw Failure(EXIT_BAD_INPUT,
                          "-o: '" + path + "' would overwrite the input '" + clash + "'");
    }
}

}  // namespace

int runRender(const RenderOptions& o) {
    // Before anything reads the input as a picture: the image reader would
    // take a movie's first frame and carry on as if that were all of it.
    const ClipEnds clips = clipEnds(o);
    checkClipFlags(o, clips);
    const FramePattern in(o.input, "input");
    const FramePattern out(o.output, "-o");
    if (!clips.in && !clips.out && in.isSequence() != out.isSequence())
        throw Failure(EXIT_BAD_INPUT,
                      "-o: '" + o.output + "' and the input '" + o.input +
                          "' must both name a sequence (with #### or %04d) or both a single file");
    if (clips.in || clips.out)
        // Decoded and encoded frames are large and freed on other threads
        // than the ones that allocated them. Past glibc's adaptive threshold
        // they pile up in per-thread heaps, and peak memory grew with the
        // clip's length (1.3 GB for 72 frames of 1080p). Mapping every buffer
        // of 1 MB or more on its own gives it back to the system when freed.
        mallopt(M_MMAP_THRESHOLD, 1 << 20);

    std::unique_ptr<ClipReader> clip;
    std::unique_ptr<ImageSequenceSource> images;
    std::vector<int> frames;
    std::vector<std::string> inputFiles;
    if (clips.in) {
        clip = std::make_unique<ClipReader>(o.input, o.frames);
        frames = clip->frames();
        inputFiles = {o.input};
    } else {
        frames = presentFrames(in, o);
        for (int f : frames) inputFiles.push_back(in.path(f));
    }
    if (!clips.out && !out.isSequence() && frames.size() != 1)
        throw Failure(EXIT_BAD_INPUT, "-o: '" + o.output + "' is one image but " + o.input +
                                          " has " + std::to_string(frames.size()) +
                                          " frames; name one with --frames N, or write a sequence "
                                          "(out.####.png) or a clip (.mov, .mkv, .webm)");
    std::vector<std::string> outputFiles;
    if (clips.out)
        outputFiles = {o.output};
    else
        for (int f : frames) outputFiles.push_back(out.path(f));
    checkNoOverwrite(inputFiles, outputFiles);

    const int view = o.controls.view;
    if (!clips.out)
        checkOutputPath(out.path(frames.front()), !isMatteView(view) && !o.over, o.write);

    if (!clip)
        images = std::make_unique<ImageSequenceSource>(in, frames, o.depth.has_value(), o.read);
    FrameSource& source = clip ? static_cast<FrameSource&>(*clip) : *images;
    // The outputs already there; the sink that writes comes once the key is
    // known, as every file names it.
    const ImageSequenceSink existingOutputs(out);
    const FileInfo first = source.info();
    const Depth depth = o.depth ? *o.depth : first.depth;

    // The source keeps every requested frame, so the first of them decides
    // the depth of a resumed run as it did of the first run.
    std::vector<int> todo;
    for (int f : frames)
        if (!o.skipExisting || !existingOutputs.hasFrame(f)) todo.push_back(f);
    const std::size_t existing = frames.size() - todo.size();
    if (todo.empty()) {
        if (!o.quiet)
            std::printf("nothing to do: all %zu frame%s of %s exist\n", frames.size(),
                        frames.size() == 1 ? "" : "s", o.output.c_str());
        return EXIT_OK;
    }
    // From the first frame asked for, not the first left to do, so a resumed
    // run keys with the colour the first run found. A clip's reader gives
    // the frame it decoded last again, so the run starts without decoding
    // the first frame twice.
    Controls controls = o.controls;
    controls.key = resolveKey(
        o.key, frames.front(), [&](int f) { return source.name(f); },
        [&](int f) {
            if (clip && (f < 1 || f > clip->facts().frameCount))
                throw Failure(EXIT_BAD_INPUT, "--key-frame: frame " + std::to_string(f) +
                                                  " is outside " + o.input + "'s frames 1-" +
                                                  std::to_string(clip->facts().frameCount));
            return source.read(f, depth);
        },
        o.quiet);
    WriteOptions write = o.write;
    write.software = softwareAttribute(o, controls);
    std::unique_ptr<FrameSink> sink;
    if (!clips.out) sink = std::make_unique<ImageSequenceSink>(out, write);

    // The source view promises the input back, and a 16-bit file is the one
    // case where the host's own format cannot keep that promise exactly.
    if (view == kestrelumen::VIEW_SOURCE && depth == Depth::U16 && first.depth == Depth::U16 &&
        !o.quiet)
        std::fprintf(stderr,
                     "kestrelumen: note: %s: the host's 16-bit pixels have 32769 codes (0..32768), "
                     "so a 16-bit file's lowest bit does not survive, even in the source view "
                     "(file values come back within 1); --depth 32 keeps every value\n",
                     source.name(frames.front()).c_str());

    const RunPlan plan = planRun(o.threads, o.framesInFlight, todo.size());
    Keyer keyer(o.plugin.empty() ? defaultPluginPath() : o.plugin, plan.hostThreads,
                plan.settings.keysAtOnce);
    keyer.setControls(controls);
    PipelineSettings settings = plan.settings;
    settings.depth = depth;

    // Before the clip's temporary exists, so that no signal can leave it.
    const InterruptWatch interrupts;
    ClipWriter* clipSink = nullptr;
    if (clips.out) {
        auto writer =
            openClipOutput(o, first, depth, todo, clip.get(),
                           clip ? std::string() : source.name(todo.front()), write.software);
        clipSink = writer.get();
        sink = std::move(writer);
    }
    Progress progress(static_cast<int>(todo.size()),
                      (in.isSequence() || todo.size() > 1) && !o.quiet, o.progressInterval);
    const WarningHandler note = [&](const std::string& line) {
        if (!o.quiet) progress.note("kestrelumen: warning: " + line);
    };
    source.onWarning(note);
    sink->onWarning(note);
    const PipelineResult result = runPipeline(
        source, *sink, todo,
        [&](HostImage image, int f) {
            HostImage keyed = keyer.render(std::move(image), f);
            if (o.over) compositeOver(keyed, *o.over, f);
            return keyed;
        },
        settings, [&](int f) { progress.frameDone(f); });
    progress.finish();

    if (result.signal) {
        // One line, whatever --quiet says: the run did not do what was asked.
        if (clips.out)
            std::fprintf(stderr,
                         "kestrelumen: interrupted after %d of %zu frames; %s was not written (a "
                         "clip is kept only when complete); run the same command again\n",
                         result.written, todo.size(), o.output.c_str());
        else
            std::fprintf(stderr,
                         "kestrelumen: interrupted: %d of %zu frames written to %s; to resume, run "
                         "the same command%s\n",
                         result.written + static_cast<int>(existing), frames.size(),
                         o.output.c_str(), o.skipExisting ? " again" : " with --skip-existing");
        return exitCodeForSignal(result.signal);
    }

    if (!o.quiet) {
        std::string detail = std::to_string(first.width) + "x" + std::to_string(first.height) +
                             ", " + depthName(depth) + ", view " + viewName(view);
        if (clipSink) detail += ", " + clipOutputSummary(*clipSink);
        const std::string already =
            existing ? ", " + std::to_string(existing) + " already there" : std::string();
        if (todo.size() == 1 && !clips.out && !out.isSequence())
            std::printf("wrote %s (%s)\n", o.output.c_str(), detail.c_str());
        else
            std::printf("wrote %zu frame%s to %s (%s)%s\n", todo.size(),
                        todo.size() == 1 ? "" : "s", o.output.c_str(), detail.c_str(),
                        already.c_str());
    }
    return EXIT_OK;
}

}  // namespace kcli

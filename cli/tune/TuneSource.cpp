#include "cli/tune/TuneSource.h"

#include <cstdio>
#include <filesystem>

#include "cli/ExitCodes.h"
#include "cli/Sequence.h"
#include "cli/clip/ClipProbe.h"
#include "cli/clip/ClipReader.h"
#include "cli/pipeline/ImageSequenceSource.h"

namespace kcli {
namespace {

std::vector<int> chooseFrames(const FramePattern& in, const std::string& input,
                              const std::string& list) {
    if (!in.isSequence()) {
        if (!list.empty())
            throw Failure(EXIT_BAD_INPUT, "--frames: '" + input +
                                              "' has no frame-number placeholder (#### or %04d)");
        std::error_code ec;
        if (!std::filesystem::exists(input, ec))
            throw Failure(EXIT_BAD_INPUT, input + ": no such file");
        return {0};
    }
    const std::vector<int> onDisk = in.framesOnDisk();
    if (list.empty()) {
        if (onDisk.empty()) throw Failure(EXIT_BAD_INPUT, input + ": no files match this sequence");
        // The page offers what there is to look at; a gap is said once.
        const int span = onDisk.back() - onDisk.front() + 1;
        if (span != static_cast<int>(onDisk.size()))
            std::fprintf(stderr,
                         "kestrelumen: warning: %s: %d frames of %d..%d are missing; the page "
                         "offers the %zu there are\n",
                         input.c_str(), span - static_cast<int>(onDisk.size()), onDisk.front(),
                         onDisk.back(), onDisk.size());
        return onDisk;
    }
    std::vector<int> frames = parseFrameList(list);
    for (int f : frames) {
        std::error_code ec;
        if (!std::filesystem::exists(in.path(f), ec))
            throw Failure(EXIT_BAD_INPUT,
                          in.path(f) + ": frame " + std::to_string(f) + " of --frames is missing");
    }
    return frames;
}

}  // namespace

FrameCache::Opener tuneSourceOpener(const std::string& input, const std::string& list,
                                    bool depthForced) {
    if (isClipFile(input))
        return [input, list]() -> std::unique_ptr<FrameSource> {
            return std::make_unique<ClipReader>(input, list);
        };
    FramePattern pattern(input, "input");
    std::vector<int> frames = chooseFrames(pattern, input, list);
    return [pattern, frames, depthForced]() -> std::unique_ptr<FrameSource> {
        return std::make_unique<ImageSequenceSource>(pattern, frames, depthForced);
    };
}

}  // namespace kcli

#include "cli/clip/ClipOptions.h"

extern "C" {
#include <libavutil/parseutils.h>
}

#include <cstdio>

#include "cli/ExitCodes.h"
#include "cli/Sequence.h"
#include "cli/clip/ClipProbe.h"
#include "cli/image/ReadImage.h"

namespace kcli {
namespace {

std::string rateText(AVRational r) {
    char buf[64];
    if (r.den == 1)
        std::snprintf(buf, sizeof buf, "%d fps", r.num);
    else
        std::snprintf(buf, sizeof buf, "%.3f fps (%d/%d)", av_q2d(r), r.num, r.den);
    return buf;
}

}  // namespace

ClipEnds clipEnds(const RenderOptions& o) {
    ClipEnds ends;
    ends.in = !FramePattern(o.input, "input").isSequence() && isClipFile(o.input);
    ends.out = !FramePattern(o.output, "-o").isSequence() && isClipName(o.output);
    return ends;
}

void checkClipFlags(const RenderOptions& o, ClipEnds ends) {
    if (!ends.out && (!o.codec.empty() || !o.codecOptions.empty()))
        throw Failure(EXIT_BAD_INPUT, std::string(o.codec.empty() ? "--codec-option" : "--codec") +
                                          ": '" + o.output +
                                          "' is not a clip (.mov, .mkv, .webm, ...)");
    if (ends.in && !o.fps.empty())
        throw Failure(EXIT_BAD_INPUT,
                      "--fps: '" + o.input + "' is a clip; its own frame rate is kept");
    if (!ends.out && !o.fps.empty())
        throw Failure(EXIT_BAD_INPUT,
                      "--fps: '" + o.output + "' is not a clip (.mov, .mkv, .webm, ...)");
    if (!o.fps.empty()) parseFrameRate(o.fps);
    if (ends.out && o.skipExisting)
        throw Failure(EXIT_BAD_INPUT, "--skip-existing: '" + o.output +
                                          "' is a clip, written whole or not at all, so there "
                                          "are no frames of it to skip");
}

AVRational parseFrameRate(const std::string& text) {
    // The broadcast rates as people write them.
    if (text == "23.976" || text == "23.98") return {24000, 1001};
    if (text == "29.97") return {30000, 1001};
    if (text == "59.94") return {60000, 1001};
    AVRational r{0, 1};
    if (av_parse_video_rate(&r, text.c_str()) < 0 || r.num <= 0 || r.den <= 0 || av_q2d(r) > 1000)
        throw Failure(
            EXIT_BAD_INPUT,
            "--fps: '" + text + "' is not a frame rate (24, 25, 23.976, 30000/1001, ...)");
    return r;
}

std::unique_ptr<ClipWriter> openClipOutput(const RenderOptions& o, const FileInfo& info,
                                           Depth depth, const std::vector<int>& frames,
                                           const ClipReader* source, const std::string& firstImage,
                                           const std::string& software) {
    ClipWriterOptions w;
    w.codec = o.codec;
    w.codecOptions = o.codecOptions;
    w.needsAlpha = !isMatteView(o.controls.view) && !o.over;
    w.depth = depth;
    w.width = info.width;
    w.height = info.height;
    if (!source) w.images = imagesInClip(probeImageHeader(firstImage, o.read));
    if (source) {
        w.frameRate = source->facts().frameRate;
    } else if (!o.fps.empty()) {
        w.frameRate = parseFrameRate(o.fps);
        w.rateOrigin = " (--fps)";
    } else if (w.images.rate.num > 0) {
        w.frameRate = w.images.rate;
        w.rateOrigin = " (the frames' FramesPerSecond; --fps to choose)";
    } else {
        w.frameRate = {24, 1};
        w.rateOrigin = " (the default; --fps to choose)";
    }
    w.frames = frames;
    w.source = source;
    w.software = software;
    return std::make_unique<ClipWriter>(o.output, w);
}

std::string clipOutputSummary(const ClipWriter& writer) {
    return writer.codecSummary() + ", " + rateText(writer.frameRate()) + writer.rateOrigin();
}

}  // namespace kcli

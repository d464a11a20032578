// kestrelumen: keys image files with the Kestrelumen plug-in binary, exactly
// as the host would render them, and describes the plug-in.
#include <CLI/CLI.hpp>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "cli/ControlFlags.h"
#include "cli/ExitCodes.h"
#include "cli/Info.h"
#include "cli/RenderCommand.h"
#include "cli/SettingsFile.h"
#include "cli/clip/ClipFormats.h"
#include "cli/key/Composite.h"
#include "cli/key/PickCommand.h"
#include "cli/preview/PreviewCommand.h"
#include "cli/tune/TuneCommand.h"

using namespace kcli;

namespace {

int run(int argc, char** argv) {
    CLI::App app{"Keys green- and blue-screen images with the Kestrelumen plug-in.", "kestrelumen"};
    app.footer(EXIT_CODES_HELP);
    app.require_subcommand(1);
    app.set_version_flag("--version", "kestrelumen " KESTRELUMEN_VERSION);
    app.set_help_all_flag("--help-all", "Print the help of every subcommand and exit");

    // Commands registered by their own files run from their callbacks and
    // leave their exit code here.
    int commandExit = -1;
    addPickCommand(app, commandExit);
    addPreviewCommand(app, commandExit);
    addTuneCommand(app, commandExit);

    RenderOptions ro;
    ControlFlags rf;
    std::string depth, over, compression;
    bool straight = false, premultiply = false;
    CLI::App* render = app.add_subcommand(
        "render",
        "Key IN and write OUT. IN may be a numbered sequence such as shot.####.exr or "
        "shot.%04d.exr, or a video clip; OUT may be an image, a sequence or a clip.");
    render->add_option("IN", ro.input, "Input image, sequence or clip")->required();
    render
        ->add_option("-o,--output", ro.output,
                     "Output image or sequence (.png, .tif, .exr), or clip (.mov, .mkv, .webm)")
        ->required();
    addControlFlags(render, rf, true);
    render->add_option("--over", over,
                       "Composite the keyed view over BG and write it opaque: an image, a "
                       "sequence numbered as the input (bg.####.png), #rrggbb or checker");
    render->add_option("--depth", depth,
                       "Render at 8, 16 or 32 (float) bits whatever the file holds");
    render->add_option("--compression", compression,
                       "Output codec, METHOD or METHOD:LEVEL: EXR none, rle, zips, zip, piz, "
                       "pxr24, b44, b44a, dwaa, dwab (dwaa:45); TIFF none, lzw, zip, packbits; "
                       "PNG zip:0..9 or none; DPX none (default: the input's own for an "
                       "output of its format, else the format's)");
    render->add_option("--layer", ro.read.layer,
                       "Key this layer's R, G, B, A (e.g. beauty for beauty.R); default the "
                       "unnamed layer, else the only one with colour");
    render->add_option("--part", ro.read.part,
                       "Key this part of a multi-part EXR, by name or index; the others are "
                       "copied (default: the first with colour)");
    CLI::Option* straightFlag = render->add_flag(
        "--straight", straight, "Write TIFF colour straight (unassociated), the default for TIFF");
    render
        ->add_flag("--premultiply", premultiply,
                   "Write TIFF colour premultiplied by alpha (EXR always is, PNG never)")
        ->excludes(straightFlag);
    render->add_option("--frames", ro.frames,
                       "Frames of a sequence or clip (a clip's are numbered from 1): FIRST-LAST, "
                       "N, or a comma list; default every frame (of a sequence, from the first "
                       "to the last on disk)");
    render->add_flag("--skip-missing", ro.skipMissing,
                     "Key the frames that exist when some of a sequence are missing "
                     "(default: stop before rendering)");
    render->add_option("--codec", ro.codec,
                       "Video encoder of a clip output (default: the container's, see below)");
    render
        ->add_option("--codec-option", ro.codecOptions,
                     "KEY=VALUE passed to the clip encoder (repeatable), e.g. profile=4444xq")
        ->allow_extra_args(false);
    render->add_option("--fps", ro.fps,
                       "Frame rate of a clip made from images: 24, 25, 23.976, 30000/1001, ... "
                       "(default 24)");
    render->add_option("-j,--threads", ro.threads,
                       "Threads that read, key and write frames (default: all cores)");
    render->add_option("--frames-in-flight", ro.framesInFlight,
                       "Frames held in memory at once, each between its read and its write "
                       "(default: one more than the threads)");
    render->add_flag("--skip-existing", ro.skipExisting,
                     "Key only the frames whose output does not exist yet, to resume an "
                     "interrupted run (outputs are renamed into place only when complete)");
    render
        ->add_option("--progress-interval", ro.progressInterval,
                     "Seconds between progress lines when stderr is not a terminal")
        ->capture_default_str();
    render->add_option("--plugin", ro.plugin,
                       "Plug-in library to load (default: the one built with this tool)");
    render->add_flag("-q,--quiet", ro.quiet, "No progress bar and no summary");
    std::string settingsFile;
    render->add_option("--settings", settingsFile,
                       "Controls from a JSON file (as the tune page saves it); flags given "
                       "here override it");

    std::string infoPlugin;
    CLI::App* info = app.add_subcommand(
        "info", "Describe the plug-in: About text, parameters, version, flags, registration");
    render->footer(
        std::string("Examples:\n"
                    "  kestrelumen render plate.png -o keyed.png --key auto --spill-amount 0.8\n"
                    "  kestrelumen render shot.####.exr -o matte.####.exr --frames 1-240 \\\n"
                    "      --key '#178e2f' --choke-opaque 0.5 --view alpha\n"
                    "  kestrelumen render greenscreen.mp4 -o keyed.mov --key auto\n"
                    "  kestrelumen render plate.png -o judge.png --key-at 40,30 --over checker\n"
                    "  kestrelumen render greenscreen.mp4 -o frame.png --frames 12\n\n"
                    "Clips: read from every container and codec of FFmpeg's libraries\n"
                    "(MP4, MOV, MKV, WebM, AVI, MXF, ...), frames numbered from 1. Written\n"
                    "by the output's extension, with this default codec:\n") +
        clipFormatsHelp() + "\n" + EXIT_CODES_HELP);
    info->footer(EXIT_CODES_HELP);
    info->add_option("PLUGIN", infoPlugin,
                     "Plug-in library (default: the one built with this tool)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        // The help of the command asked about ("kestrelumen render --help").
        return app.exit(e);
    } catch (const CLI::CallForAllHelp&) {
        std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
        return EXIT_OK;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return EXIT_OK;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "kestrelumen: error: %s (see kestrelumen --help)\n", e.what());
        return EXIT_BAD_INPUT;
    }

    if (commandExit >= 0) return commandExit;
    if (*info) return runInfo(infoPlugin);

    if (!settingsFile.empty())
        applySettings(*render, readSettingsFile(settingsFile), rf.controls, rf.key, rf.view);

    ro.key = rf.finish();
    ro.controls = rf.controls;
    if (!over.empty()) ro.over = parseBackground(over);
    if (!depth.empty()) ro.depth = parseDepthFlag(depth);
    if (!compression.empty()) ro.write.compression = parseCompression(compression);
    if (straight) ro.write.alpha = AlphaStorage::Straight;
    if (premultiply) ro.write.alpha = AlphaStorage::Premultiplied;
    ro.write.depth = ro.depth;
    if (ro.threads < 0 || ro.threads > 1024)
        throw Failure(EXIT_BAD_INPUT, "--threads: " + std::to_string(ro.threads) +
                                          " is outside 1..1024 (0 or no flag: all cores)");
    if (ro.framesInFlight < 0 || ro.framesInFlight > 1024)
        throw Failure(EXIT_BAD_INPUT, "--frames-in-flight: " + std::to_string(ro.framesInFlight) +
                                          " is outside 1..1024 (0 or no flag: from the threads)");
    if (!(ro.progressInterval >= 0 && ro.progressInterval <= 86400))
        throw Failure(EXIT_BAD_INPUT, "--progress-interval: must be 0..86400 seconds");
    return runRender(ro);
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit or quota reached while writing must come back as a
    // failed write (EFBIG), which is reported and cleaned up, not as a signal
    // that kills the tool and leaves its temporary file behind.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        std::fprintf(stderr, "kestrelumen: error: %s\n", f.what());
        return f.code();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kestrelumen: error: out of memory\n");
        return EXIT_IO;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrelumen: internal error: %s\n", e.what());
        return EXIT_INTERNAL;
    }
}

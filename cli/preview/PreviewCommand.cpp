#include "cli/preview/PreviewCommand.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/ControlFlags.h"
#include "cli/ExitCodes.h"
#include "cli/Keyer.h"
#include "cli/Sequence.h"
#include "cli/key/Composite.h"
#include "cli/preview/Sheet.h"

namespace kcli {
namespace {

struct PreviewOptions {
    std::string input, output, plugin, panels = "source,over,alpha,spill";
    std::optional<int> frame;
    int width = 1920;
    int threads = 0;
    ControlFlags flags;
};

enum class PanelKind { Source, Over, Alpha, Spill };

std::vector<PanelKind> parsePanels(const std::string& text) {
    std::vector<PanelKind> kinds;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string name = text.substr(start, comma - start);
        if (name == "source")
            kinds.push_back(PanelKind::Source);
        else if (name == "over")
            kinds.push_back(PanelKind::Over);
        else if (name == "alpha")
            kinds.push_back(PanelKind::Alpha);
        else if (name == "spill")
            kinds.push_back(PanelKind::Spill);
        else
            throw Failure(EXIT_BAD_INPUT,
                          "--panels: '" + name + "' is not a picture (source, over, alpha, spill)");
        start = comma + 1;
    }
    return kinds;
}

int runPreview(PreviewOptions& o) {
    const KeyChoice choice = o.flags.finish();
    const std::vector<PanelKind> kinds = parsePanels(o.panels);
    if (o.width < 16 || o.width > 16384)
        throw Failure(EXIT_BAD_INPUT,
                      "--width: " + std::to_string(o.width) + " is outside 16..16384");
    if (o.threads < 0 || o.threads > 1024)
        throw Failure(EXIT_BAD_INPUT, "--threads: " + std::to_string(o.threads) +
                                          " is outside 1..1024 (0 or no flag: all cores)");
    const FramePattern in(o.input, "input");
    const int frame = chooseOneFrame(in, o.frame);
    const std::string path = in.path(frame);
    std::error_code ec;
    if (std::filesystem::equivalent(path, o.output, ec))
        throw Failure(EXIT_BAD_INPUT,
                      "-o: '" + o.output + "' would overwrite the input '" + path + "'");
    checkOutputPath(o.output, false);

    const HostImage source = readImage(path);
    Controls controls = o.flags.controls;
    controls.key = resolveKey(
        choice, frame, [&](int f) { return in.path(f); },
        [&](int f) { return f == frame ? source : readImage(in.path(f), source.depth); }, false);

    const int threads =
        o.threads > 0 ? o.threads : std::max(1u, std::thread::hardware_concurrency());
    Keyer keyer(o.plugin.empty() ? defaultPluginPath() : o.plugin, threads);
    auto keyed = [&](int view) {
        controls.view = view;
        keyer.setControls(controls);
        return keyer.render(source, frame);
    };
    const std::string key = hexText(controls.key);
    std::vector<HostImage> images;
    std::vector<std::string> labels;
    images.reserve(kinds.size());
    for (PanelKind k : kinds) {
        switch (k) {
            case PanelKind::Source:
                images.push_back(source);
                labels.push_back("source");
                break;
            case PanelKind::Over:
                images.push_back(keyed(4));
                compositeOver(images.back(), Background{}, frame);
                labels.push_back("key " + key + " over checker");
                break;
            case PanelKind::Alpha:
                images.push_back(keyed(2));
                labels.push_back("alpha matte");
                break;
            case PanelKind::Spill:
                images.push_back(keyed(3));
                labels.push_back("spill matte");
                break;
        }
    }
    std::vector<Panel> panels;
    for (std::size_t i = 0; i < images.size(); ++i) panels.push_back({labels[i], &images[i]});
    const HostImage sheet = makeSheet(panels, o.width);
    writeImage(o.output, sheet);
    std::printf("wrote %s (%dx%d: %s)\n", o.output.c_str(), sheet.width, sheet.height,
                o.panels.c_str());
    return EXIT_OK;
}

}  // namespace

void addPreviewCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<PreviewOptions>();
    CLI::App* preview = app.add_subcommand(
        "preview",
        "Write one picture to judge a key by: the source, the result over a checkerboard, the "
        "alpha matte and the spill matte side by side, labelled");
    preview->add_option("IN", o->input, "Input image, or a sequence with --frame")->required();
    preview->add_option("-o,--output", o->output, "The sheet (.png, .tif, .exr)")->required();
    addControlFlags(preview, o->flags, false);
    preview->add_option("--width", o->width, "Width of the whole sheet in pixels")
        ->capture_default_str();
    preview
        ->add_option("--panels", o->panels, "Pictures, in order: any of source, over, alpha, spill")
        ->capture_default_str();
    preview->add_option("--frame", o->frame, "Frame of a sequence (default the first on disk)");
    preview->add_option("-j,--threads", o->threads,
                        "Threads for the pixel loop (default: all cores)");
    preview->add_option("--plugin", o->plugin,
                        "Plug-in library to load (default: the one built with this tool)");
    preview->footer(
        std::string(
            "Examples:\n"
            "  kestrelumen preview plate.png -o sheet.png --key auto --spill-amount 1\n"
            "  kestrelumen preview shot.####.exr --frame 40 -o sheet.png --key-at 30,20 \\\n"
            "      --choke-opaque 0.5 --width 1280 --panels source,over\n\n") +
        EXIT_CODES_HELP);
    preview->callback([o, &exitCode] { exitCode = runPreview(*o); });
}

}  // namespace kcli

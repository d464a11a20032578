// What the tune server serves: one input, one plug-in instance, the current
// settings. The HTTP side (TuneServer) checks requests and calls these.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/Controls.h"
#include "cli/Keyer.h"
#include "cli/key/KeyChoice.h"
#include "cli/tune/FrameCache.h"
#include "cli/tune/RenderGate.h"

namespace kcli {

struct TuneOptions {
    std::string input;
    std::string frames;        // empty: every frame on disk
    std::string plugin;        // empty: the one built with the tool
    std::string settingsFile;  // empty: the page offers the settings as a download
    Controls controls;
    KeyChoice key;  // a measured key (auto, a point, a rectangle) is measured on the input
    std::optional<Depth> depth;
    int threads = 0;
    int port = 0;  // 0: a free one
    bool noBrowser = false;
};

struct RenderRequest {
    Controls controls;
    int frame = 0;
    double scale = 1.0;
    std::string over;    // empty, "checker" or "#rrggbb"
    std::string client;  // renders of one client supersede each other
};

class TuneSession {
public:
    explicit TuneSession(const TuneOptions& options);

    // Input, frames, size, depth, the parameters as the plug-in describes
    // them, and the settings to start from.
    std::string infoJson() const;
    int defaultFrame() const { return cache_.frames().front(); }
    bool hasFrame(int number) const { return cache_.has(number); }
    int width() const { return cache_.info().width; }
    int height() const { return cache_.info().height; }

    // PNG bytes; nullopt when a newer request of the same client superseded
    // this one before its turn.
    std::optional<std::vector<unsigned char>> renderPng(const RenderRequest& request);
    // The key colour the eyedropper takes: the median around x,y.
    std::string pickJson(int frame, int x, int y, int radius);
    // The estimated screen colour; nullopt when the frame shows no screen.
    std::optional<std::string> autoKeyJson(int frame);
    // Input and output values of one pixel under `controls`.
    std::string pixelJson(const Controls& controls, int frame, int x, int y);

    std::string settingsJson() const;
    bool savesSettings() const { return !options_.settingsFile.empty(); }
    // Writes the settings file named at start; returns its name.
    std::string saveSettings(const Controls& controls);

private:
    void remember(const Controls& controls);

    TuneOptions options_;
    RenderGate gate_;  // guards keyer_ and cache_
    Keyer keyer_;
    FrameCache cache_;
    mutable std::mutex settingsMutex_;
    Controls current_;
};

}  // namespace kcli

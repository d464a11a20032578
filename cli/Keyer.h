// The plug-in as the tool drives it: loaded, set up and fed frames through
// the reference host, with every control reaching it as a parameter value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Controls.h"
#include "cli/ImageFile.h"

namespace kcli {

// The plug-in built with the tool: ../plugin/Kestrelumen.so from the
// executable's folder, or next to the executable.
std::string defaultPluginPath();

class Keyer {
public:
    // Loads the library and runs About, global setup and parameter setup.
    // `instances` hosts on the one loaded library key that many frames at
    // once, each spreading its rows over `threads`. Throws
    // Failure(EXIT_PLUGIN) naming the library on any failure.
    Keyer(const std::string& pluginPath, int threads, int instances = 1);
    ~Keyer();
    Keyer(const Keyer&) = delete;
    Keyer& operator=(const Keyer&) = delete;

    void setControls(const Controls& controls);
    // One frame through smart pre-render and smart render. Throws
    // Failure(EXIT_PLUGIN) with the plug-in's own message when it sets one.
    // The image's buffer is reused for the output, as frames can be large.
    // Safe to call from several threads: each call takes an idle host,
    // waiting for one when all are busy.
    HostImage render(HostImage image, int frame);
    int instances() const;

    struct ParamRow {
        int index = 0;
        int type = 0;
        int id = 0;
        std::string label;  // raw bytes as the plug-in gave them (GBK)
        std::string range;
        std::string dephault;
        std::string choices;  // popup only, raw bytes
        // The tool's flag for the control, without "--" ("key",
        // "choke-transparent", ...); empty for a parameter it does not set.
        std::string flag;
        // Sliders: the valid range, the default and the decimals the host
        // shows; popup: 1..choices and the default choice; colour: the
        // default as 0xrrggbb.
        double min = 0, max = 0, dflt = 0;
        int precision = 0;
    };
    struct Description {
        std::string aboutText;  // raw bytes (GBK)
        uint32_t version = 0;
        int32_t outFlags = 0;
        int32_t outFlags2 = 0;
        int numParams = 0;
        std::vector<ParamRow> params;
        std::optional<std::vector<uint8_t>> registration;
    };
    const Description& description() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kcli

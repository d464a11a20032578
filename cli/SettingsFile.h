// The controls as a small JSON file: what `tune` saves and `render
// --settings` reads. Keys are spelled like the tool's flags
// ("choke-transparent", ...), so the file, the query of the tune page's
// API and the command line name each control the same way.
#pragma once

#include <string>

#include "cli/Controls.h"

namespace CLI {
class App;
}

namespace kcli {

// Every key is optional (missing: the control's default); an unknown key, a
// value of the wrong type or out of range is refused. Throws
// Failure(EXIT_BAD_INPUT) naming `origin` (a file name or a request) and the
// key.
Controls parseSettings(const std::string& json, const std::string& origin);

// Reads and parses a settings file. Throws Failure naming the file.
Controls readSettingsFile(const std::string& path);

// The JSON `parseSettings` reads back to the same controls, bit for bit.
std::string settingsJson(const Controls& controls);

// Writes the file under a temporary name beside it, renamed when complete.
void writeSettingsFile(const std::string& path, const Controls& controls);

// Takes from `fromFile` every control whose flag `command` did not see.
// `key` and `view` are the texts of --key and --view, still to be parsed;
// the key colour is taken only when no key flag (--key, --key-at,
// --key-rect) was given.
void applySettings(const CLI::App& command, const Controls& fromFile, Controls& controls,
                   std::string& key, std::string& view);

// A control parser's message without its leading flag ("--key: "), for
// callers that name the value their own way.
std::string withoutFlag(const std::string& message);

}  // namespace kcli

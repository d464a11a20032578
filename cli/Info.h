// `kestrelumen info`: what the plug-in says about itself.
#pragma once

#include <string>

namespace kcli {

int runInfo(const std::string& pluginPath);

}  // namespace kcli

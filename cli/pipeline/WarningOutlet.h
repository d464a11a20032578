// How a frame source or sink says what it could not keep: through the
// pipeline, which serialises lines from any thread, or straight to stderr
// when no pipeline listens.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

namespace kcli {

// Receives warnings, one line each, without prefix or newline.
using WarningHandler = std::function<void(const std::string&)>;

class WarningOutlet {
public:
    void onWarning(WarningHandler handler) { warn_ = std::move(handler); }

protected:
    ~WarningOutlet() = default;

    // `line` without the "kestrelumen: warning: " prefix.
    void warn(const std::string& line) const {
        if (warn_)
            warn_(line);
        else
            std::fprintf(stderr, "kestrelumen: warning: %s\n", line.c_str());
    }

private:
    WarningHandler warn_;
};

}  // namespace kcli

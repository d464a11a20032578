// Keyed frames written as numbered image files (or one image). Each file is
// written under a temporary name and renamed when complete, so an output
// that exists is always whole and a run can resume from it.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "cli/Sequence.h"
#include "cli/pipeline/FrameSink.h"

namespace kcli {

class ImageSequenceSink : public FrameSink {
public:
    explicit ImageSequenceSink(FramePattern pattern, WriteOptions options = {})
        : pattern_(std::move(pattern)), options_(std::move(options)) {}

    bool concurrent() const override { return true; }
    void write(int number, const HostImage& image) override;
    // Each frame was committed by its own write.
    void finish() override {}
    // An unfinished write removes its own temporary as it fails.
    void abort() noexcept override {}
    bool hasFrame(int number) const override;
    std::string name(int number) const override { return pattern_.path(number); }

private:
    FramePattern pattern_;
    WriteOptions options_;
    std::mutex warnedLock_;
    std::set<std::string> warned_;  // kinds of FileWarning already said
};

}  // namespace kcli

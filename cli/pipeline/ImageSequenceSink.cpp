#include "cli/pipeline/ImageSequenceSink.h"

#include <filesystem>
#include <system_error>

namespace kcli {

void ImageSequenceSink::write(int number, const HostImage& image) {
    std::vector<FileWarning> warnings;
    writeImage(pattern_.path(number), image, options_, &warnings);
    // Frames of a sequence are mostly stored alike: each kind of loss is
    // said once, for the first frame that meets it.
    for (const FileWarning& w : warnings) {
        {
            std::lock_guard<std::mutex> lock(warnedLock_);
            if (!warned_.insert(w.kind).second) continue;
        }
        warn(w.text);
    }
}

bool ImageSequenceSink::hasFrame(int number) const {
    std::error_code ec;
    return std::filesystem::is_regular_file(pattern_.path(number), ec);
}

}  // namespace kcli

#include "cli/pipeline/ImageSequenceSink.h"

#include <filesystem>
#include <system_error>

namespace kcli {

void ImageSequenceSink::write(int number, const HostImage& image) {
    std::string warning;
    writeImage(pattern_.path(number), image, options_, &warning);
    // Every frame of a sequence is stored alike; once is enough to know.
    if (!warning.empty() && !warnedDepth_.exchange(true)) warn(warning);
}

bool ImageSequenceSink::hasFrame(int number) const {
    std::error_code ec;
    return std::filesystem::is_regular_file(pattern_.path(number), ec);
}

}  // namespace kcli

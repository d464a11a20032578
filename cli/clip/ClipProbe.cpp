#include "cli/clip/ClipProbe.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstring>
#include <filesystem>
#include <system_error>

namespace kcli {
namespace {

// The demuxers and muxers of single pictures: the image2 family ("png_pipe",
// "exr_pipe", ...) and the pictures the image files path reads itself.
bool isPictureFormat(const char* name) {
    const std::size_t n = std::strlen(name);
    static const char PIPE[] = "_pipe";
    if (n >= sizeof PIPE - 1 && std::strcmp(name + n - (sizeof PIPE - 1), PIPE) == 0) return true;
    for (const char* still : {"image2", "image2pipe", "webp", "apng"})
        if (std::strcmp(name, still) == 0) return true;
    return false;
}

std::string probedFormat(const std::string& path) {
    // A pipe would block the probe until something writes into it, and a
    // device could be read without end; the image reader refuses both.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return {};
    // The tool reports failures itself, one line each.
    av_log_set_level(AV_LOG_QUIET);
    AVIOContext* pb = nullptr;
    if (avio_open(&pb, path.c_str(), AVIO_FLAG_READ) < 0) return {};
    const AVInputFormat* format = nullptr;
    // No file name: the contents alone decide, whatever the extension says.
    const int score = av_probe_input_buffer2(pb, &format, "", nullptr, 0, 0);
    avio_closep(&pb);
    // A weak guess (a text subtitle format matching a picture's header, for
    // one) is no movie.
    if (score <= AVPROBE_SCORE_RETRY || !format || isPictureFormat(format->name)) return {};
    return format->name;
}

}  // namespace

bool isClipFile(const std::string& path) { return !probedFormat(path).empty(); }

std::string clipFormatName(const std::string& path) { return probedFormat(path); }

bool isClipName(const std::string& path) {
    const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
    return format && !isPictureFormat(format->name);
}

}  // namespace kcli

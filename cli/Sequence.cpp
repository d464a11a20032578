#include "cli/Sequence.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/ExitCodes.h"

namespace fs = std::filesystem;

namespace kcli {

FramePattern::FramePattern(const std::string& path, const std::string& flag) : text_(path) {
    // Only the file name may carry the placeholder: a '#' in a folder name is
    // an ordinary character.
    const std::size_t nameStart =
        path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1;
    std::size_t start = std::string::npos, len = 0;
    int found = 0;
    for (std::size_t i = nameStart; i < path.size();) {
        if (path[i] == '#') {
            std::size_t j = i;
            while (j < path.size() && path[j] == '#') ++j;
            start = i;
            len = j - i;
            width_ = static_cast<int>(len);
            ++found;
            i = j;
        } else if (path[i] == '%') {
            // %d or %0Nd
            std::size_t j = i + 1;
            int w = 0;
            if (j < path.size() && path[j] == '0') ++j;
            while (j < path.size() && path[j] >= '0' && path[j] <= '9' && w < 100)
                w = w * 10 + (path[j++] - '0');
            if (j < path.size() && path[j] == 'd') {
                start = i;
                len = j + 1 - i;
                width_ = std::max(w, 1);
                ++found;
                i = j + 1;
            } else {
                ++i;
            }
        } else {
            ++i;
        }
    }
    if (found > 1)
        throw Failure(EXIT_BAD_INPUT,
                      flag + ": '" + path + "' has more than one frame-number placeholder");
    if (found == 1) {
        prefix_ = path.substr(0, start);
        suffix_ = path.substr(start + len);
    }
}

std::string FramePattern::path(int frame) const {
    if (!isSequence()) return text_;
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*d", width_, frame);
    return prefix_ + digits + suffix_;
}

std::vector<int> FramePattern::framesOnDisk() const {
    std::vector<int> frames;
    if (!isSequence()) return frames;
    // The placeholder lies in the file name, so the prefix holds the whole
    // folder.
    const std::size_t slash = prefix_.find_last_of('/');
    const fs::path dir =
        slash == std::string::npos ? fs::path(".") : fs::path(prefix_.substr(0, slash + 1));
    const std::string namePrefix = slash == std::string::npos ? prefix_ : prefix_.substr(slash + 1);
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= namePrefix.size() + suffix_.size()) continue;
        if (name.compare(0, namePrefix.size(), namePrefix) != 0) continue;
        if (name.compare(name.size() - suffix_.size(), suffix_.size(), suffix_) != 0) continue;
        const std::string digits =
            name.substr(namePrefix.size(), name.size() - namePrefix.size() - suffix_.size());
        // Padding must match, or "shot.1.exr" and "shot.0001.exr" would both
        // count as frame 1.
        if (digits.size() < static_cast<std::size_t>(width_) || digits.size() > 9) continue;
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (digits.size() > static_cast<std::size_t>(width_) && digits[0] == '0') continue;
        frames.push_back(std::atoi(digits.c_str()));
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return frames;
}

namespace {

[[noreturn]] void badFrames(const std::string& imageSpec, const std::string& why) {
    throw Failure(EXIT_BAD_INPUT, "--frames: '" + imageSpec + "' " + why +
                                      " (use FIRST-LAST, a single frame, or a comma list)");
}

int parseFrameNumber(const std::string& imageSpec, const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        badFrames(imageSpec, "has '" + text + "', which is not a frame number");
    return std::atoi(text.c_str());
}

}  // namespace

std::vector<int> parseFrameList(const std::string& imageSpec) {
    std::vector<int> frames;
    std::set<int> seen;
    std::size_t pos = 0;
    if (imageSpec.empty()) badFrames(imageSpec, "is empty");
    while (pos <= imageSpec.size()) {
        std::size_t comma = imageSpec.find(',', pos);
        if (comma == std::string::npos) comma = imageSpec.size();
        const std::string item = imageSpec.substr(pos, comma - pos);
        const std::size_t dash = item.find('-');
        int first, last;
        if (dash == std::string::npos) {
            first = last = parseFrameNumber(imageSpec, item);
        } else {
            first = parseFrameNumber(imageSpec, item.substr(0, dash));
            last = parseFrameNumber(imageSpec, item.substr(dash + 1));
            if (last < first) badFrames(imageSpec, "has a range that runs backwards");
        }
        if (static_cast<long long>(last) - first + static_cast<long long>(frames.size()) > 10000000)
            badFrames(imageSpec, "has too many frames");
        for (int f = first; f <= last; ++f)
            if (seen.insert(f).second) frames.push_back(f);
        pos = comma + 1;
    }
    return frames;
}

}  // namespace kcli

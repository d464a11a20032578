// Numbered file sequences: "shot.####.exr" or "shot.%04d.exr" stand for
// shot.0001.exr, shot.0002.exr, ...
#pragma once

#include <string>
#include <vector>

namespace kcli {

class FramePattern {
public:
    // A path without a frame placeholder is a single file. More than one
    // placeholder is an error (Failure, naming `flag`).
    FramePattern(const std::string& path, const std::string& flag);

    bool isSequence() const { return width_ > 0; }
    const std::string& text() const { return text_; }
    // The file of one frame; the number is zero-padded to the placeholder's
    // width and longer numbers keep all their digits.
    std::string path(int frame) const;
    // Frame numbers of the files on disk that match, sorted.
    std::vector<int> framesOnDisk() const;

private:
    std::string text_, prefix_, suffix_;
    int width_ = 0;
};

// "1-240", "7", or a comma-separated list of both ("1-10,20,30-40"). Frames
// come out in the order written, each once; numbers must not be negative.
std::vector<int> parseFrameList(const std::string& imageSpec);

}  // namespace kcli

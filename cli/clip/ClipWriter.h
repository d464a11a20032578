// Keyed frames encoded into one video clip. The container follows the
// output's extension, the codec its default or --codec; a clip's timing,
// timecode, metadata and audio are carried over. Everything goes to a
// temporary file that is renamed only once the clip is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/clip/ClipReader.h"
#include "cli/clip/ImagesInClip.h"
#include "cli/clip/Libav.h"
#include "cli/pipeline/FrameSink.h"

namespace kcli {

struct ClipWriterOptions {
    std::string codec;                      // empty: the container's default
    std::vector<std::string> codecOptions;  // KEY=VALUE, for the encoder
    bool needsAlpha = true;                 // the keyed view: refuse codecs without alpha
    Depth depth = Depth::U8;                // of the frames written
    int width = 0, height = 0;
    AVRational frameRate{24, 1};         // without a source clip
    std::vector<int> frames;             // the numbers to be written, in order
    const ClipReader* source = nullptr;  // the clip keyed, if the input is one
    ImagesInClip images;                 // what image files keyed into a clip keep of theirs
    std::string software;                // what made the clip: the equivalent command
    std::string rateOrigin;              // how the rate was chosen, for the summary
};

class ClipWriter : public FrameSink {
public:
    // Checks the container, codec, options and alpha, and opens the
    // temporary file. Throws Failure naming the file or flag.
    ClipWriter(const std::string& path, const ClipWriterOptions& options);
    ~ClipWriter() override;

    bool concurrent() const override { return false; }
    void write(int number, const HostImage& image) override;
    void finish() override;
    void abort() noexcept override;
    std::string name(int number) const override;

    // "prores_ks, yuva444p10le" for the summary line.
    std::string codecSummary() const;
    AVRational frameRate() const;
    const std::string& rateOrigin() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kcli

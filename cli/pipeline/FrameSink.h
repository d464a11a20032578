// Where keyed frames go: an image sequence, a single image, a clip. Whatever
// the sink, a failure or an interruption leaves no partial file behind.
#pragma once

#include <string>

#include "cli/ImageFile.h"
#include "cli/pipeline/WarningOutlet.h"

namespace kcli {

class FrameSink : public WarningOutlet {
public:
    virtual ~FrameSink() = default;

    // True: write() may run on several threads at once for different
    // frames. False: write() is called in frame order from one thread at a
    // time.
    virtual bool concurrent() const = 0;
    // Throws Failure naming the file and frame.
    virtual void write(int number, const HostImage& image) = 0;
    // After the last frame: commits what is still under a temporary name.
    virtual void finish() = 0;
    // On an error or a signal, after the last write() has returned: drops
    // every unfinished temporary.
    virtual void abort() noexcept = 0;

    // Whether the complete output of this frame is already there, for
    // resuming an interrupted run. A sink that holds all frames in one file
    // answers false.
    virtual bool hasFrame(int /*number*/) const { return false; }
    // How a frame's output is named in messages.
    virtual std::string name(int number) const { return "frame " + std::to_string(number); }
};

}  // namespace kcli

// Where the frames of a render come from: an image sequence, a single image,
// a clip. The frame loop sees numbered frames in the host's layout and
// nothing of the files behind them.
#pragma once

#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/pipeline/WarningOutlet.h"

namespace kcli {

struct Frame {
    int number;
    HostImage image;
};

class FrameSource : public WarningOutlet {
public:
    virtual ~FrameSource() = default;

    // The numbers this source will deliver, in order.
    virtual std::vector<int> frames() const = 0;
    // Width, height, depth and alpha of the frames (those of the first).
    virtual FileInfo info() const = 0;
    // True: read() may run on several threads at once for different frames.
    // False: read() is called from one thread at a time, in the order of
    // frames().
    virtual bool concurrent() const = 0;
    // One frame at `depth`. Throws Failure naming the file and frame.
    virtual HostImage read(int number, Depth depth) = 0;

    // How a frame is named in messages (its file, or the clip and number).
    virtual std::string name(int number) const { return "frame " + std::to_string(number); }
};

}  // namespace kcli

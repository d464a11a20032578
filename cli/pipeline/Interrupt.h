// SIGINT, SIGTERM and SIGHUP during a run: the first asks the run to stop
// after the frames in flight, a second to drop every frame not already being
// written. Either way no partial file is left, and the run says how to
// resume.
#pragma once

namespace kcli {

class InterruptWatch {
public:
    // Installs the handlers; the destructor restores the previous ones.
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // The first signal received since construction, or 0.
    static int signal();
    // How many were received.
    static int count();
};

// What a shell reports for a process ended by `sig`: 130 for SIGINT, 143
// for SIGTERM.
inline int exitCodeForSignal(int sig) { return 128 + sig; }

}  // namespace kcli

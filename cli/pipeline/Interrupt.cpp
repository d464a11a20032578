#include "cli/pipeline/Interrupt.h"

#include <atomic>
#include <csignal>

namespace kcli {
namespace {

// Lock-free atomics are what a handler may touch.
std::atomic<int> g_first{0};
std::atomic<int> g_count{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");

constexpr int WATCHED[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

extern "C" void noteSignal(int sig) {
    int none = 0;
    g_first.compare_exchange_strong(none, sig);
    g_count.fetch_add(1);
}

}  // namespace

InterruptWatch::InterruptWatch() {
    g_first = 0;
    g_count = 0;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes in progress carry on rather than fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(WATCHED[i], &action, &g_previous[i]);
}

InterruptWatch::~InterruptWatch() {
    for (int i = 0; i < 3; ++i) sigaction(WATCHED[i], &g_previous[i], nullptr);
}

int InterruptWatch::signal() { return g_first.load(); }
int InterruptWatch::count() { return g_count.load(); }

}  // namespace kcli

#include "cli/tune/RenderGate.h"

#include <utility>

namespace kcli {

RenderGate::Pass RenderGate::enter(const std::string& client) {
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> lock(book_);
        ticket = ++next_;
        if (latest_.size() >= MAX_CLIENTS && latest_.count(client) == 0) {
            // The client seen longest ago makes room.
            auto oldest = latest_.begin();
            for (auto it = latest_.begin(); it != latest_.end(); ++it)
                if (it->second < oldest->second) oldest = it;
            latest_.erase(oldest);
        }
        latest_[client] = ticket;
    }
    std::unique_lock<std::mutex> lock(render_);
    bool current;
    {
        std::lock_guard<std::mutex> book(book_);
        const auto it = latest_.find(client);
        current = it == latest_.end() || it->second == ticket;
    }
    return Pass(std::move(lock), current);
}

}  // namespace kcli

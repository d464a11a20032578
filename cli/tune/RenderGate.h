// One render at a time through the one plug-in instance, and a render that
// waited while a newer one from the same client arrived is not done at all:
// while a slider moves, only the latest position is worth a picture.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kcli {

class RenderGate {
public:
    class Pass {
    public:
        // False when a newer request of the same client came in while this
        // one waited; the holder then answers without rendering.
        bool current() const { return current_; }

    private:
        friend class RenderGate;
        explicit Pass(std::unique_lock<std::mutex> lock, bool current)
            : lock_(std::move(lock)), current_(current) {}
        std::unique_lock<std::mutex> lock_;
        bool current_;
    };

    // Takes a ticket for `client` at once, then waits for the plug-in.
    Pass enter(const std::string& client);

private:
    // Clients are few (the page's tabs, a script); the book is bounded all
    // the same, since client names come from requests.
    static constexpr std::size_t MAX_CLIENTS = 64;

    std::mutex render_;
    std::mutex book_;
    uint64_t next_ = 0;
    std::map<std::string, uint64_t> latest_;
};

}  // namespace kcli

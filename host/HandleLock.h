// A lock on a host handle that is undone on every way out of the scope that
// took it, exceptions included.
#pragma once

#include "host/HostSuites.h"

namespace kestrelumen {

class HandleLock {
public:
    HandleLock() = default;
    ~HandleLock() { unlock(); }
    HandleLock(const HandleLock&) = delete;
    HandleLock& operator=(const HandleLock&) = delete;

    // The block's address, or null when the host gives none; only a lock
    // that gave an address is undone.
    void* lock(const PF_HandleSuite1* suite, PF_Handle handle) {
        unlock();
        address_ = suite->host_lock_handle(handle);
        if (address_ != nullptr) {
            suite_ = suite;
            handle_ = handle;
        }
        return address_;
    }

    void unlock() {
        if (address_ != nullptr) {
            address_ = nullptr;
            suite_->host_unlock_handle(handle_);
        }
    }

private:
    const PF_HandleSuite1* suite_ = nullptr;
    PF_Handle handle_ = nullptr;
    void* address_ = nullptr;
};

}  // namespace kestrelumen

// One named suite acquired and released on the caller's explicit request,
// with failures reported the host's way: an error code, the display-error
// flag and a message in out_data for the host to show.
#pragma once

#include <cstdint>

#include "host/HostSuites.h"

namespace kestrelumen {

inline constexpr char SCOPED_SUITE_ACQUIRE_MESSAGE[] = "Not able to acquire AEFX Suite.";
inline constexpr char SCOPED_SUITE_RELEASE_MESSAGE[] = "Not able to release AEFX Suite.";

// Fills *suite and returns 0, or returns 516 with the message (or the
// default) shown to the user. *suite is not cleared first: the caller starts
// it at null so that a refusal shows as null.
PF_Err acquireScopedSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                          int32_t version, const char* message, const void** suite);

// Returns 0, or 516 with the message (or the default) when there is no basic
// suite to give the suite back to.
PF_Err releaseScopedSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                          int32_t version, const char* message);

// Owner of one suite acquired through acquireScopedSuite. release() gives it
// back and reports the outcome; if the owner goes out of scope still holding
// it (an exception on the way), the destructor gives it back. A suite that
// was never delivered is never released, so the host's count stays balanced.
class ScopedSuiteHold {
public:
    ScopedSuiteHold(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version)
        : in_data_(in_data), out_data_(out_data), name_(name), version_(version) {}
    ~ScopedSuiteHold();
    ScopedSuiteHold(const ScopedSuiteHold&) = delete;
    ScopedSuiteHold& operator=(const ScopedSuiteHold&) = delete;

    PF_Err acquire(const char* message);
    // 0 when nothing is held.
    PF_Err release(const char* message);

    template <typename Suite>
    const Suite* get() const {
        return static_cast<const Suite*>(suite_);
    }

private:
    PF_InData* in_data_;
    PF_OutData* out_data_;
    const char* name_;
    int32_t version_;
    const void* suite_ = nullptr;
};

}  // namespace kestrelumen

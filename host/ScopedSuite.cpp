#include "host/ScopedSuite.h"

#include "host/HostConstants.h"

namespace kestrelumen {

namespace {

PF_Err report(PF_InData* in_data, PF_OutData* out_data, const char* message, const char* fallback) {
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    // The message is an argument, never the format: a '%' in it must print
    // as itself and not make sprintf read arguments that are not there.
    in_data->utils->ansi.sprintf(out_data->return_msg, "%s",
                                 message != nullptr ? message : fallback);
    return PF_Err_BAD_CALLBACK_PARAM;
}

}  // namespace

PF_Err acquireScopedSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                          int32_t version, const char* message, const void** suite) {
    if (in_data->pica_basicP != nullptr) {
        // The code is not looked at: a delivered pointer is what counts.
        static_cast<void>(in_data->pica_basicP->AcquireSuite(name, version, suite));
        if (*suite != nullptr) return PF_Err_NONE;
    }
    return report(in_data, out_data, message, SCOPED_SUITE_ACQUIRE_MESSAGE);
}

PF_Err releaseScopedSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                          int32_t version, const char* message) {
    if (in_data->pica_basicP != nullptr) {
        static_cast<void>(in_data->pica_basicP->ReleaseSuite(name, version));
        return PF_Err_NONE;
    }
    return report(in_data, out_data, message, SCOPED_SUITE_RELEASE_MESSAGE);
}

ScopedSuiteHold::~ScopedSuiteHold() {
    if (suite_ != nullptr) {
        static_cast<void>(releaseScopedSuite(in_data_, out_data_, name_, version_, nullptr));
    }
}

PF_Err ScopedSuiteHold::acquire(const char* message) {
    return acquireScopedSuite(in_data_, out_data_, name_, version_, message, &suite_);
}

PF_Err ScopedSuiteHold::release(const char* message) {
    if (suite_ == nullptr) return PF_Err_NONE;
    suite_ = nullptr;
    return releaseScopedSuite(in_data_, out_data_, name_, version_, message);
}

}  // namespace kestrelumen

// The basic suite (in_data->pica_basicP): suites by name and version, and
// blocks of memory.
#include <cstdlib>
#include <cstring>

#include "refhost/HostContext.h"

namespace refhost {
namespace {

std::string suiteDetail(const char* name, int32_t version) {
    return std::string(name ? name : "(null)") + " v" + std::to_string(version);
}

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    if (suite) *suite = nullptr;
    return hostCall(
        currentContext(), CallPoint::AcquireSuite, [&] { return suiteDetail(name, version); },
        [&](Host::Context& ctx, std::optional<FaultMode> fault) -> SPErr {
            // A call that cannot take the answer is refused before any
            // planned failure.
            if (!suite || !name) return PF_Err_BAD_CALLBACK_PARAM;
            if (fault == FaultMode::Error) return ctx.faultError;
            if (fault == FaultMode::NullResult) return PF_Err_NONE;
            auto it = ctx.suites.find({name, version});
            if (it == ctx.suites.end()) return SUITE_NOT_FOUND;
            *suite = it->second;
            ctx.ledger.suiteAcquired(name, version);
            return PF_Err_NONE;
        },
        OnError::InBody, SUITE_NOT_FOUND);
}

SPErr ReleaseSuite(const char* name, int32_t version) {
    return hostCall(
        currentContext(), CallPoint::ReleaseSuite, [&] { return suiteDetail(name, version); },
        [&](Host::Context& ctx, std::optional<FaultMode>) -> SPErr {
            if (!name) return PF_Err_BAD_CALLBACK_PARAM;
            return ctx.ledger.suiteReleased(name, version) ? PF_Err_NONE : SUITE_NOT_FOUND;
        },
        OnError::AfterWork, SUITE_NOT_FOUND);
}

SPBoolean IsEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

SPErr AllocateBlock(size_t size, void** block) {
    if (!block) return PF_Err_BAD_CALLBACK_PARAM;
    *block = std::malloc(size ? size : 1);
    return *block ? PF_Err_NONE : PF_Err_OUT_OF_MEMORY;
}

SPErr FreeBlock(void* block) {
    std::free(block);
    return PF_Err_NONE;
}

SPErr ReallocateBlock(void* block, size_t size, void** newBlock) {
    if (!newBlock) return PF_Err_BAD_CALLBACK_PARAM;
    void* p = std::realloc(block, size ? size : 1);
    if (!p) return PF_Err_OUT_OF_MEMORY;
    *newBlock = p;
    return PF_Err_NONE;
}

SPErr Undefined() { return SUITE_NOT_FOUND; }

}  // namespace

void installBasicSuite(Host::Context& ctx) {
    ctx.basic = SPBasicSuite{AcquireSuite, ReleaseSuite,    IsEqual,  AllocateBlock,
                             FreeBlock,    ReallocateBlock, Undefined};
}

}  // namespace refhost

// The handle suite ("PF Handle Suite" v1, and the same functions in utils):
// relocatable blocks that outlive a command.
#include "refhost/HostContext.h"

namespace refhost {
namespace {

// Larger requests are refused as out of memory, as a host with finite
// memory would; it also keeps a corrupt size from taking the machine down.
constexpr A_HandleSize MAX_HANDLE_SIZE = A_HandleSize{1} << 30;

using HandleBlock = Host::Context::HandleBlock;

PF_Handle NewHandle(A_HandleSize size) {
    return hostValueCall<PF_Handle>(
        nullptr, currentContext(), CallPoint::HandleNew,
        [&] { return std::to_string(size) + " bytes"; },
        [&](Host::Context& ctx, std::optional<FaultMode> fault) -> PF_Handle {
            if (fault == FaultMode::NullResult || size > MAX_HANDLE_SIZE) return nullptr;
            auto block = std::make_unique<HandleBlock>();
            block->bytes.assign(static_cast<std::size_t>(size ? size : 1), 0);
            block->size = size;
            block->ptr = block->bytes.data();
            PF_Handle h = &block->ptr;
            {
                std::lock_guard<std::mutex> lock(ctx.handleMutex);
                ctx.handles.emplace(h, std::move(block));
            }
            ctx.ledger.handleCreated(h);
            return h;
        });
}

void* LockHandle(PF_Handle h) {
    return hostValueCall<void*>(nullptr, currentContext(), CallPoint::HandleLock, "",
                                [&](Host::Context& ctx, std::optional<FaultMode> fault) -> void* {
                                    if (fault == FaultMode::NullResult) return nullptr;
                                    std::lock_guard<std::mutex> lock(ctx.handleMutex);
                                    HandleBlock* b = ctx.block(h);
                                    if (!b) return nullptr;
                                    ++b->locks;
                                    ctx.ledger.handleLocked(h);
                                    return b->ptr;
                                });
}

void UnlockHandle(PF_Handle h) {
    hostValueCall<int>(0, currentContext(), CallPoint::HandleUnlock, "",
                       [&](Host::Context& ctx, std::optional<FaultMode>) {
                           std::lock_guard<std::mutex> lock(ctx.handleMutex);
                           HandleBlock* b = ctx.block(h);
                           const bool wasLocked = b && b->locks > 0;
                           if (wasLocked) --b->locks;
                           ctx.ledger.handleUnlocked(h, wasLocked);
                           return 0;
                       });
}

void DisposeHandle(PF_Handle h) {
    hostValueCall<int>(0, currentContext(), CallPoint::HandleDispose, "",
                       [&](Host::Context& ctx, std::optional<FaultMode>) {
                           if (!h) return 0;  // disposing of nothing is harmless
                           std::lock_guard<std::mutex> lock(ctx.handleMutex);
                           const bool known = ctx.handles.erase(h) > 0;
                           ctx.ledger.handleDisposed(h, known);
                           return 0;
                       });
}

A_HandleSize GetHandleSize(PF_Handle h) {
    return hostValueCall<A_HandleSize>(0, currentContext(), CallPoint::HandleGetSize, "",
                                       [&](Host::Context& ctx, std::optional<FaultMode>) {
                                           std::lock_guard<std::mutex> lock(ctx.handleMutex);
                                           HandleBlock* b = ctx.block(h);
                                           return b ? b->size : A_HandleSize{0};
                                       });
}

PF_Err ResizeHandle(A_HandleSize size, PF_Handle* h) {
    return hostCall(
        currentContext(), CallPoint::HandleResize, [&] { return std::to_string(size) + " bytes"; },
        [&](Host::Context& ctx, std::optional<FaultMode>) -> PF_Err {
            if (!h) return PF_Err_BAD_CALLBACK_PARAM;
            if (size > MAX_HANDLE_SIZE) return PF_Err_OUT_OF_MEMORY;
            std::lock_guard<std::mutex> lock(ctx.handleMutex);
            HandleBlock* b = ctx.block(*h);
            // Moving the block under a lock would leave the holder a
            // dangling address.
            if (!b || b->locks > 0) return PF_Err_BAD_CALLBACK_PARAM;
            b->bytes.resize(static_cast<std::size_t>(size ? size : 1), 0);
            b->size = size;
            b->ptr = b->bytes.data();
            return PF_Err_NONE;
        });
}

// The suite and the utility callbacks name the same six callbacks alike.
template <typename Table>
void setHandleCallbacks(Table& t) {
    t.host_new_handle = NewHandle;
    t.host_lock_handle = LockHandle;
    t.host_unlock_handle = UnlockHandle;
    t.host_dispose_handle = DisposeHandle;
    t.host_get_handle_size = GetHandleSize;
    t.host_resize_handle = ResizeHandle;
}

}  // namespace

void installHandleSuite(Host::Context& ctx) {
    setHandleCallbacks(ctx.handleSuite);
    setHandleCallbacks(ctx.utils);
    ctx.suites[{kPFHandleSuite, kPFHandleSuiteVersion1}] = &ctx.handleSuite;
}

}  // namespace refhost

#include "refhost/Host.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <utility>

#include "host/HostConstants.h"

namespace refhost {

namespace {

// All channels: the mask a host asks for when it wants the whole image.
constexpr PF_ChannelMask ALL_CHANNELS = 15;
// Larger requests are refused as out of memory, as a host with finite
// memory would; it also keeps a corrupt size from taking the machine down.
constexpr A_HandleSize MAX_HANDLE_SIZE = A_HandleSize{1} << 30;
// Texts the host takes from a plug-in are at most PF_MAX_EFFECT_MSG_LEN
// characters and the NUL; a choice list longer than this is not believed.
constexpr std::size_t MAX_MESSAGE = PF_MAX_EFFECT_MSG_LEN + 1;
constexpr std::size_t MAX_CHOICE_LIST = 4096;

std::string suiteDetail(const char* name, int32_t version) {
    return std::string(name ? name : "(null)") + " v" + std::to_string(version);
}

std::string rectText(const PF_LRect& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

PF_LRect intersect(PF_LRect a, const PF_LRect& b) {
    a.left = std::max(a.left, b.left);
    a.top = std::max(a.top, b.top);
    a.right = std::min(a.right, b.right);
    a.bottom = std::min(a.bottom, b.bottom);
    return a;
}

bool emptyRect(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

}  // namespace

// ===========================================================================
// The host's state. effect_ref points here.
// ===========================================================================

struct Host::Context {
    struct HandleBlock {
        void* ptr = nullptr;  // the master pointer: a PF_Handle is its address
        std::vector<std::uint8_t> bytes;
        A_HandleSize size = 0;
        int locks = 0;
    };

    PF_FilterProc entry = nullptr;
    HostOptions options;
    bool basicAvailable = true;
    std::optional<PiplInfo> pipl;
    std::vector<std::string> warnings;

    // Per command
    mutable std::mutex mutex;  // guards trace, plan, warnings of the command
    PF_Cmd currentCmd = -1;
    std::vector<HostCall> trace;
    std::optional<FaultPlan> plan;
    std::optional<HostCall> injected;
    std::size_t injectedIndex = 0;
    std::vector<std::string> commandWarnings;
    Ledger ledger;
    PF_InData in{};
    PF_OutData out{};

    // Parameters
    std::vector<ParamInfo> params;

    // Handles, alive across commands
    std::mutex handleMutex;
    std::map<PF_Handle, std::unique_ptr<HandleBlock>> handles;

    // Worlds the host knows the depth of
    std::map<const PF_EffectWorld*, Depth> exposed;
    std::map<const PF_EffectWorld*, Depth> frameWorlds;
    World* frameIn = nullptr;
    World* frameOut = nullptr;
    std::set<A_long> requestedIds;
    std::optional<PF_RenderRequest> lastRequest;
    PF_DeletePreRenderDataFunc deleteFunc = nullptr;

    // Function tables handed out
    SPBasicSuite basic{};
    PF_UtilCallbacks utils{};
    PF_HandleSuite1 handleSuite{};
    PF_ColorParamSuite1 colorSuite{};
    PF_WorldSuite2 worldSuite2{};
    PF_WorldSuite1 worldSuite1{};
    PF_Iterate8Suite1 iterate8{};
    PF_Iterate16Suite1 iterate16{};
    PF_IterateFloatSuite1 iterateFloat{};
    PF_PreRenderCallbacks preRenderCb{};
    PF_SmartRenderCallbacks smartRenderCb{};

    std::map<std::pair<std::string, int32_t>, const void*> suites;

    Context();

    PF_ProgPtr ref() { return reinterpret_cast<PF_ProgPtr>(this); }

    unsigned resolvedThreads() const {
        if (options.threads) return options.threads;
        const unsigned n = std::thread::hardware_concurrency();
        return n ? n : 1;
    }

    // Records one host call and says whether it is the one to fail.
    std::optional<FaultMode> record(CallPoint point, std::string detail) {
        std::lock_guard<std::mutex> lock(mutex);
        const std::size_t index = trace.size();
        trace.push_back(HostCall{point, std::move(detail)});
        if (!plan || plan->command != currentCmd || plan->callIndex != index) return std::nullopt;
        const FaultPlan fired = *plan;
        plan.reset();
        const std::vector<FaultMode> modes = faultModesOf(point);
        if (std::find(modes.begin(), modes.end(), fired.mode) == modes.end()) return std::nullopt;
        injected = trace.back();
        injectedIndex = index;
        faultError = fired.error;
        return fired.mode;
    }
    PF_Err faultError = PF_Interrupt_CANCEL;

    void warn(std::string text) {
        std::lock_guard<std::mutex> lock(mutex);
        commandWarnings.push_back(std::move(text));
    }

    std::optional<Depth> depthOf(const PF_EffectWorld* w) const {
        if (auto it = frameWorlds.find(w); it != frameWorlds.end()) return it->second;
        if (auto it = exposed.find(w); it != exposed.end()) return it->second;
        return std::nullopt;
    }

    HandleBlock* block(PF_Handle h) {
        auto it = handles.find(h);
        return it == handles.end() ? nullptr : it->second.get();
    }

    void checkTime(const char* what, A_long time, A_long step, A_u_long scale) {
        if (time != in.current_time || step != in.time_step || scale != in.time_scale)
            warn(std::string(what) + " asked for time " + std::to_string(time) + "/" +
                 std::to_string(step) + "/" + std::to_string(scale) + " in a frame at " +
                 std::to_string(in.current_time) + "/" + std::to_string(in.time_step) + "/" +
                 std::to_string(in.time_scale));
    }

    void repointChoices() {
        for (ParamInfo& p : params)
            if (p.type == PF_Param_POPUP) {
                p.definition.u.pd.u.namesptr = p.choices.c_str();
                p.current.u.pd.u.namesptr = p.choices.c_str();
            }
    }
};

namespace {

// The calling thread's current command. Callbacks that receive no effect_ref
// (basic suite, handle suite, PF_GetPixelFormat, sprintf, strcpy) can only
// find their host this way; the interface has them called on the thread
// that runs the command.
thread_local Host::Context* tlsCurrent = nullptr;

Host::Context* current() { return tlsCurrent; }

// effect_ref must be the token of the command running on this thread: a
// stale or foreign token is refused instead of being dereferenced.
Host::Context* fromRef(PF_ProgPtr ref) {
    Host::Context* ctx = tlsCurrent;
    return ctx && ctx->ref() == ref ? ctx : nullptr;
}

// No C++ exception may reach the plug-in through a C callback.
template <class F>
PF_Err guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

template <class T, class F>
T guardedValue(T onError, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        return onError;
    }
}

// ---- Basic suite ------------------------------------------------------------

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    return guarded([&]() -> SPErr {
        if (suite) *suite = nullptr;
        Host::Context* ctx = current();
        if (!ctx) return SUITE_NOT_FOUND;
        const auto fault = ctx->record(CallPoint::AcquireSuite, suiteDetail(name, version));
        if (!suite || !name) return PF_Err_BAD_CALLBACK_PARAM;
        if (fault == FaultMode::Error) return ctx->faultError;
        if (fault == FaultMode::NullResult) return PF_Err_NONE;
        auto it = ctx->suites.find({name, version});
        if (it == ctx->suites.end()) return SUITE_NOT_FOUND;
        *suite = it->second;
        ctx->ledger.suiteAcquired(name, version);
        return PF_Err_NONE;
    });
}

SPErr ReleaseSuite(const char* name, int32_t version) {
    return guarded([&]() -> SPErr {
        Host::Context* ctx = current();
        if (!ctx) return SUITE_NOT_FOUND;
        const auto fault = ctx->record(CallPoint::ReleaseSuite, suiteDetail(name, version));
        if (!name) return PF_Err_BAD_CALLBACK_PARAM;
        const bool held = ctx->ledger.suiteReleased(name, version);
        if (fault == FaultMode::Error) return ctx->faultError;
        return held ? PF_Err_NONE : SUITE_NOT_FOUND;
    });
}

SPBoolean IsEqual(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}

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

// ---- Handles ------------------------------------------------------------------

PF_Handle NewHandle(A_HandleSize size) {
    return guardedValue<PF_Handle>(nullptr, [&]() -> PF_Handle {
        Host::Context* ctx = current();
        if (!ctx) return nullptr;
        const auto fault = ctx->record(CallPoint::HandleNew, std::to_string(size) + " bytes");
        if (fault == FaultMode::NullResult || size > MAX_HANDLE_SIZE) return nullptr;
        auto block = std::make_unique<Host::Context::HandleBlock>();
        block->bytes.assign(static_cast<std::size_t>(size ? size : 1), 0);
        block->size = size;
        block->ptr = block->bytes.data();
        PF_Handle h = &block->ptr;
        {
            std::lock_guard<std::mutex> lock(ctx->handleMutex);
            ctx->handles.emplace(h, std::move(block));
        }
        ctx->ledger.handleCreated(h);
        return h;
    });
}

void* LockHandle(PF_Handle h) {
    return guardedValue<void*>(nullptr, [&]() -> void* {
        Host::Context* ctx = current();
        if (!ctx) return nullptr;
        const auto fault = ctx->record(CallPoint::HandleLock, "");
        if (fault == FaultMode::NullResult) return nullptr;
        std::lock_guard<std::mutex> lock(ctx->handleMutex);
        Host::Context::HandleBlock* b = ctx->block(h);
        if (!b) return nullptr;
        ++b->locks;
        ctx->ledger.handleLocked(h);
        return b->ptr;
    });
}

void UnlockHandle(PF_Handle h) {
    guardedValue<int>(0, [&]() {
        Host::Context* ctx = current();
        if (!ctx) return 0;
        ctx->record(CallPoint::HandleUnlock, "");
        std::lock_guard<std::mutex> lock(ctx->handleMutex);
        Host::Context::HandleBlock* b = ctx->block(h);
        const bool wasLocked = b && b->locks > 0;
        if (wasLocked) --b->locks;
        ctx->ledger.handleUnlocked(h, wasLocked);
        return 0;
    });
}

void DisposeHandle(PF_Handle h) {
    guardedValue<int>(0, [&]() {
        Host::Context* ctx = current();
        if (!ctx) return 0;
        ctx->record(CallPoint::HandleDispose, "");
        if (!h) return 0;  // disposing of nothing is harmless
        std::lock_guard<std::mutex> lock(ctx->handleMutex);
        const bool known = ctx->handles.erase(h) > 0;
        ctx->ledger.handleDisposed(h, known);
        return 0;
    });
}

A_HandleSize GetHandleSize(PF_Handle h) {
    return guardedValue<A_HandleSize>(0, [&]() -> A_HandleSize {
        Host::Context* ctx = current();
        if (!ctx) return 0;
        ctx->record(CallPoint::HandleGetSize, "");
        std::lock_guard<std::mutex> lock(ctx->handleMutex);
        Host::Context::HandleBlock* b = ctx->block(h);
        return b ? b->size : 0;
    });
}

PF_Err ResizeHandle(A_HandleSize size, PF_Handle* h) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = current();
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::HandleResize, std::to_string(size) + " bytes");
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!h) return PF_Err_BAD_CALLBACK_PARAM;
        if (size > MAX_HANDLE_SIZE) return PF_Err_OUT_OF_MEMORY;
        std::lock_guard<std::mutex> lock(ctx->handleMutex);
        Host::Context::HandleBlock* b = ctx->block(*h);
        // Moving the block under a lock would leave the holder a dangling address.
        if (!b || b->locks > 0) return PF_Err_BAD_CALLBACK_PARAM;
        b->bytes.resize(static_cast<std::size_t>(size ? size : 1), 0);
        b->size = size;
        b->ptr = b->bytes.data();
        return PF_Err_NONE;
    });
}

// ---- Colour parameters ------------------------------------------------------

PF_Err FloatColorFromColorDef(PF_ProgPtr ref, const PF_ParamDef* def, PF_PixelFloat* color) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::ColorFromColorDef, "");
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!def || !color || def->param_type != PF_Param_COLOR) return PF_Err_BAD_CALLBACK_PARAM;
        const PF_Pixel& c = def->u.cd.value;
        color->alpha = c.alpha / 255.0f;
        color->red = c.red / 255.0f;
        color->green = c.green / 255.0f;
        color->blue = c.blue / 255.0f;
        return PF_Err_NONE;
    });
}

// ---- Worlds -------------------------------------------------------------------

PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = current();
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const std::optional<Depth> depth = world ? ctx->depthOf(world) : std::nullopt;
        const auto fault = ctx->record(
            CallPoint::WorldGetPixelFormat,
            !world ? "null world" : depth ? std::string(depthName(*depth)) + " world" : "unknown world");
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!format) return PF_Err_BAD_CALLBACK_PARAM;
        if (fault == FaultMode::BadFormat) {
            *format = PF_PixelFormat_INVALID;
            return PF_Err_NONE;
        }
        if (!depth) return PF_Err_BAD_CALLBACK_PARAM;
        *format = pixelFormatOf(*depth);
        return PF_Err_NONE;
    });
}

PF_Err NewWorld2(PF_ProgPtr ref, A_long, A_long, PF_Boolean, PF_PixelFormat, PF_EffectWorld*) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::WorldNew, "");
        if (fault) return ctx->faultError;
        return PF_Err_INVALID_CALLBACK;  // the reference host lends worlds, it makes none
    });
}

PF_Err DisposeWorld(PF_ProgPtr ref, PF_EffectWorld*) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::WorldDispose, "");
        if (fault) return ctx->faultError;
        return PF_Err_INVALID_CALLBACK;
    });
}

PF_Err NewWorld1(PF_ProgPtr ref, A_long w, A_long h, PF_NewWorldFlags, PF_EffectWorld* world) {
    return NewWorld2(ref, w, h, 0, PF_PixelFormat_ARGB32, world);
}

// ---- Iterate ----------------------------------------------------------------------

template <class P>
bool validWorld(const PF_EffectWorld* w) {
    if (!w || w->width < 0 || w->height < 0) return false;
    if (w->width == 0 || w->height == 0) return true;
    return w->data && w->rowbytes >= 0 &&
           static_cast<std::size_t>(w->rowbytes) >= static_cast<std::size_t>(w->width) * sizeof(P);
}

template <class P>
P* pixelAt(const PF_EffectWorld* w, A_long x, A_long y) {
    auto* base = reinterpret_cast<std::uint8_t*>(w->data);
    return reinterpret_cast<P*>(base + static_cast<std::ptrdiff_t>(y) * w->rowbytes) + x;
}

template <class P, class Kernel>
PF_Err iterateWorld(PF_InData* in_data, A_long progressBase, A_long progressFinal,
                    PF_EffectWorld* src, const PF_Rect* area, void* refcon, Kernel kernel,
                    PF_EffectWorld* dst, Depth depth) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = in_data ? fromRef(in_data->effect_ref) : nullptr;
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(
            CallPoint::Iterate, std::string(depthName(depth)) + ", area " +
                                    (area ? rectText(*area) : std::string("whole")) + ", progress " +
                                    std::to_string(progressBase) + ".." + std::to_string(progressFinal));
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!dst || !kernel || !validWorld<P>(dst) || (src && !validWorld<P>(src)))
            return PF_Err_BAD_CALLBACK_PARAM;
        // A world the host knows must be of the suite's depth: a kernel of
        // one depth run over pixels of another would read past every row.
        for (const PF_EffectWorld* w : {static_cast<const PF_EffectWorld*>(src),
                                        static_cast<const PF_EffectWorld*>(dst)})
            if (w) {
                const std::optional<Depth> d = ctx->depthOf(w);
                if (d && *d != depth) return PF_Err_BAD_CALLBACK_PARAM;
            }

        PF_LRect rect = area ? *area : PF_LRect{0, 0, dst->width, dst->height};
        rect = intersect(rect, PF_LRect{0, 0, dst->width, dst->height});
        if (src) rect = intersect(rect, PF_LRect{0, 0, src->width, src->height});
        if (emptyRect(rect)) return PF_Err_NONE;

        const A_long rows = rect.bottom - rect.top;
        const unsigned threads =
            static_cast<unsigned>(std::min<A_long>(static_cast<A_long>(ctx->resolvedThreads()), rows));
        // Each thread records its first failure; the frame's error is the
        // one of the earliest row, whatever the scheduling.
        struct Failure {
            A_long y = 0;
            PF_Err err = PF_Err_NONE;
        };
        std::vector<Failure> failures(threads);
        // Rows are handed out in small runs rather than one band per thread,
        // so that a thread on a busier or slower core takes fewer of them
        // and no thread waits long for the last one. Every run is taken by
        // some thread, so a failing row still stops only its own thread.
        const A_long run = std::max<A_long>(1, rows / (static_cast<A_long>(threads) * 32));
        alignas(64) std::atomic<A_long> nextRow{rect.top};
        auto band = [&](unsigned t) {
            // Copied into locals that the kernel cannot reach, so that they
            // stay in registers across its call: everything the lambda
            // captures by reference would otherwise be read again from
            // memory after every pixel.
            const Kernel fn = kernel;
            void* const ref = refcon;
            const A_long left = rect.left;
            const A_long right = rect.right;
            const A_long bottom = rect.bottom;
            A_long y = rect.top;
            try {
                for (;;) {
                    y = nextRow.fetch_add(run, std::memory_order_relaxed);
                    if (y >= bottom) return;
                    const A_long end = std::min(y + run, bottom);
                    for (; y < end; ++y) {
                        P* const inRow = src ? pixelAt<P>(src, 0, y) : nullptr;
                        P* const outRow = pixelAt<P>(dst, 0, y);
                        for (A_long x = left; x < right; ++x) {
                            const PF_Err e = fn(ref, x, y, inRow ? inRow + x : nullptr, outRow + x);
                            if (e != PF_Err_NONE) {
                                failures[t] = Failure{y, e};
                                return;
                            }
                        }
                    }
                }
            } catch (...) {
                failures[t] = Failure{y, PF_Err_INTERNAL_STRUCT_DAMAGED};
            }
        };
        std::vector<std::thread> workers;
        workers.reserve(threads - 1);
        try {
            for (unsigned t = 1; t < threads; ++t) workers.emplace_back(band, t);
        } catch (...) {
            for (std::thread& w : workers) w.join();
            return PF_Err_OUT_OF_MEMORY;
        }
        band(0);
        for (std::thread& w : workers) w.join();
        const Failure* first = nullptr;
        for (const Failure& f : failures)
            if (f.err != PF_Err_NONE && (!first || f.y < first->y)) first = &f;
        return first ? first->err : PF_Err_NONE;
    });
}

PF_Err Iterate8(PF_InData* in_data, A_long b, A_long f, PF_EffectWorld* src, const PF_Rect* area,
                void* refcon, PF_IteratePixel8Func fn, PF_EffectWorld* dst) {
    return iterateWorld<PF_Pixel>(in_data, b, f, src, area, refcon, fn, dst, Depth::U8);
}
PF_Err Iterate16(PF_InData* in_data, A_long b, A_long f, PF_EffectWorld* src, const PF_Rect* area,
                 void* refcon, PF_IteratePixel16Func fn, PF_EffectWorld* dst) {
    return iterateWorld<PF_Pixel16>(in_data, b, f, src, area, refcon, fn, dst, Depth::U16);
}
PF_Err IterateFloat(PF_InData* in_data, A_long b, A_long f, PF_EffectWorld* src,
                    const PF_Rect* area, void* refcon, PF_IteratePixelFloatFunc fn,
                    PF_EffectWorld* dst) {
    return iterateWorld<PF_PixelFloat>(in_data, b, f, src, area, refcon, fn, dst, Depth::F32);
}

// The origin and LUT variants are not offered: refusing is safer than a
// half-right imitation.
template <class Fn>
PF_Err IterateOriginUnsupported(PF_InData* in_data, A_long, A_long, PF_EffectWorld*,
                                const PF_Rect*, const PF_Point*, void*, Fn, PF_EffectWorld*) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = in_data ? fromRef(in_data->effect_ref) : nullptr;
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::Iterate, "unsupported variant");
        return fault ? ctx->faultError : PF_Err_INVALID_CALLBACK;
    });
}

PF_Err IterateLutUnsupported(PF_InData* in_data, A_long, A_long, PF_EffectWorld*, const PF_Rect*,
                             A_u_char*, A_u_char*, A_u_char*, A_u_char*, PF_EffectWorld*) {
    return IterateOriginUnsupported<int>(in_data, 0, 0, nullptr, nullptr, nullptr, nullptr, 0,
                                         nullptr);
}

PF_Err IterateGenericUnsupported(A_long, void*, PF_Err (*)(void*, A_long, A_long, A_long)) {
    return PF_Err_INVALID_CALLBACK;
}

// ---- Interact callbacks ------------------------------------------------------------

PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step, A_u_long scale,
                     PF_ParamDef* param) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::CheckoutParam, "index " + std::to_string(index));
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!param) return PF_Err_BAD_CALLBACK_PARAM;
        if (index < 0 || static_cast<std::size_t>(index) >= ctx->params.size())
            return PF_Err_INVALID_INDEX;
        ctx->checkTime(("checkout_param(" + std::to_string(index) + ")").c_str(), time, step, scale);
        *param = ctx->params[static_cast<std::size_t>(index)].current;
        if (index == 0 && ctx->frameIn) param->u.ld = *ctx->frameIn->effectWorld();
        ctx->ledger.paramCheckedOut(index);
        return PF_Err_NONE;
    });
}

PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::CheckinParam, "");
        if (!param) return PF_Err_BAD_CALLBACK_PARAM;
        ctx->ledger.paramCheckedIn(0);
        return fault ? ctx->faultError : PF_Err_NONE;
    });
}

PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(
            CallPoint::AddParam, "index " + std::to_string(index) +
                                     (def ? ", id " + std::to_string(def->uu.id) : std::string()));
        if (fault == FaultMode::Error) return ctx->faultError;
        // Parameters are declared once, in parameter setup, and nowhere else.
        if (!def || ctx->currentCmd != PF_Cmd_PARAMS_SETUP) return PF_Err_BAD_CALLBACK_PARAM;
        if (index != PF_ParamIndex_APPEND && static_cast<std::size_t>(index) != ctx->params.size())
            return PF_Err_INVALID_INDEX;
        const void* nul = std::memchr(def->name, 0, sizeof def->name);
        if (!nul) return PF_Err_BAD_CALLBACK_PARAM;  // a label must end within its 32 bytes

        ParamInfo info;
        info.index = static_cast<int>(ctx->params.size());
        info.type = def->param_type;
        info.id = def->uu.id;
        info.name.assign(def->name, static_cast<const char*>(nul) - def->name);
        info.definition = *def;
        if (def->param_type == PF_Param_POPUP) {
            const char* list = def->u.pd.u.namesptr;
            if (!list) return PF_Err_BAD_CALLBACK_PARAM;
            // Byte by byte: nothing past the list's NUL is read.
            std::size_t n = 0;
            while (n < MAX_CHOICE_LIST && list[n]) ++n;
            if (n == MAX_CHOICE_LIST) return PF_Err_BAD_CALLBACK_PARAM;
            info.choices.assign(list, n);
            const long entries = 1 + std::count(info.choices.begin(), info.choices.end(), '|');
            if (entries != def->u.pd.num_choices)
                ctx->warn("popup \"" + info.name + "\" declares " +
                          std::to_string(def->u.pd.num_choices) + " choices but lists " +
                          std::to_string(entries));
        }
        info.current = info.definition;
        ctx->params.push_back(std::move(info));
        ctx->repointChoices();
        return PF_Err_NONE;
    });
}

PF_Err Abort(PF_ProgPtr) { return PF_Err_NONE; }
PF_Err Progress(PF_ProgPtr, A_long, A_long) { return PF_Err_NONE; }

// ---- Utility callbacks --------------------------------------------------------------

int AnsiSprintf(A_char* dst, const A_char* fmt, ...) {
    Host::Context* ctx = current();
    if (ctx) {
        try {
            ctx->record(CallPoint::AnsiSprintf, fmt ? fmt : "(null)");
        } catch (...) {
        }
    }
    if (!dst || !fmt) return -1;
    // The interface's sprintf has no size. Every text a plug-in prints for
    // the host is bounded by return_msg (256 bytes), so that is the bound:
    // inside return_msg, up to its end; anywhere else, 256 bytes.
    std::size_t bound = MAX_MESSAGE;
    if (ctx) {
        const A_char* begin = ctx->out.return_msg;
        const A_char* end = begin + sizeof ctx->out.return_msg;
        if (dst >= begin && dst < end) bound = static_cast<std::size_t>(end - dst);
    }
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(dst, bound, fmt, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return -1;
    }
    return std::min(n, static_cast<int>(bound - 1));
}

A_char* AnsiStrcpy(A_char* dst, const A_char* src) {
    Host::Context* ctx = current();
    if (ctx) {
        try {
            ctx->record(CallPoint::AnsiStrcpy, "");
        } catch (...) {
        }
    }
    if (!dst || !src) return dst;
    if (ctx) {
        const A_char* begin = ctx->out.return_msg;
        const A_char* end = begin + sizeof ctx->out.return_msg;
        if (dst >= begin && dst < end) {
            const std::size_t room = static_cast<std::size_t>(end - dst);
            std::size_t n = 0;
            while (n + 1 < room && src[n]) ++n;
            std::memmove(dst, src, n);
            dst[n] = '\0';
            return dst;
        }
    }
    return std::strcpy(dst, src);
}

PF_Err UtilsCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                 PF_Rect* dst_r) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(
            CallPoint::UtilsCopy, std::string(src_r ? rectText(*src_r) : "whole") + " -> " +
                                      (dst_r ? rectText(*dst_r) : "whole"));
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!src || !dst) return PF_Err_BAD_CALLBACK_PARAM;
        const std::optional<Depth> sd = ctx->depthOf(src), dd = ctx->depthOf(dst);
        // Copying between depths would need a conversion this host does not make.
        if (!sd || !dd || *sd != *dd) return PF_Err_BAD_CALLBACK_PARAM;
        const std::size_t px = pixelBytes(*sd);
        auto valid = [px](const PF_EffectWorld* w) {
            return w->width >= 0 && w->height >= 0 &&
                   (w->width == 0 || w->height == 0 ||
                    (w->data && w->rowbytes >= 0 &&
                     static_cast<std::size_t>(w->rowbytes) >= static_cast<std::size_t>(w->width) * px));
        };
        if (!valid(src) || !valid(dst)) return PF_Err_BAD_CALLBACK_PARAM;
        PF_LRect s = intersect(src_r ? *src_r : PF_LRect{0, 0, src->width, src->height},
                               PF_LRect{0, 0, src->width, src->height});
        const A_long dx = dst_r ? dst_r->left : 0, dy = dst_r ? dst_r->top : 0;
        if (src_r && (s.left != src_r->left || s.top != src_r->top)) return PF_Err_BAD_CALLBACK_PARAM;
        PF_LRect d{dx, dy, dx + (s.right - s.left), dy + (s.bottom - s.top)};
        if (dst_r) d = intersect(d, *dst_r);
        d = intersect(d, PF_LRect{0, 0, dst->width, dst->height});
        if (emptyRect(s) || emptyRect(d)) return PF_Err_NONE;
        const std::size_t bytes = static_cast<std::size_t>(d.right - d.left) * px;
        for (A_long y = d.top; y < d.bottom; ++y) {
            const auto* from = reinterpret_cast<const std::uint8_t*>(src->data) +
                               static_cast<std::ptrdiff_t>(s.top + (y - dy)) * src->rowbytes +
                               static_cast<std::ptrdiff_t>(s.left + (d.left - dx)) * static_cast<std::ptrdiff_t>(px);
            auto* to = reinterpret_cast<std::uint8_t*>(dst->data) +
                       static_cast<std::ptrdiff_t>(y) * dst->rowbytes +
                       static_cast<std::ptrdiff_t>(d.left) * static_cast<std::ptrdiff_t>(px);
            std::memmove(to, from, bytes);
        }
        return PF_Err_NONE;
    });
}

// ---- Pre-render and smart-render callbacks ------------------------------------------

PF_Err CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkoutId,
                     const PF_RenderRequest* req, A_long time, A_long step, A_u_long scale,
                     PF_CheckoutResult* result) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::CheckoutLayer, "index " + std::to_string(index) +
                                                                     ", id " + std::to_string(checkoutId));
        if (fault == FaultMode::Error) return ctx->faultError;
        if (ctx->currentCmd != PF_Cmd_SMART_PRE_RENDER || !ctx->frameIn || !req || !result)
            return PF_Err_BAD_CALLBACK_PARAM;
        if (index != 0) return PF_Err_INVALID_INDEX;  // the input is the only layer
        ctx->checkTime("checkout_layer", time, step, scale);
        ctx->lastRequest = *req;
        ctx->requestedIds.insert(checkoutId);
        *result = PF_CheckoutResult{};
        const PF_LRect bounds{0, 0, ctx->frameIn->width(), ctx->frameIn->height()};
        result->result_rect = bounds;
        result->max_result_rect = bounds;
        result->par = PF_RationalScale{1, 1};
        result->ref_width = ctx->frameIn->width();
        result->ref_height = ctx->frameIn->height();
        return PF_Err_NONE;
    });
}

PF_Err GuidMixIn(PF_ProgPtr ref, A_u_long, const void*) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::GuidMixIn, "");
        return fault ? ctx->faultError : PF_Err_NONE;
    });
}

PF_Err CheckoutLayerPixels(PF_ProgPtr ref, A_long checkoutId, PF_EffectWorld** pixels) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::CheckoutLayerPixels, "id " + std::to_string(checkoutId));
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!pixels) return PF_Err_BAD_CALLBACK_PARAM;
        if (fault == FaultMode::NullResult) {
            *pixels = nullptr;
            return PF_Err_NONE;
        }
        // Only what the pre-render of this frame asked for can be fetched.
        if (ctx->currentCmd != PF_Cmd_SMART_RENDER || !ctx->frameIn ||
            !ctx->requestedIds.count(checkoutId)) {
            *pixels = nullptr;
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *pixels = ctx->frameIn->effectWorld();
        ctx->ledger.layerCheckedOut(checkoutId);
        return PF_Err_NONE;
    });
}

PF_Err CheckinLayerPixels(PF_ProgPtr ref, A_long checkoutId) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::CheckinLayerPixels, "id " + std::to_string(checkoutId));
        ctx->ledger.layerCheckedIn(checkoutId);
        return fault ? ctx->faultError : PF_Err_NONE;
    });
}

PF_Err CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
    return guarded([&]() -> PF_Err {
        Host::Context* ctx = fromRef(ref);
        if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
        const auto fault = ctx->record(CallPoint::CheckoutOutput, "");
        if (fault == FaultMode::Error) return ctx->faultError;
        if (!output) return PF_Err_BAD_CALLBACK_PARAM;
        if (fault == FaultMode::NullResult) {
            *output = nullptr;
            return PF_Err_NONE;
        }
        if (ctx->currentCmd != PF_Cmd_SMART_RENDER || !ctx->frameOut) {
            *output = nullptr;
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *output = ctx->frameOut->effectWorld();
        return PF_Err_NONE;
    });
}

// ---- ANSI maths: plain library functions --------------------------------------------

A_FpLong MathAtan(A_FpLong x) { return std::atan(x); }
A_FpLong MathAtan2(A_FpLong y, A_FpLong x) { return std::atan2(y, x); }
A_FpLong MathCeil(A_FpLong x) { return std::ceil(x); }
A_FpLong MathCos(A_FpLong x) { return std::cos(x); }
A_FpLong MathExp(A_FpLong x) { return std::exp(x); }
A_FpLong MathFabs(A_FpLong x) { return std::fabs(x); }
A_FpLong MathFloor(A_FpLong x) { return std::floor(x); }
A_FpLong MathFmod(A_FpLong x, A_FpLong y) { return std::fmod(x, y); }
A_FpLong MathHypot(A_FpLong x, A_FpLong y) { return std::hypot(x, y); }
A_FpLong MathLog(A_FpLong x) { return std::log(x); }
A_FpLong MathLog10(A_FpLong x) { return std::log10(x); }
A_FpLong MathPow(A_FpLong x, A_FpLong y) { return std::pow(x, y); }
A_FpLong MathSin(A_FpLong x) { return std::sin(x); }
A_FpLong MathSqrt(A_FpLong x) { return std::sqrt(x); }
A_FpLong MathTan(A_FpLong x) { return std::tan(x); }
A_FpLong MathAsin(A_FpLong x) { return std::asin(x); }
A_FpLong MathAcos(A_FpLong x) { return std::acos(x); }

}  // namespace

Host::Context::Context() {
    basic.AcquireSuite = AcquireSuite;
    basic.ReleaseSuite = ReleaseSuite;
    basic.IsEqual = IsEqual;
    basic.AllocateBlock = AllocateBlock;
    basic.FreeBlock = FreeBlock;
    basic.ReallocateBlock = ReallocateBlock;
    basic.Undefined = Undefined;

    handleSuite.host_new_handle = NewHandle;
    handleSuite.host_lock_handle = LockHandle;
    handleSuite.host_unlock_handle = UnlockHandle;
    handleSuite.host_dispose_handle = DisposeHandle;
    handleSuite.host_get_handle_size = GetHandleSize;
    handleSuite.host_resize_handle = ResizeHandle;

    colorSuite.PF_GetFloatingPointColorFromColorDef = FloatColorFromColorDef;

    worldSuite2.PF_NewWorld = NewWorld2;
    worldSuite2.PF_DisposeWorld = DisposeWorld;
    worldSuite2.PF_GetPixelFormat = GetPixelFormat;
    worldSuite1.new_world = NewWorld1;
    worldSuite1.dispose_world = DisposeWorld;

    iterate8.iterate = Iterate8;
    iterate8.iterate_origin = IterateOriginUnsupported<PF_IteratePixel8Func>;
    iterate8.iterate_lut = IterateLutUnsupported;
    iterate8.iterate_origin_non_clip_src = IterateOriginUnsupported<PF_IteratePixel8Func>;
    iterate8.iterate_generic = IterateGenericUnsupported;
    iterate16.iterate = Iterate16;
    iterate16.iterate_origin = IterateOriginUnsupported<PF_IteratePixel16Func>;
    iterate16.iterate_origin_non_clip_src = IterateOriginUnsupported<PF_IteratePixel16Func>;
    iterateFloat.iterate = IterateFloat;
    iterateFloat.iterate_origin = IterateOriginUnsupported<PF_IteratePixelFloatFunc>;
    iterateFloat.iterate_origin_non_clip_src = IterateOriginUnsupported<PF_IteratePixelFloatFunc>;

    preRenderCb.checkout_layer = CheckoutLayer;
    preRenderCb.GuidMixInPtr = GuidMixIn;
    smartRenderCb.checkout_layer_pixels = CheckoutLayerPixels;
    smartRenderCb.checkin_layer_pixels = CheckinLayerPixels;
    smartRenderCb.checkout_output = CheckoutOutput;

    utils.copy = UtilsCopy;
    utils.iterate = Iterate8;
    utils.iterate16 = Iterate16;
    utils.host_new_handle = NewHandle;
    utils.host_lock_handle = LockHandle;
    utils.host_unlock_handle = UnlockHandle;
    utils.host_dispose_handle = DisposeHandle;
    utils.host_get_handle_size = GetHandleSize;
    utils.host_resize_handle = ResizeHandle;
    utils.ansi.atan = MathAtan;
    utils.ansi.atan2 = MathAtan2;
    utils.ansi.ceil = MathCeil;
    utils.ansi.cos = MathCos;
    utils.ansi.exp = MathExp;
    utils.ansi.fabs = MathFabs;
    utils.ansi.floor = MathFloor;
    utils.ansi.fmod = MathFmod;
    utils.ansi.hypot = MathHypot;
    utils.ansi.log = MathLog;
    utils.ansi.log10 = MathLog10;
    utils.ansi.pow = MathPow;
    utils.ansi.sin = MathSin;
    utils.ansi.sqrt = MathSqrt;
    utils.ansi.tan = MathTan;
    utils.ansi.sprintf = AnsiSprintf;
    utils.ansi.strcpy = AnsiStrcpy;
    utils.ansi.asin = MathAsin;
    utils.ansi.acos = MathAcos;

    suites[{kPFHandleSuite, kPFHandleSuiteVersion1}] = &handleSuite;
    suites[{kPFColorParamSuite, kPFColorParamSuiteVersion1}] = &colorSuite;
    suites[{kPFWorldSuite, kPFWorldSuiteVersion2}] = &worldSuite2;
    suites[{kPFWorldSuite, kPFWorldSuiteVersion1}] = &worldSuite1;
    for (int32_t v : {1, 2}) {
        suites[{kPFIterate8Suite, v}] = &iterate8;
        suites[{kPFIterate16Suite, v}] = &iterate16;
        suites[{kPFIterateFloatSuite, v}] = &iterateFloat;
    }

    // The input layer: parameter 0, supplied by the host.
    ParamInfo layer;
    layer.index = 0;
    layer.type = PF_Param_LAYER;
    layer.definition.param_type = PF_Param_LAYER;
    layer.current = layer.definition;
    params.push_back(layer);
}

// ===========================================================================
// Results
// ===========================================================================

bool CommandResult::displaysError() const {
    return (out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
}

std::string CommandResult::message() const {
    if (!displaysError()) return std::string();
    const void* nul = std::memchr(out.return_msg, 0, sizeof out.return_msg);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - out.return_msg) : sizeof out.return_msg;
    return std::string(out.return_msg, n);
}

PF_Err FrameResult::err() const {
    if (preRender.err) return preRender.err;
    return render ? render->err : PF_Err_NONE;
}

std::vector<std::string> FrameResult::imbalances() const {
    std::vector<std::string> out;
    for (const auto& s : preRender.imbalances) out.push_back("pre-render: " + s);
    if (render)
        for (const auto& s : render->imbalances) out.push_back("render: " + s);
    return out;
}

std::optional<HostCall> FrameResult::injected() const {
    if (preRender.injected) return preRender.injected;
    return render ? render->injected : std::nullopt;
}

bool FrameResult::exceptionEscaped() const {
    return preRender.exceptionEscaped || (render && render->exceptionEscaped);
}

// ===========================================================================
// Host
// ===========================================================================

Host::Host(PF_FilterProc entry, HostOptions options) : ctx_(new Context) {
    if (!entry) throw Error("no entry point to call");
    ctx_->entry = entry;
    ctx_->options = options;
    ctx_->in.current_time = options.currentTime;
    ctx_->in.time_step = options.timeStep;
    ctx_->in.time_scale = options.timeScale;
}

Host::Host(const PluginLibrary& library, HostOptions options) : Host(library.entry(), options) {
    if (const auto& bytes = library.registrationResource()) {
        try {
            ctx_->pipl = parsePipl(*bytes);
        } catch (const PiplError& e) {
            ctx_->warnings.push_back("registration resource of " + library.path() +
                                     " is unreadable: " + e.what());
        }
    }
}

Host::~Host() = default;

void Host::setThreads(unsigned threads) { ctx_->options.threads = threads; }
unsigned Host::threads() const { return ctx_->resolvedThreads(); }

void Host::setTime(A_long currentTime, A_long timeStep, A_u_long timeScale) {
    ctx_->options.currentTime = currentTime;
    ctx_->options.timeStep = timeStep;
    ctx_->options.timeScale = timeScale;
}

void Host::setBasicSuiteAvailable(bool available) { ctx_->basicAvailable = available; }
void Host::setRegistration(const PiplInfo& pipl) { ctx_->pipl = pipl; }
void Host::clearRegistration() { ctx_->pipl.reset(); }
const std::optional<PiplInfo>& Host::registration() const { return ctx_->pipl; }
const std::vector<std::string>& Host::warnings() const { return ctx_->warnings; }

void Host::setFaultPlan(std::optional<FaultPlan> plan) {
    std::lock_guard<std::mutex> lock(ctx_->mutex);
    ctx_->plan = plan;
}

const std::optional<FaultPlan>& Host::faultPlan() const { return ctx_->plan; }

namespace {

// Makes the calling thread run a command of `ctx` for the guard's lifetime.
class CurrentGuard {
public:
    explicit CurrentGuard(Host::Context* ctx) : previous_(tlsCurrent) { tlsCurrent = ctx; }
    ~CurrentGuard() { tlsCurrent = previous_; }
    CurrentGuard(const CurrentGuard&) = delete;
    CurrentGuard& operator=(const CurrentGuard&) = delete;

private:
    Host::Context* previous_;
};

void resetBooks(Host::Context& ctx, PF_Cmd cmd) {
    std::lock_guard<std::mutex> lock(ctx.mutex);
    ctx.currentCmd = cmd;
    ctx.trace.clear();
    ctx.injected.reset();
    ctx.injectedIndex = 0;
    ctx.commandWarnings.clear();
    ctx.ledger.clear();
}

}  // namespace

CommandResult Host::run(PF_Cmd cmd, PF_ParamDef** params, PF_LayerDef* output, void* extra) {
    Context& ctx = *ctx_;
    resetBooks(ctx, cmd);

    PF_InData& in = ctx.in;
    in = PF_InData{};
    in.inter.checkout_param = CheckoutParam;
    in.inter.checkin_param = CheckinParam;
    in.inter.add_param = AddParam;
    in.inter.abort = Abort;
    in.inter.progress = Progress;
    in.utils = &ctx.utils;
    in.effect_ref = ctx.ref();
    in.quality = 1;
    in.version = PF_SpecVersion{13, 28};
    in.num_params = static_cast<A_long>(ctx.params.size());
    in.current_time = ctx.options.currentTime;
    in.time_step = ctx.options.timeStep;
    in.total_time = ctx.options.timeStep;
    in.local_time_step = ctx.options.timeStep;
    in.time_scale = ctx.options.timeScale;
    if (ctx.frameIn) {
        in.width = ctx.frameIn->width();
        in.height = ctx.frameIn->height();
        in.extent_hint = PF_LRect{0, 0, in.width, in.height};
    }
    in.downsample_x = in.downsample_y = in.pixel_aspect_ratio = PF_RationalScale{1, 1};
    in.pica_basicP = ctx.basicAvailable ? &ctx.basic : nullptr;
    ctx.out = PF_OutData{};

    CommandResult result;
    result.cmd = cmd;
    {
        CurrentGuard guard(&ctx);
        try {
            result.err = ctx.entry(cmd, &in, &ctx.out, params, output, extra);
        } catch (...) {
            // Undefined in the host's world; here it is caught and reported.
            result.exceptionEscaped = true;
            result.err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
    }
    result.out = ctx.out;
    std::lock_guard<std::mutex> lock(ctx.mutex);
    result.calls = ctx.trace;
    result.injected = ctx.injected;
    result.injectedIndex = ctx.injectedIndex;
    result.warnings = ctx.commandWarnings;
    ctx.currentCmd = -1;
    return result;
}

namespace {

void closeBooks(Host::Context& ctx, CommandResult& result) {
    result.imbalances = ctx.ledger.imbalances();
    result.notes = ctx.ledger.notes();
    for (const std::string& w : result.warnings) ctx.warnings.push_back(w);
}

// The array of parameter pointers a host passes with the setup commands.
std::vector<PF_ParamDef*> paramPointers(std::vector<ParamInfo>& params) {
    std::vector<PF_ParamDef*> out;
    for (ParamInfo& p : params) out.push_back(&p.current);
    out.push_back(nullptr);
    return out;
}

}  // namespace

CommandResult Host::about(std::string& text) {
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(PF_Cmd_ABOUT, params.data(), &output, nullptr);
    closeBooks(*ctx_, r);
    const void* nul = std::memchr(r.out.return_msg, 0, sizeof r.out.return_msg);
    text.assign(r.out.return_msg,
                nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - r.out.return_msg)
                    : sizeof r.out.return_msg);
    return r;
}

CommandResult Host::globalSetup() {
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(PF_Cmd_GLOBAL_SETUP, params.data(), &output, nullptr);
    if (r.err == PF_Err_NONE && ctx_->pipl) {
        const PiplInfo& p = *ctx_->pipl;
        auto compare = [&r](const char* what, const std::optional<std::uint32_t>& fromResource,
                            std::uint32_t reported) {
            char buf[160];
            if (!fromResource)
                std::snprintf(buf, sizeof buf, "registration resource has no %s", what);
            else if (*fromResource != reported)
                std::snprintf(buf, sizeof buf,
                              "%s: global setup reports 0x%08X, the registration resource 0x%08X",
                              what, static_cast<unsigned>(reported), static_cast<unsigned>(*fromResource));
            else
                return;
            r.warnings.push_back(buf);
        };
        compare("version (eVER)", p.version, r.out.my_version);
        compare("out_flags (eGLO)", p.outFlags, static_cast<std::uint32_t>(r.out.out_flags));
        compare("out_flags2 (eGL2)", p.outFlags2, static_cast<std::uint32_t>(r.out.out_flags2));
    }
    closeBooks(*ctx_, r);
    return r;
}

CommandResult Host::paramsSetup() {
    ctx_->params.resize(1);
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(PF_Cmd_PARAMS_SETUP, params.data(), &output, nullptr);
    if (r.err == PF_Err_NONE && r.out.num_params != static_cast<A_long>(ctx_->params.size()))
        r.warnings.push_back("parameter setup reports " + std::to_string(r.out.num_params) +
                             " parameters, the host holds " + std::to_string(ctx_->params.size()));
    closeBooks(*ctx_, r);
    return r;
}

CommandResult Host::sendCommand(PF_Cmd cmd) {
    std::vector<PF_ParamDef*> params = paramPointers(ctx_->params);
    PF_LayerDef output{};
    CommandResult r = run(cmd, params.data(), &output, nullptr);
    closeBooks(*ctx_, r);
    return r;
}

namespace {

PF_RenderRequest hostRequest(const World& in) {
    PF_RenderRequest req{};
    req.rect = PF_LRect{0, 0, in.width(), in.height()};
    req.field = 0;
    req.channel_mask = ALL_CHANNELS;
    req.preserve_rgb_of_zero_alpha = 0;
    return req;
}

}  // namespace

CommandResult Host::smartPreRender(World& in, PF_PreRenderOutput& output) {
    Context& ctx = *ctx_;
    ctx.frameIn = &in;
    ctx.frameOut = nullptr;
    ctx.frameWorlds = {{in.effectWorld(), in.depth()}};
    ctx.requestedIds.clear();
    ctx.lastRequest.reset();

    PF_PreRenderInput input{};
    input.output_request = hostRequest(in);
    input.bitdepth = bitdepthOf(in.depth());
    PF_PreRenderExtra extra{&input, &output, &ctx.preRenderCb};
    CommandResult r = run(PF_Cmd_SMART_PRE_RENDER, nullptr, nullptr, &extra);
    ctx.deleteFunc = output.delete_pre_render_data_func;
    // From here the pre-render data is the host's, to dispose of after the frame.
    if (output.pre_render_data) ctx.ledger.exemptHandle(static_cast<PF_Handle>(output.pre_render_data));
    closeBooks(ctx, r);
    ctx.frameIn = nullptr;
    ctx.frameWorlds.clear();
    return r;
}

CommandResult Host::smartRender(World& in, World& out, void* preRenderData) {
    Context& ctx = *ctx_;
    if (in.depth() != out.depth() || in.width() != out.width() || in.height() != out.height())
        throw Error("input and output worlds differ in depth or size");
    ctx.frameIn = &in;
    ctx.frameOut = &out;
    ctx.frameWorlds = {{in.effectWorld(), in.depth()}, {out.effectWorld(), out.depth()}};

    PF_SmartRenderInput input{};
    input.output_request = hostRequest(in);
    input.bitdepth = bitdepthOf(in.depth());
    input.pre_render_data = preRenderData;
    PF_SmartRenderExtra extra{&input, &ctx.smartRenderCb};
    CommandResult r = run(PF_Cmd_SMART_RENDER, nullptr, nullptr, &extra);
    closeBooks(ctx, r);
    ctx.frameIn = ctx.frameOut = nullptr;
    ctx.frameWorlds.clear();
    return r;
}

void Host::disposePreRenderData(void* preRenderData) {
    Context& ctx = *ctx_;
    if (!preRenderData) return;
    if (ctx.deleteFunc) {
        PF_DeletePreRenderDataFunc f = ctx.deleteFunc;
        ctx.deleteFunc = nullptr;
        CurrentGuard guard(&ctx);
        try {
            f(preRenderData);
        } catch (...) {
            ctx.warnings.push_back("delete_pre_render_data_func let an exception out");
        }
        return;
    }
    std::lock_guard<std::mutex> lock(ctx.handleMutex);
    ctx.handles.erase(static_cast<PF_Handle>(preRenderData));
}

std::optional<PF_RenderRequest> Host::lastLayerRequest() const { return ctx_->lastRequest; }

FrameResult Host::renderFrame(World& in, World& out) {
    if (in.depth() != out.depth() || in.width() != out.width() || in.height() != out.height())
        throw Error("input and output worlds differ in depth or size");
    FrameResult frame;
    PF_PreRenderOutput output{};
    frame.preRender = smartPreRender(in, output);
    frame.resultRect = output.result_rect;
    frame.maxResultRect = output.max_result_rect;
    frame.hadPreRenderData = output.pre_render_data != nullptr;
    if (frame.preRender.err == PF_Err_NONE) frame.render = smartRender(in, out, output.pre_render_data);
    disposePreRenderData(output.pre_render_data);
    return frame;
}

const std::vector<ParamInfo>& Host::params() const { return ctx_->params; }

namespace {

ParamInfo& paramOfType(std::vector<ParamInfo>& params, int index, PF_ParamType type,
                       const char* what) {
    if (index < 0 || static_cast<std::size_t>(index) >= params.size())
        throw Error("no parameter " + std::to_string(index) + " (the effect has " +
                    std::to_string(params.size()) + ")");
    ParamInfo& p = params[static_cast<std::size_t>(index)];
    if (p.type != type)
        throw Error("parameter " + std::to_string(index) + " is not a " + what);
    return p;
}

}  // namespace

void Host::setColor(int index, PF_Pixel value) {
    paramOfType(ctx_->params, index, PF_Param_COLOR, "colour").current.u.cd.value = value;
}

void Host::setFloat(int index, double value) {
    paramOfType(ctx_->params, index, PF_Param_FLOAT_SLIDER, "float slider").current.u.fs_d.value = value;
}

void Host::setPopup(int index, A_long value) {
    paramOfType(ctx_->params, index, PF_Param_POPUP, "popup").current.u.pd.value = value;
}

const PF_ParamDef& Host::paramValue(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= ctx_->params.size())
        throw Error("no parameter " + std::to_string(index));
    return ctx_->params[static_cast<std::size_t>(index)].current;
}

const Ledger& Host::ledger() const { return ctx_->ledger; }

std::vector<HostCall> Host::trace() const {
    std::lock_guard<std::mutex> lock(ctx_->mutex);
    return ctx_->trace;
}

Host::CallScope::CallScope(Host& host) : host_(host), previous_(tlsCurrent) {
    resetBooks(*host.ctx_, -1);
    Context& ctx = *host.ctx_;
    ctx.in = PF_InData{};
    ctx.in.utils = &ctx.utils;
    ctx.in.effect_ref = ctx.ref();
    ctx.in.pica_basicP = ctx.basicAvailable ? &ctx.basic : nullptr;
    ctx.in.current_time = ctx.options.currentTime;
    ctx.in.time_step = ctx.options.timeStep;
    ctx.in.time_scale = ctx.options.timeScale;
    tlsCurrent = host.ctx_.get();
}

Host::CallScope::~CallScope() {
    tlsCurrent = static_cast<Context*>(previous_);
    (void)host_;
}

SPBasicSuite* Host::basicSuite() { return &ctx_->basic; }
PF_InData* Host::inData() { return &ctx_->in; }

void Host::exposeWorld(World& world) { ctx_->exposed[world.effectWorld()] = world.depth(); }
void Host::forgetWorlds() { ctx_->exposed.clear(); }

}  // namespace refhost

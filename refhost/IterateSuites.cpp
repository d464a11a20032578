// The iterate suites ("PF Iterate8 Suite", "PF iterate16 Suite",
// "PF iterateFloat Suite", v1 and v2, and utils->iterate / iterate16): the
// kernel over every pixel of an area, the rows spread over the host's
// threads.
#include <algorithm>
#include <atomic>
#include <thread>

#include "refhost/HostContext.h"

namespace refhost {
namespace {

template <class P>
P* pixelAt(const PF_EffectWorld* w, A_long x, A_long y) {
    auto* base = reinterpret_cast<std::uint8_t*>(w->data);
    return reinterpret_cast<P*>(base + static_cast<std::ptrdiff_t>(y) * w->rowbytes) + x;
}

// The engine: `kernel` over the area's pixels, rows spread over the
// host's threads.
template <class P, class Kernel>
PF_Err iterateRows(Host::Context& ctx, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                   Kernel kernel, PF_EffectWorld* dst, Depth depth) {
    if (!dst || !kernel || !validWorld(dst, sizeof(P)) || (src && !validWorld(src, sizeof(P))))
        return PF_Err_BAD_CALLBACK_PARAM;
    // A world the host knows must be of the suite's depth: a kernel of
    // one depth run over pixels of another would read past every row.
    for (const PF_EffectWorld* w :
         {static_cast<const PF_EffectWorld*>(src), static_cast<const PF_EffectWorld*>(dst)})
        if (w) {
            const std::optional<Depth> d = ctx.depthOf(w);
            if (d && *d != depth) return PF_Err_BAD_CALLBACK_PARAM;
        }

    PF_LRect rect = area ? *area : PF_LRect{0, 0, dst->width, dst->height};
    rect = intersect(rect, PF_LRect{0, 0, dst->width, dst->height});
    if (src) rect = intersect(rect, PF_LRect{0, 0, src->width, src->height});
    if (emptyRect(rect)) return PF_Err_NONE;

    const A_long rows = rect.bottom - rect.top;
    const unsigned threads =
        static_cast<unsigned>(std::min<A_long>(static_cast<A_long>(ctx.resolvedThreads()), rows));
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
}

template <class P, class Kernel>
PF_Err iterateWorld(PF_InData* in_data, A_long progressBase, A_long progressFinal,
                    PF_EffectWorld* src, const PF_Rect* area, void* refcon, Kernel kernel,
                    PF_EffectWorld* dst, Depth depth) {
    auto detail = [&] {
        return std::string(depthName(depth)) + ", area " +
               (area ? rectText(*area) : std::string("whole")) + ", progress " +
               std::to_string(progressBase) + ".." + std::to_string(progressFinal);
    };
    return hostCall(contextOf(in_data), CallPoint::Iterate, detail,
                    [&](Host::Context& ctx, std::optional<FaultMode>) {
                        return iterateRows<P>(ctx, src, area, refcon, kernel, dst, depth);
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
PF_Err IterateOriginUnsupported(PF_InData* in_data, A_long, A_long, PF_EffectWorld*, const PF_Rect*,
                                const PF_Point*, void*, Fn, PF_EffectWorld*) {
    return hostCall(
        contextOf(in_data), CallPoint::Iterate, "unsupported variant",
        [](Host::Context&, std::optional<FaultMode>) { return PF_Err_INVALID_CALLBACK; });
}

PF_Err IterateLutUnsupported(PF_InData* in_data, A_long, A_long, PF_EffectWorld*, const PF_Rect*,
                             A_u_char*, A_u_char*, A_u_char*, A_u_char*, PF_EffectWorld*) {
    return IterateOriginUnsupported<int>(in_data, 0, 0, nullptr, nullptr, nullptr, nullptr, 0,
                                         nullptr);
}

PF_Err IterateGenericUnsupported(A_long, void*, PF_Err (*)(void*, A_long, A_long, A_long)) {
    return PF_Err_INVALID_CALLBACK;
}

}  // namespace

void installIterateSuites(Host::Context& ctx) {
    // Only plain iteration is offered; the other slots answer that they are not.
    ctx.iterate8 = PF_Iterate8Suite1{
        Iterate8, IterateOriginUnsupported<PF_IteratePixel8Func>, IterateLutUnsupported,
        IterateOriginUnsupported<PF_IteratePixel8Func>, IterateGenericUnsupported};
    ctx.iterate16 = PF_Iterate16Suite1{Iterate16, IterateOriginUnsupported<PF_IteratePixel16Func>,
                                       IterateOriginUnsupported<PF_IteratePixel16Func>};
    ctx.iterateFloat =
        PF_IterateFloatSuite1{IterateFloat, IterateOriginUnsupported<PF_IteratePixelFloatFunc>,
                              IterateOriginUnsupported<PF_IteratePixelFloatFunc>};
    for (int32_t v : {1, 2}) {
        ctx.suites[{kPFIterate8Suite, v}] = &ctx.iterate8;
        ctx.suites[{kPFIterate16Suite, v}] = &ctx.iterate16;
        ctx.suites[{kPFIterateFloatSuite, v}] = &ctx.iterateFloat;
    }
    ctx.utils.iterate = Iterate8;
    ctx.utils.iterate16 = Iterate16;
}

}  // namespace refhost

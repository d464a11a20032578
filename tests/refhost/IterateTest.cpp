// The host's iterate runs the effect's kernel over every pixel; a wrong
// row step, a missed or repeated pixel, or a thread split that changes the
// result would all be blamed on the kernel. Exercised directly through the
// suites, on padded worlds of every depth.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "refhost/RefHost.h"

namespace refhosttest {
namespace {

using refhost::Depth;
using refhost::Host;
using refhost::World;

// The host is only needed for its suites here; no command is sent.
extern "C" PF_Err IdleEntry(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
    return PF_Err_NONE;
}

// What every kernel call of one iterate saw.
struct Visits {
    const World* src = nullptr;
    World* dst = nullptr;
    std::vector<std::atomic<int>> count;
    std::atomic<int> misplaced{0};
    A_long failRowA = -1, failRowB = -1;

    Visits(const World* s, World* d)
        : src(s), dst(d), count(static_cast<std::size_t>(d->width() * d->height())) {}
};

template <class P>
PF_Err visit(void* refcon, A_long x, A_long y, P* in, P* out) {
    auto* v = static_cast<Visits*>(refcon);
    // The pixels handed over must be the ones at (x, y), rows rowbytes apart.
    const P* expectIn = v->src ? &v->src->template at<P>(x, y) : nullptr;
    if (in != expectIn || out != &v->dst->template at<P>(x, y)) {
        ++v->misplaced;
        return PF_Err_NONE;
    }
    ++v->count[static_cast<std::size_t>(y * v->dst->width() + x)];
    if (y == v->failRowA) return PF_Err_OUT_OF_MEMORY;
    if (y == v->failRowB) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (in) {
        *out = *in;
        std::memcpy(&out->alpha, &x, sizeof(out->alpha) < sizeof x ? sizeof(out->alpha) : sizeof x);
    }
    return PF_Err_NONE;
}

// Runs the suite of `depth` with the given area over src -> dst.
PF_Err iterate(Host& host, Depth depth, World* src, World& dst, const PF_Rect* area, void* refcon,
               bool nullKernel = false) {
    SPBasicSuite* basic = host.basicSuite();
    const void* suite = nullptr;
    PF_InData* in = host.inData();
    PF_EffectWorld* s = src ? src->effectWorld() : nullptr;
    PF_Err err = PF_Err_NONE;
    switch (depth) {
        case Depth::U8:
            basic->AcquireSuite(kPFIterate8Suite, 1, &suite);
            err = static_cast<const PF_Iterate8Suite1*>(suite)->iterate(
                in, 0, dst.height(), s, area, refcon, nullKernel ? nullptr : visit<PF_Pixel>,
                dst.effectWorld());
            basic->ReleaseSuite(kPFIterate8Suite, 1);
            break;
        case Depth::U16:
            basic->AcquireSuite(kPFIterate16Suite, 1, &suite);
            err = static_cast<const PF_Iterate16Suite1*>(suite)->iterate(
                in, 0, dst.height(), s, area, refcon, nullKernel ? nullptr : visit<PF_Pixel16>,
                dst.effectWorld());
            basic->ReleaseSuite(kPFIterate16Suite, 1);
            break;
        case Depth::F32:
            basic->AcquireSuite(kPFIterateFloatSuite, 1, &suite);
            err = static_cast<const PF_IterateFloatSuite1*>(suite)->iterate(
                in, 0, dst.height(), s, area, refcon, nullKernel ? nullptr : visit<PF_PixelFloat>,
                dst.effectWorld());
            basic->ReleaseSuite(kPFIterateFloatSuite, 1);
            break;
    }
    return err;
}

void fill(World& w) {
    for (int y = 0; y < w.height(); ++y) {
        std::uint8_t* r = w.rowBytes(y);
        for (std::size_t i = 0; i < static_cast<std::size_t>(w.width()) * w.pixelSize(); ++i)
            r[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(y) * 13 + 1);
    }
}

constexpr Depth DEPTHS[] = {Depth::U8, Depth::U16, Depth::F32};

std::string everyPixelOnce(const Visits& v, const PF_LRect& rect) {
    if (v.misplaced) return std::to_string(v.misplaced.load()) + " calls with pixels not at (x, y)";
    for (int y = 0; y < v.dst->height(); ++y)
        for (int x = 0; x < v.dst->width(); ++x) {
            const bool inside =
                x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
            const int n = v.count[static_cast<std::size_t>(y * v.dst->width() + x)];
            if (n != (inside ? 1 : 0))
                return "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") visited " +
                       std::to_string(n) + " times";
        }
    return "";
}

TEST(Iterate, VisitsEachPixelOnceAtItsPlaceAndLeavesPaddingAlone) {
    for (Depth depth : DEPTHS) {
        for (unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(std::string(refhost::depthName(depth)) + ", " + std::to_string(threads) +
                         " threads");
            Host host(IdleEntry, {threads});
            Host::CallScope scope(host);
            const int channel = static_cast<int>(refhost::pixelBytes(depth) / 4);
            World src(depth, 7, 5, 3 * channel), dst(depth, 7, 5, 5 * channel);
            fill(src);
            Visits v(&src, &dst);
            EXPECT_EQ(iterate(host, depth, &src, dst, nullptr, &v), PF_Err_NONE);
            EXPECT_EQ(everyPixelOnce(v, PF_LRect{0, 0, 7, 5}), "");
            EXPECT_TRUE(dst.paddingIntact());
            EXPECT_TRUE(src.paddingIntact());
            EXPECT_TRUE(host.ledger().imbalances().empty());
        }
    }
}

TEST(Iterate, HonoursTheAreaClippedToBothWorlds) {
    const struct {
        const char* what;
        std::optional<PF_LRect> area;
        int srcWidth, srcHeight;
        PF_LRect visited;
    } rows[] = {
        {"no area: the whole output", std::nullopt, 6, 4, {0, 0, 6, 4}},
        {"an inner area", PF_LRect{1, 2, 4, 3}, 6, 4, {1, 2, 4, 3}},
        {"an area reaching outside", PF_LRect{-3, -1, 2, 99}, 6, 4, {0, 0, 2, 4}},
        {"an empty area", PF_LRect{3, 3, 1, 1}, 6, 4, {0, 0, 0, 0}},
        {"a source smaller than the output", std::nullopt, 3, 2, {0, 0, 3, 2}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Host host(IdleEntry, {2});
        Host::CallScope scope(host);
        World src(Depth::U8, row.srcWidth, row.srcHeight), dst(Depth::U8, 6, 4);
        Visits v(&src, &dst);
        EXPECT_EQ(iterate(host, Depth::U8, &src, dst, row.area ? &*row.area : nullptr, &v),
                  PF_Err_NONE);
        EXPECT_EQ(everyPixelOnce(v, row.visited), "");
    }
}

TEST(Iterate, ANullSourceGivesTheKernelANullInput) {
    Host host(IdleEntry);
    Host::CallScope scope(host);
    World dst(Depth::F32, 3, 3);
    Visits v(nullptr, &dst);
    EXPECT_EQ(iterate(host, Depth::F32, nullptr, dst, nullptr, &v), PF_Err_NONE);
    EXPECT_EQ(everyPixelOnce(v, PF_LRect{0, 0, 3, 3}), "");
}

TEST(Iterate, ThreadCountDoesNotChangeTheImageOrTheError) {
    for (Depth depth : DEPTHS) {
        SCOPED_TRACE(refhost::depthName(depth));
        World src(depth, 37, 23, static_cast<int>(refhost::pixelBytes(depth)));
        fill(src);
        World reference(depth, 37, 23);
        {
            Host host(IdleEntry, {1});
            Host::CallScope scope(host);
            Visits v(&src, &reference);
            ASSERT_EQ(iterate(host, depth, &src, reference, nullptr, &v), PF_Err_NONE);
        }
        for (unsigned threads : {2u, 4u, 7u, 64u}) {
            SCOPED_TRACE(std::to_string(threads) + " threads");
            Host host(IdleEntry, {threads});
            Host::CallScope scope(host);
            World dst(depth, 37, 23);
            Visits v(&src, &dst);
            EXPECT_EQ(iterate(host, depth, &src, dst, nullptr, &v), PF_Err_NONE);
            EXPECT_TRUE(dst.samePixels(reference));
            // Two rows fail, likely on different threads: the earlier row's
            // error is the answer, however the threads were scheduled.
            World again(depth, 37, 23);
            Visits failing(&src, &again);
            failing.failRowA = 19;
            failing.failRowB = 4;
            EXPECT_EQ(iterate(host, depth, &src, again, nullptr, &failing),
                      PF_Err_INTERNAL_STRUCT_DAMAGED);
        }
    }
}

TEST(Iterate, RefusesWhatItCannotRunSafely) {
    Host host(IdleEntry);
    Host::CallScope scope(host);
    World good(Depth::U8, 4, 2), deep(Depth::U16, 4, 2);
    Visits v(&good, &good);
    EXPECT_EQ(iterate(host, Depth::U8, &good, good, nullptr, &v, /*nullKernel=*/true),
              PF_Err_BAD_CALLBACK_PARAM);

    // Rows shorter than the pixels they are said to hold.
    World narrow(Depth::U8, 4, 2);
    narrow.effectWorld()->rowbytes = 8;
    Visits vn(&good, &narrow);
    EXPECT_EQ(iterate(host, Depth::U8, &good, narrow, nullptr, &vn), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(vn.count[0], 0);

    // A 16-bit world the host knows, handed to the 8-bit suite.
    host.exposeWorld(deep);
    World out8(Depth::U8, 4, 2);
    Visits vd(nullptr, &out8);
    EXPECT_EQ(iterate(host, Depth::U8, &deep, out8, nullptr, &vd), PF_Err_BAD_CALLBACK_PARAM);
    host.forgetWorlds();

    // No destination at all.
    const void* suite = nullptr;
    host.basicSuite()->AcquireSuite(kPFIterate8Suite, 1, &suite);
    EXPECT_EQ(static_cast<const PF_Iterate8Suite1*>(suite)->iterate(
                  host.inData(), 0, 1, good.effectWorld(), nullptr, &v, visit<PF_Pixel>, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    // An in_data from no running command: refused, not dereferenced.
    PF_InData stranger{};
    EXPECT_EQ(
        static_cast<const PF_Iterate8Suite1*>(suite)->iterate(
            &stranger, 0, 1, good.effectWorld(), nullptr, &v, visit<PF_Pixel>, good.effectWorld()),
        PF_Err_BAD_CALLBACK_PARAM);
    host.basicSuite()->ReleaseSuite(kPFIterate8Suite, 1);
}

}  // namespace
}  // namespace refhosttest

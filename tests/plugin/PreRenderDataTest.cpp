// The frame's settings record as pre-render data: handed over with the
// plug-in's delete function only by a pre-render that succeeds, read in place
// by the render pass, freed through that function with or without a render
// and from any thread; an allocation failure hands over nothing and checks
// out nothing.
#include <atomic>
#include <new>
#include <thread>

#include "entry/EntryPoint.h"
#include "tests/plugin/PluginFixture.h"

namespace {

// Set for one command: the next nothrow allocation in the program fails.
std::atomic<bool> fail_next_nothrow_new{false};

}  // namespace

// The nothrow form, replaced for the whole test program. Memory comes from
// the ordinary operator new, so the ordinary delete (and a sanitizer's
// pairing of the two) stays right.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (fail_next_nothrow_new.exchange(false)) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace plugintest {
namespace {

int host_marker = 0;
void HostDeleteMarker(void*) {}

// The plug-in's code linked into this program, so that its allocation is the
// one replaced above (the loaded library has its own).
TEST(PreRenderData, AllocationFailureLeavesTheOutputAsPassedAndChecksOutNothing) {
    refhost::Host host(&EntryPointFunc);
    ASSERT_EQ(host.globalSetup().err, PF_Err_NONE);
    ASSERT_EQ(host.paramsSetup().err, PF_Err_NONE);
    World in(Depth::U8, WIDTH, HEIGHT);

    PF_PreRenderOutput pre{};
    pre.pre_render_data = &host_marker;
    pre.delete_pre_render_data_func = &HostDeleteMarker;
    fail_next_nothrow_new = true;
    const refhost::CommandResult r = host.smartPreRender(in, pre);
    ASSERT_FALSE(fail_next_nothrow_new) << "the pass made no nothrow allocation";

    EXPECT_EQ(r.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(pre.pre_render_data, &host_marker);
    EXPECT_EQ(pre.delete_pre_render_data_func, &HostDeleteMarker);
    EXPECT_FALSE(has(r.calls, CallPoint::CheckoutParam)) << traceText(r.calls);
    EXPECT_FALSE(has(r.calls, CallPoint::CheckoutLayer)) << traceText(r.calls);
    EXPECT_TRUE(r.imbalances.empty()) << lines(r.imbalances);

    // The next frame allocates again and succeeds.
    PF_PreRenderOutput next{};
    ASSERT_EQ(host.smartPreRender(in, next).err, PF_Err_NONE);
    EXPECT_NE(next.pre_render_data, nullptr);
    EXPECT_TRUE(host.disposePreRenderData(next.pre_render_data));
}

class PreRenderDataPlugin : public PluginTest {};

// A clean frame of each depth: the record is deleted through the plug-in's
// function after the render and nothing is left over (the fault sweeps
// check that no failure leaves data the host could not delete).
TEST_F(PreRenderDataPlugin, EveryFrameDeletesItsRecordThroughThePluginsFunction) {
    for (Depth depth : DEPTHS) {
        World in(depth, WIDTH, HEIGHT), out(depth, WIDTH, HEIGHT);
        const refhost::FrameResult frame = host_.renderFrame(in, out);
        ASSERT_EQ(frame.err(), PF_Err_NONE);
        EXPECT_TRUE(frame.preRenderDataDeleted);
        EXPECT_TRUE(frame.imbalances().empty()) << lines(frame.imbalances());
    }
}

// Freed through the plug-in's function after a render, without one, and on
// a thread other than the passes' (under the sanitizers a leak, a double
// free or a read after the free fails this test).
TEST_F(PreRenderDataPlugin, RecordIsReadInPlaceAndFreedThroughThePluginsFunction) {
    const struct {
        const char* what;
        bool render;
        bool other_thread;
    } rows[] = {
        {"after the render", true, false},
        {"without a render", false, false},
        {"after the render, on another thread", true, true},
        {"without a render, on another thread", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        World in(Depth::F32, WIDTH, HEIGHT), out(Depth::F32, WIDTH, HEIGHT),
            untouched(Depth::F32, WIDTH, HEIGHT);
        fill(in, 4);
        fill(out, 9);
        fill(untouched, 9);
        PF_PreRenderOutput pre{};
        const refhost::CommandResult pass = host_.smartPreRender(in, pre);
        ASSERT_EQ(pass.err, PF_Err_NONE);
        ASSERT_NE(pre.pre_render_data, nullptr);
        ASSERT_NE(pre.delete_pre_render_data_func, nullptr);
        EXPECT_FALSE(has(pass.calls, CallPoint::HandleNew)) << traceText(pass.calls);
        EXPECT_EQ(readSettings(pre.pre_render_data).view, kestrelumen::VIEW_FINAL);

        if (row.render) {
            // What the render pass keys with is the record itself: a change
            // made to it after the pre-render shows in the output.
            static_cast<kestrelumen::KeySettings*>(pre.pre_render_data)->view =
                kestrelumen::VIEW_SOURCE;
            const refhost::CommandResult render = host_.smartRender(in, out, pre.pre_render_data);
            EXPECT_EQ(render.err, PF_Err_NONE);
            EXPECT_TRUE(out.samePixels(in));
            EXPECT_FALSE(has(render.calls, CallPoint::HandleLock)) << traceText(render.calls);
            EXPECT_TRUE(render.imbalances.empty()) << lines(render.imbalances);
        }
        bool deleted = false;
        if (row.other_thread) {
            std::thread([&] { deleted = host_.disposePreRenderData(pre.pre_render_data); }).join();
        } else {
            deleted = host_.disposePreRenderData(pre.pre_render_data);
        }
        EXPECT_TRUE(deleted) << "the host found nothing to delete the record with";
    }
}

}  // namespace
}  // namespace plugintest

// What the render pass hands the iterate suite, with worlds of different
// heights, which the reference host does not produce.
#include <gtest/gtest.h>

#include <cstring>

#include "entry/Handlers.h"
#include "host/HostConstants.h"
#include "host/HostSuites.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace {

struct IterateCall {
    int calls = 0;
    A_long progress_base = -1;
    A_long progress_final = -1;
    const PF_EffectWorld* src = nullptr;
    const PF_Rect* area = reinterpret_cast<const PF_Rect*>(1);
    void* refcon = nullptr;
    PF_IteratePixel8Func kernel = nullptr;
    const PF_EffectWorld* dst = nullptr;
};

// The fake's suites take no context argument, so its state lives here.
struct FakeState {
    kestrelumen::KeySettings settings{};
    PF_EffectWorld input{};
    PF_EffectWorld output{};
    IterateCall iterate;
    int acquired = 0;
    int released = 0;
    int checkins = 0;
};
FakeState* state = nullptr;

PF_Err Iterate8(PF_InData*, A_long base, A_long final_, PF_EffectWorld* src, const PF_Rect* area,
                void* refcon, PF_IteratePixel8Func fn, PF_EffectWorld* dst) {
    state->iterate = {state->iterate.calls + 1, base, final_, src, area, refcon, fn, dst};
    return PF_Err_NONE;
}

SPErr Acquire(const char* name, int32_t, const void** suite) {
    static const PF_WorldSuite2 worlds = {
        nullptr, nullptr, [](const PF_EffectWorld*, PF_PixelFormat* format) -> PF_Err {
            *format = PF_PixelFormat_ARGB32;
            return PF_Err_NONE;
        }};
    static const PF_Iterate8Suite1 iterate8 = {&Iterate8, nullptr, nullptr, nullptr, nullptr};
    ++state->acquired;
    if (std::strcmp(name, kPFWorldSuite) == 0)
        *suite = &worlds;
    else if (std::strcmp(name, kPFIterate8Suite) == 0)
        *suite = &iterate8;
    else
        return 1;
    return 0;
}

SPErr Release(const char*, int32_t) {
    ++state->released;
    return 0;
}

TEST(SmartRender, IterateRunsFromInputToOutputOverTheOutputsRows) {
    const struct {
        A_long input_height;
        A_long output_height;
    } rows[] = {{7, 3}, {3, 7}, {5, 5}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input_height);
        FakeState fake;
        state = &fake;
        fake.settings.view = kestrelumen::VIEW_FINAL;
        fake.input.height = row.input_height;
        fake.output.height = row.output_height;

        SPBasicSuite basic{};
        basic.AcquireSuite = &Acquire;
        basic.ReleaseSuite = &Release;
        PF_UtilCallbacks utils{};
        PF_InData in_data{};
        in_data.pica_basicP = &basic;
        in_data.utils = &utils;
        PF_OutData out_data{};
        PF_SmartRenderCallbacks cb{};
        cb.checkout_layer_pixels = [](PF_ProgPtr, A_long, PF_EffectWorld** w) -> PF_Err {
            *w = &state->input;
            return PF_Err_NONE;
        };
        cb.checkout_output = [](PF_ProgPtr, PF_EffectWorld** w) -> PF_Err {
            *w = &state->output;
            return PF_Err_NONE;
        };
        cb.checkin_layer_pixels = [](PF_ProgPtr, A_long) -> PF_Err {
            ++state->checkins;
            return PF_Err_NONE;
        };
        PF_SmartRenderInput input{};
        input.pre_render_data = &fake.settings;
        PF_SmartRenderExtra extra{&input, &cb};

        ASSERT_EQ(kestrelumen::SmartRender(&in_data, &out_data, &extra), PF_Err_NONE);

        EXPECT_EQ(fake.iterate.calls, 1);
        EXPECT_EQ(fake.iterate.progress_base, 0);
        EXPECT_EQ(fake.iterate.progress_final, row.output_height);
        EXPECT_EQ(fake.iterate.src, &fake.input);
        EXPECT_EQ(fake.iterate.dst, &fake.output);
        EXPECT_EQ(fake.iterate.area, nullptr);
        EXPECT_EQ(fake.iterate.refcon, &fake.settings);
        EXPECT_EQ(fake.iterate.kernel, &kestrelumen::KeyPixel8);
        EXPECT_EQ(fake.acquired, fake.released);
        EXPECT_EQ(fake.checkins, 1);
        state = nullptr;
    }
}

}  // namespace

// Parameter setup as the host records it: every add_param call and the exact
// bytes of the record at that moment. The expected records are written out
// here independently of the plug-in's table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "entry/EntryPoint.h"
#include "entry/ParamTable.h"
#include "host/HostConstants.h"
#include "tests/support/RecordingHost.h"

namespace {

using testsupport::RecordingHost;

constexpr A_long NUM_PARAMS_SENTINEL = 0x0BADBEEF;
// "来源|Alpha蒙板|溢出蒙板|完全输出"
const std::string CHOICES =
    "\xC0\xB4\xD4\xB4|Alpha\xC3\xC9\xB0\xE5|\xD2\xE7\xB3\xF6\xC3\xC9\xB0\xE5|"
    "\xCD\xEA\xC8\xAB\xCA\xE4\xB3\xF6";

PF_ParamDef colorDef(const char* label, A_long id) {
    PF_ParamDef d;
    std::memset(&d, 0, sizeof d);
    d.param_type = 5;
    std::strcpy(d.name, label);
    d.u.cd.value = PF_Pixel{255, 0, 0, 0};
    d.u.cd.dephault = PF_Pixel{255, 0, 0, 0};
    d.uu.id = id;
    return d;
}

PF_ParamDef sliderDef(const char* label, A_long id, double dflt) {
    PF_ParamDef d;
    std::memset(&d, 0, sizeof d);
    d.param_type = 10;
    std::strcpy(d.name, label);
    d.u.fs_d.valid_min = 0.0f;
    d.u.fs_d.valid_max = 1.0f;
    d.u.fs_d.slider_min = 0.0f;
    d.u.fs_d.slider_max = 1.0f;
    d.u.fs_d.value = dflt;
    d.u.fs_d.dephault = static_cast<float>(dflt);
    d.u.fs_d.precision = 1;
    d.u.fs_d.curve_tolerance = 0.05f;
    d.uu.id = id;
    return d;
}

PF_ParamDef popupDef(const char* label, A_long id, const char* names) {
    PF_ParamDef d;
    std::memset(&d, 0, sizeof d);
    d.param_type = 7;
    std::strcpy(d.name, label);
    d.u.pd.num_choices = 4;
    d.u.pd.dephault = 4;
    d.u.pd.value = 4;
    d.u.pd.u.namesptr = names;
    d.uu.id = id;
    return d;
}

struct Expected {
    const char* what;
    const char* label;  // GBK
    std::size_t label_bytes;
    PF_ParamDef def;
};

std::vector<Expected> expectedParams(const char* names) {
    return {
        {"背景颜色", "\xB1\xB3\xBE\xB0\xD1\xD5\xC9\xAB", 8,
         colorDef("\xB1\xB3\xBE\xB0\xD1\xD5\xC9\xAB", 9897)},
        {"挤出透明", "\xBC\xB7\xB3\xF6\xCD\xB8\xC3\xF7", 8,
         sliderDef("\xBC\xB7\xB3\xF6\xCD\xB8\xC3\xF7", 4120, 0.0)},
        {"挤出不透明", "\xBC\xB7\xB3\xF6\xB2\xBB\xCD\xB8\xC3\xF7", 10,
         sliderDef("\xBC\xB7\xB3\xF6\xB2\xBB\xCD\xB8\xC3\xF7", 4121, 0.0)},
        {"溢出数量", "\xD2\xE7\xB3\xF6\xCA\xFD\xC1\xBF", 8,
         sliderDef("\xD2\xE7\xB3\xF6\xCA\xFD\xC1\xBF", 2406, 0.0)},
        {"溢出尺寸", "\xD2\xE7\xB3\xF6\xB3\xDF\xB4\xE7", 8,
         sliderDef("\xD2\xE7\xB3\xF6\xB3\xDF\xB4\xE7", 367, 1.0)},
        {"查看", "\xB2\xE9\xBF\xB4", 4, popupDef("\xB2\xE9\xBF\xB4", 2958, names)},
    };
}

PF_Err runParamsSetup(RecordingHost& host) {
    host.out_data.num_params = NUM_PARAMS_SENTINEL;
    return EntryPointFunc(PF_Cmd_PARAMS_SETUP, &host.in_data, &host.out_data, nullptr, nullptr,
                          nullptr);
}

TEST(ParamsSetup, AddsSixParametersExactlyAsDescribedThenReportsSeven) {
    RecordingHost host;
    ASSERT_EQ(runParamsSetup(host), PF_Err_NONE);
    EXPECT_EQ(host.out_data.num_params, 7);

    const auto adds = host.of(RecordingHost::Kind::AddParam);
    ASSERT_EQ(adds.size(), 6u);
    ASSERT_EQ(host.calls.size(), 12u);
    // The choice list goes to the host by address only; read it from there.
    const char* names = adds[5].def.u.pd.u.namesptr;
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(std::string(names), CHOICES);
    EXPECT_EQ(std::strlen(names), 32u);

    const auto expected = expectedParams(names);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].what);
        // strcpy of the label, then add_param, for each parameter in turn.
        const auto& copy = host.calls[2 * i];
        const auto& add = host.calls[2 * i + 1];
        ASSERT_EQ(copy.kind, RecordingHost::Kind::Strcpy);
        EXPECT_EQ(copy.text, expected[i].label);
        EXPECT_EQ(copy.text.size(), expected[i].label_bytes);
        ASSERT_EQ(add.kind, RecordingHost::Kind::AddParam);
        EXPECT_EQ(add.effect_ref, RecordingHost::EFFECT_REF);
        EXPECT_EQ(add.index, -1);
        EXPECT_EQ(add.def.uu.id, expected[i].def.uu.id);
        EXPECT_EQ(std::memcmp(&add.def, &expected[i].def, sizeof(PF_ParamDef)), 0)
            << "record differs from the expected bytes";
    }
}

TEST(ParamsSetup, SliderDefaultsAreExactInBothWidths) {
    RecordingHost host;
    ASSERT_EQ(runParamsSetup(host), PF_Err_NONE);
    const auto adds = host.of(RecordingHost::Kind::AddParam);
    ASSERT_EQ(adds.size(), 6u);
    const struct {
        std::size_t call;
        uint64_t value_bits;     // double
        uint32_t dephault_bits;  // float
    } rows[] = {
        {1, 0x0000000000000000ull, 0x00000000u},
        {2, 0x0000000000000000ull, 0x00000000u},
        {3, 0x0000000000000000ull, 0x00000000u},
        {4, 0x3FF0000000000000ull, 0x3F800000u},  // spill size starts at 1.0
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        const PF_FloatSliderDef& fs = adds[row.call].def.u.fs_d;
        uint64_t value_bits;
        uint32_t dephault_bits, tolerance_bits;
        std::memcpy(&value_bits, &fs.value, sizeof value_bits);
        std::memcpy(&dephault_bits, &fs.dephault, sizeof dephault_bits);
        std::memcpy(&tolerance_bits, &fs.curve_tolerance, sizeof tolerance_bits);
        EXPECT_EQ(value_bits, row.value_bits);
        EXPECT_EQ(dephault_bits, row.dephault_bits);
        EXPECT_EQ(tolerance_bits, 0x3D4CCCCDu);  // 0.05f
    }
}

TEST(ParamsSetup, RefusalStopsAtOnceAndLeavesNumParams) {
    const struct {
        int refused_call;
        PF_Err code;
    } rows[] = {
        {1, PF_Err_OUT_OF_MEMORY},           {1, -1},    {3, PF_Err_INVALID_INDEX},
        {6, PF_Err_INTERNAL_STRUCT_DAMAGED}, {6, 99999},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.refused_call);
        RecordingHost host;
        host.refuseAddParam(row.refused_call, row.code);

        EXPECT_EQ(runParamsSetup(host), row.code);

        EXPECT_EQ(host.of(RecordingHost::Kind::AddParam).size(),
                  static_cast<std::size_t>(row.refused_call));
        EXPECT_EQ(host.of(RecordingHost::Kind::Strcpy).size(),
                  static_cast<std::size_t>(row.refused_call));
        ASSERT_FALSE(host.calls.empty());
        EXPECT_EQ(host.calls.back().kind, RecordingHost::Kind::AddParam);
        EXPECT_EQ(host.out_data.num_params, NUM_PARAMS_SENTINEL);
        EXPECT_TRUE(host.of(RecordingHost::Kind::Sprintf).empty());  // no message
    }
}

TEST(ParamTable, IndicesAndViewValuesAgreeWithTheRecordsTheHostGets) {
    RecordingHost host;
    ASSERT_EQ(runParamsSetup(host), PF_Err_NONE);
    const auto adds = host.of(RecordingHost::Kind::AddParam);
    ASSERT_EQ(adds.size(), 6u);
    // Appending makes the n-th added parameter index n; the render side reads
    // the controls back under these indices.
    const struct {
        PF_ParamIndex index;
        A_long id;
    } rows[] = {
        {kestrelumen::PARAM_KEY_COLOR, 9897},    {kestrelumen::PARAM_CHOKE_TRANSPARENT, 4120},
        {kestrelumen::PARAM_CHOKE_OPAQUE, 4121}, {kestrelumen::PARAM_SPILL_AMOUNT, 2406},
        {kestrelumen::PARAM_SPILL_SIZE, 367},    {kestrelumen::PARAM_VIEW, 2958},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(adds[static_cast<std::size_t>(row.index - 1)].def.uu.id, row.id);
    }
    EXPECT_EQ(kestrelumen::PARAM_INPUT, 0);
    EXPECT_EQ(kestrelumen::PARAM_COUNT, 7);
    EXPECT_EQ(adds[5].def.u.pd.value, kestrelumen::VIEW_FINAL);
}

}  // namespace

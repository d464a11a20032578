// The effect's controls, as one table: ParamsSetup walks it to describe them
// to the host, the pre-render pass reads them back by index, and the tests
// check the host's view of them against the same rows.
#pragma once

#include <cstddef>
#include <string>

#include "contract/EffectContract.h"
#include "host/HostConstants.h"

namespace kestrelumen {

// The indices (PARAM_*) and identifiers (PARAM_ID_*) come from the effect's
// contract: the rows below must follow its index order.

struct ParamRow {
    PF_ParamIndex index;  // the index the append gives it
    const char* label;    // GBK bytes, handed to the host unconverted
    PF_ParamType type;
    A_long id;  // PARAM_ID_*: what the host stores project values under
    // Sliders: the valid and the slider range (the same here).
    PF_FpShort range_min;
    PF_FpShort range_max;
    // Slider: starting value; popup: starting choice, counted from 1.
    double dephault;
};

// "来源|Alpha蒙板|溢出蒙板|完全输出": the view menu, in VIEW_* order. Only its
// address goes into the definition record, so it must outlive every call:
// a constant of the module does.
inline constexpr char VIEW_CHOICES[] =
    "\xC0\xB4\xD4\xB4|Alpha\xC3\xC9\xB0\xE5|\xD2\xE7\xB3\xF6\xC3\xC9\xB0\xE5|"
    "\xCD\xEA\xC8\xAB\xCA\xE4\xB3\xF6";
inline constexpr A_short VIEW_NUM_CHOICES = VIEW_COUNT;

// Opaque black; channels in the host's order alpha, red, green, blue.
inline constexpr PF_Pixel KEY_COLOR_DEFAULT = {255, 0, 0, 0};

inline constexpr A_short SLIDER_PRECISION = PF_Precision_TENTHS;
inline constexpr PF_FpShort SLIDER_CURVE_TOLERANCE = PF_DEFAULT_CURVE_TOLERANCE;

inline constexpr ParamRow PARAM_TABLE[] = {
    // 背景颜色
    {PARAM_KEY_COLOR, "\xB1\xB3\xBE\xB0\xD1\xD5\xC9\xAB", PF_Param_COLOR, PARAM_ID_KEY_COLOR, 0.0f,
     0.0f, 0.0},
    // 挤出透明
    {PARAM_CHOKE_TRANSPARENT, "\xBC\xB7\xB3\xF6\xCD\xB8\xC3\xF7", PF_Param_FLOAT_SLIDER,
     PARAM_ID_CHOKE_TRANSPARENT, 0.0f, 1.0f, 0.0},
    // 挤出不透明
    {PARAM_CHOKE_OPAQUE, "\xBC\xB7\xB3\xF6\xB2\xBB\xCD\xB8\xC3\xF7", PF_Param_FLOAT_SLIDER,
     PARAM_ID_CHOKE_OPAQUE, 0.0f, 1.0f, 0.0},
    // 溢出数量
    {PARAM_SPILL_AMOUNT, "\xD2\xE7\xB3\xF6\xCA\xFD\xC1\xBF", PF_Param_FLOAT_SLIDER,
     PARAM_ID_SPILL_AMOUNT, 0.0f, 1.0f, 0.0},
    // 溢出尺寸: starts at full size, so spill suppression reaches as far as it can
    {PARAM_SPILL_SIZE, "\xD2\xE7\xB3\xF6\xB3\xDF\xB4\xE7", PF_Param_FLOAT_SLIDER,
     PARAM_ID_SPILL_SIZE, 0.0f, 1.0f, 1.0},
    // 查看: starts at the full output, not at the first choice
    {PARAM_VIEW, "\xB2\xE9\xBF\xB4", PF_Param_POPUP, PARAM_ID_VIEW, 0.0f, 0.0f, VIEW_FINAL},
};

inline constexpr std::size_t PARAM_TABLE_SIZE = sizeof(PARAM_TABLE) / sizeof(PARAM_TABLE[0]);

namespace param_table_checks {
constexpr bool indicesFollowTheAppendOrder() {
    for (std::size_t i = 0; i < PARAM_TABLE_SIZE; ++i) {
        if (PARAM_TABLE[i].index != static_cast<PF_ParamIndex>(i + 1)) return false;
    }
    return true;
}
constexpr bool labelsFitTheNameField() {
    for (const ParamRow& row : PARAM_TABLE) {
        if (std::char_traits<char>::length(row.label) > PF_MAX_EFFECT_PARAM_NAME_LEN) return false;
    }
    return true;
}
}  // namespace param_table_checks

static_assert(PARAM_TABLE_SIZE == PARAM_COUNT - 1, "one row per parameter the effect adds");
static_assert(param_table_checks::indicesFollowTheAppendOrder(), "rows in index order");
static_assert(param_table_checks::labelsFitTheNameField(), "labels fit 31 bytes and the NUL");
static_assert(sizeof(VIEW_CHOICES) == 33, "32 bytes of choices and the NUL");

}  // namespace kestrelumen

// Command codes, error codes, flags and other constants of the host's
// effect interface.
#pragma once

#include "host/HostTypes.h"

// Commands (PF_Cmd). The host numbers them from 0; 2 is unused.
enum : PF_Cmd {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_SEQUENCE_SETUP = 5,
    PF_Cmd_RENDER = 11,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24,
};

// Errors (PF_Err). Host-specific codes start at 512 and are consecutive.
enum : PF_Err {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX = 513,
    PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
    PF_Err_INVALID_CALLBACK = 515,
    PF_Err_BAD_CALLBACK_PARAM = 516,
    PF_Interrupt_CANCEL = 517,
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518,
};

// out_flags
enum : PF_OutFlags {
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x100,
    PF_OutFlag_PIX_INDEPENDENT = 0x400,
    PF_OutFlag_DEEP_COLOR_AWARE = 0x2000000,
};

// out_flags2
enum : PF_OutFlags2 {
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x400,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 0x1000,
};

// Pixel formats: four-character codes whose bytes in memory, lowest address
// first, spell the name ("argb", "ae16", "ae32", "badf").
enum : PF_PixelFormat {
    PF_PixelFormat_ARGB32 = 0x62677261,
    PF_PixelFormat_ARGB64 = 0x36316561,
    PF_PixelFormat_ARGB128 = 0x32336561,
    PF_PixelFormat_INVALID = 0x66646162,
};

// Parameter types (PF_ParamType).
enum : PF_ParamType {
    PF_Param_LAYER = 0,
    PF_Param_COLOR = 5,
    PF_Param_POPUP = 7,
    PF_Param_FLOAT_SLIDER = 10,
};

enum : PF_Stage {
    PF_Stage_DEVELOP = 0,
    PF_Stage_ALPHA = 1,
    PF_Stage_BETA = 2,
    PF_Stage_RELEASE = 3,
};

constexpr int PF_MAX_EFFECT_PARAM_NAME_LEN = 31;
constexpr int PF_MAX_EFFECT_NAME_LEN = 31;
constexpr int PF_MAX_PARAM_DESCRIPTION_LEN = 31;
constexpr int PF_MAX_EFFECT_MSG_LEN = 255;

constexpr PF_ValueDisplayFlags PF_ValueDisplayFlag_NONE = 0;
constexpr PF_FSliderFlags PF_FSliderFlag_NONE = 0;
constexpr PF_FSliderFlags PF_FSliderFlag_WANT_PHASE = 1;
constexpr A_short PF_Precision_INTEGER = 0;
constexpr A_short PF_Precision_TENTHS = 1;
constexpr A_short PF_Precision_HUNDREDTHS = 2;
constexpr PF_ParamIndex PF_ParamIndex_APPEND = -1;  // add_param appends after the last
// The host's default for a slider's curve_tolerance.
constexpr PF_FpShort PF_DEFAULT_CURVE_TOLERANCE = 0.05f;

constexpr A_long PF_MAX_CHAN8 = 255;
constexpr A_long PF_HALF_CHAN8 = 128;
constexpr A_long PF_MAX_CHAN16 = 32768;  // 16-bit white is 32768, not 65535
constexpr A_long PF_HALF_CHAN16 = 16384;

// Packs a version word: build in bits 0..8, stage 9..10, fix 11..14,
// minor 15..18, major's low three bits 19..21 and major / 8 in 26..29.
constexpr A_u_long PF_VersionWord(A_u_long major, A_u_long minor, A_u_long fix, A_u_long stage,
                                  A_u_long build) {
    return ((major >> 3) & 0xFu) << 26 | (major & 0x7u) << 19 | (minor & 0xFu) << 15 |
           (fix & 0xFu) << 11 | (stage & 0x3u) << 9 | (build & 0x1FFu);
}

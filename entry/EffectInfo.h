// Identity of the effect: what About, global setup and the registration
// resource all report, so they cannot drift apart.
#pragma once

#include "host/HostConstants.h"

namespace kestrelumen {

constexpr char EFFECT_NAME[] = "Kestrelumen";
constexpr char EFFECT_CATEGORY[] = "Tobrinel";
constexpr char EFFECT_MATCH_NAME[] = "Kestrelumen/1/Tobrinel_9715BE2";

constexpr A_long MAJOR_VERSION = 1;
constexpr A_long MINOR_VERSION = 1;
constexpr A_long BUG_VERSION = 0;
constexpr A_long STAGE_VERSION = PF_Stage_RELEASE;
constexpr A_long BUILD_VERSION = 1;

constexpr A_u_long EFFECT_VERSION =
    PF_VersionWord(MAJOR_VERSION, MINOR_VERSION, BUG_VERSION, STAGE_VERSION, BUILD_VERSION);
static_assert(EFFECT_VERSION == 0x00088601u, "version word");

constexpr PF_OutFlags EFFECT_OUT_FLAGS = PF_OutFlag_PIX_INDEPENDENT | PF_OutFlag_DEEP_COLOR_AWARE;
constexpr PF_OutFlags2 EFFECT_OUT_FLAGS2 =
    PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
static_assert(EFFECT_OUT_FLAGS == 0x02000400, "out_flags");
static_assert(EFFECT_OUT_FLAGS2 == 0x1400, "out_flags2");

constexpr char ABOUT_FORMAT[] = "%s, v%d.%d\r%s";
// "Quorv 汉化" in GBK: 汉 = BA BA, 化 = BB AF.
constexpr char ABOUT_CREDIT[] = "Quorv \xBA\xBA\xBB\xAF";

}  // namespace kestrelumen

// Constant-initialized read-only data: no code runs for it at load time.
#include "render/KeyTables.h"

namespace kestrelumen {

const Vec4 KEY_ONES = {{1.0f, 1.0f, 1.0f, 1.0f}};
const Bits4 KEY_ABS_MASK = {{0x7fffffffu, 0x7fffffffu, 0x7fffffffu, 0x7fffffffu}};
const Bits4 KEY_SIGN_MASK = {{0x80000000u, 0x80000000u, 0x80000000u, 0x80000000u}};
const Vec4 KEY_GREY_WEIGHTS = {{0.0f, 0.3f, 0.59f, 0.11f}};
const Vec4 KEY_SCALE_8 = {{255.0f, 255.0f, 255.0f, 255.0f}};
const Vec4 KEY_SCALE_16 = {{32768.0f, 32768.0f, 32768.0f, 32768.0f}};
const Vec4 KEY_UNIT_16 = {{0x1p-15f, 0x1p-15f, 0x1p-15f, 0x1p-15f}};
const Vec4 KEY_WEIGHT_16 = {{0x1p-30f, 0x1p-30f, 0x1p-30f, 0x1p-30f}};

}  // namespace kestrelumen

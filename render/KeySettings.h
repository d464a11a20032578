// The record that carries one frame's settings from the pre-render pass to
// the render pass and every kernel call. It lives in a 36-byte host handle,
// so its layout is part of what passes through the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/EffectContract.h"  // the VIEW_* codes of `view`
#include "host/HostTypes.h"

namespace kestrelumen {

// Stored as the host gives the parameter values: no scaling, clamping or
// checking on the way in; the kernels define what happens outside 0..1.
struct KeySettings {
    PF_PixelFloat key_color;  // not premultiplied; alpha is written, never read
    float choke_clear;
    float choke_opaque;
    float spill_amount;
    float spill_size;
    int32_t view;
};

constexpr std::size_t KEY_SETTINGS_SIZE = 36;

static_assert(sizeof(KeySettings) == KEY_SETTINGS_SIZE, "KeySettings is 36 bytes");
static_assert(offsetof(KeySettings, key_color) == 0, "key_color starts the record");
static_assert(offsetof(KeySettings, choke_clear) == 16, "choke_clear");
static_assert(offsetof(KeySettings, choke_opaque) == 20, "choke_opaque");
static_assert(offsetof(KeySettings, spill_amount) == 24, "spill_amount");
static_assert(offsetof(KeySettings, spill_size) == 28, "spill_size");
static_assert(offsetof(KeySettings, view) == 32, "view is the last four bytes");

}  // namespace kestrelumen

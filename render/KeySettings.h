// The record that carries one frame's settings from the pre-render pass to
// the render pass and every kernel call. The pre-render pass allocates it
// and hands it to the host as the frame's pre-render data, with
// DeleteKeySettings as the function the host frees it with.
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

// The host's delete_pre_render_data_func for the record: the host frees
// pre-render data only through it. Null is ignored. It is called from
// whatever thread the host disposes of the frame on and never throws.
void DeleteKeySettings(void* pre_render_data) noexcept;

}  // namespace kestrelumen

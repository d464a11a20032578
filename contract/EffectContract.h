// The effect's contract with whoever drives it: the numbers a host keeps in
// its projects and a caller sets values by. The plug-in's parameter table is
// built from them, and the command-line tool, which drives the plug-in only
// through its binary, finds the parameters by them. Header-only and free of
// any other code, so every layer may include it.
#pragma once

#include <cstdint>

namespace kestrelumen {

// Indices the host gives the parameters. Every parameter is appended, so
// the order of the parameter table fixes them; index 0 is the host's input
// layer.
enum : int32_t {
    PARAM_INPUT = 0,
    PARAM_KEY_COLOR = 1,
    PARAM_CHOKE_TRANSPARENT = 2,
    PARAM_CHOKE_OPAQUE = 3,
    PARAM_SPILL_AMOUNT = 4,
    PARAM_SPILL_SIZE = 5,
    PARAM_VIEW = 6,
    PARAM_COUNT = 7,  // the input layer included: what num_params reports
};

// The identifiers the host stores project values under: they never change,
// whatever the order or label of the parameters.
enum : int32_t {
    PARAM_ID_KEY_COLOR = 9897,
    PARAM_ID_CHOKE_TRANSPARENT = 4120,
    PARAM_ID_CHOKE_OPAQUE = 4121,
    PARAM_ID_SPILL_AMOUNT = 2406,
    PARAM_ID_SPILL_SIZE = 367,
    PARAM_ID_VIEW = 2958,
};

// Values of the view popup, counted from 1 in the order of its choice list.
enum : int32_t {
    VIEW_SOURCE = 1,
    VIEW_ALPHA_MATTE = 2,
    VIEW_SPILL_MATTE = 3,
    VIEW_FINAL = 4,
    VIEW_COUNT = 4,
};

}  // namespace kestrelumen

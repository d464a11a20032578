// Host suites for the length of one command: each acquired on first use,
// handed out as often as asked, and given back when the cache goes out of
// scope, also when an exception leaves the handler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostError.h"
#include "host/HostSuites.h"

namespace kestrelumen {

struct SuiteRow {
    const char* name;  // exact bytes, case included
    int32_t version;
};

// Every suite the cache knows, in the order in which it gives them back.
// Rows 30 and 31 (indices 29 and 30) name the same suite and are two slots.
inline constexpr SuiteRow SUITE_RELEASE_TABLE[] = {
    {"AEGP Marker Suite", 1},
    {"AEGP Marker Suite", 2},
    {"AEGP Layer Suite", 8},
    {"AEGP Layer Suite", 10},
    {"AEGP Stream Suite", 9},
    {"AEGP Stream Suite", 8},
    {"AEGP Stream Suite", 7},
    {"AEGP Stream Suite", 4},
    {"AEGP Dynamic Stream Suite", 2},
    {"AEGP Dynamic Stream Suite", 3},
    {"AEGP Dynamic Stream Suite", 5},
    {"AEGP Keyframe Suite", 4},
    {"AEGP Keyframe Suite", 3},
    {"AEGP Keyframe Suite", 1},
    {"AEGP Comp Suite", 9},
    {"AEGP Comp Suite", 11},
    {"AEGP Comp Suite", 14},
    {"AEGP Canvas Suite", 10},
    {"AEGP Canvas Suite", 11},
    {"AEGP Camera Suite", 2},
    {"AEGP Register Suite", 6},
    {"AEGP Item Suite", 13},
    {"AEGP Item Suite", 11},
    {"AEGP Item Suite", 10},
    {"AEGP Item Suite", 7},
    {"AEGP Item Suite", 3},
    {"AEGP PF Interface Suite", 1},
    {"PF Path Query Suite", 1},
    {"AEGP Memory Suite", 1},
    {"PF Path Data Suite", 1},
    {"PF Path Data Suite", 1},
    {"PF AE App Suite", 6},
    {"PF AE Adv App Suite", 2},
    {"AEGP Light Suite", 1},
    {"AEGP Light Suite", 2},
    {"AEGP Effect Suite", 1},
    {"AEGP Effect Suite", 2},
    {"AEGP Effect Suite", 3},
    {"AEGP Layer Mask Suite", 5},
    {"AEGP Mask Outline Suite", 3},
    {"AEGP Command Suite", 1},
    {"AEGP Utility Suite", 7},
    {"AEGP Render Suite", 1},
    {"AEGP Render Suite", 2},
    {"PF ANSI Suite", 1},
    {"PF Handle Suite", 2},
    {"PF Fill Matte Suite", 2},
    {"PF World Transform Suite", 1},
    {"AEGP QueryXform Suite", 4},
    {"AEGP Composite Suite", 4},
    {"PF World Suite", 1},
    {"AEGP IO In Suite", 5},
    {"AEGP IO Out Suite", 7},
    {"AEGP Render Queue Suite", 1},
    {"AEGP Render Queue Item Suite", 3},
    {"AEGP Output Module Suite", 4},
    {"AEGP File Import Manager Suite", 3},
    {"PF Sampling8 Suite", 1},
    {"PF Sampling16 Suite", 1},
    {"PF Iterate8 Suite", 1},
    {"PF iterate16 Suite", 1},
    {"PF iterateFloat Suite", 1},
    {"AEGP Collection Suite", 2},
    {"AEGP Text Document Suite", 1},
    {"AEGP Sound Data Suite", 1},
    {"AEGP Text Layer Suite", 1},
    {"AEGP Artisan Util Suite", 1},
    {"AEGP World Suite", 2},
    {"AEGP World Suite", 3},
    {"AEGP Render Options Suite", 1},
    {"AEGP Tracker Suite", 1},
    {"AEGP Tracker Utility Suite", 1},
    {"AE Plugin Helper Suite2", 2},
    {"AEGP Layer Suite", 11},
    {"AEGP Layer Suite", 12},
    {"AEGP Layer Suite", 13},
    {"PF AE Adv Item Suite", 1},
    {"AEGP Layer Suite", 5},
    {"AEGP Layer Mask Suite", 2},
    {"AEGP Comp Suite", 4},
    {"AEGP Collection Suite", 1},
    {"AEGP Mask Outline Suite", 2},
    {"PF AE Adv App Suite", 1},
    {"AEGP Utility Suite", 3},
    {"AEGP Render Options Suite", 2},
    {"AEGP Proj Suite", 8},
    {"AEGP Footage Suite", 11},
    {"AEGP Render Queue Item Suite", 4},
    {"AEGP Utility Suite", 10},
    {"AEGP Persistent Data Suite", 3},
    {"PF Color Settings Suite", 3},
    {"PF Color Settings Suite", 1},
    {"PF ColorParamSuite", 1},
    {"PF SamplingFloat Suite", 1},
    {"AEGP Utility Suite", 11},
    {"PF Effect Custom UI Suite", 1},
    {"PF Effect Custom UI Overlay Theme Suite", 1},
    {"DRAWBOT Draw Suite", 1},
    {"DRAWBOT Supplier Suite", 1},
    {"DRAWBOT Surface Suite", 1},
    {"DRAWBOT Path Suite", 1},
};

inline constexpr std::size_t SUITE_SLOT_COUNT =
    sizeof(SUITE_RELEASE_TABLE) / sizeof(SUITE_RELEASE_TABLE[0]);
static_assert(SUITE_SLOT_COUNT == 101, "101 rows in the release order");

// Rows of the table that have an accessor (0-based).
enum SuiteSlot : std::size_t {
    SLOT_HANDLE = 45,
    SLOT_ITERATE8 = 59,
    SLOT_ITERATE16 = 60,
    SLOT_ITERATE_FLOAT = 61,
    SLOT_COLOR_PARAM = 92,
};

class SuiteCache {
public:
    // Throws HostError 516 when basic is null; nothing is asked of the host.
    explicit SuiteCache(const SPBasicSuite* basic);
    ~SuiteCache();

    // Each acquisition has exactly one owner: a copy would release twice.
    SuiteCache(const SuiteCache&) = delete;
    SuiteCache& operator=(const SuiteCache&) = delete;

    // Never null; throw HostError 516 when the host refuses the suite.
    const PF_HandleSuite1* handleSuite();
    const PF_ColorParamSuite1* colorParamSuite();
    const PF_Iterate8Suite1* iterate8Suite();
    const PF_Iterate16Suite1* iterate16Suite();
    const PF_IterateFloatSuite1* iterateFloatSuite();

private:
    const void* slot(std::size_t row);
    const void* loadSuite(const char* name, int32_t version);
    void releaseSuite(const char* name, int32_t version);
    void releaseAll();

    const SPBasicSuite* basic_;
    const void* slots_[SUITE_SLOT_COUNT] = {};
};

}  // namespace kestrelumen

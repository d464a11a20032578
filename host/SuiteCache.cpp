#include "host/SuiteCache.h"

#include "host/HostConstants.h"

namespace kestrelumen {

namespace {

constexpr bool sameBytes(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

constexpr bool rowIs(std::size_t row, const char* name, int32_t version) {
    return sameBytes(SUITE_RELEASE_TABLE[row].name, name) &&
           SUITE_RELEASE_TABLE[row].version == version;
}

static_assert(rowIs(SLOT_HANDLE, kPFHandleSuite, kPFHandleSuiteVersion1), "handle slot");
static_assert(rowIs(SLOT_COLOR_PARAM, kPFColorParamSuite, kPFColorParamSuiteVersion1),
              "colour-parameter slot");
static_assert(rowIs(SLOT_ITERATE8, kPFIterate8Suite, kPFIterate8SuiteVersion1), "8-bit slot");
static_assert(rowIs(SLOT_ITERATE16, kPFIterate16Suite, kPFIterate16SuiteVersion1), "16-bit slot");
static_assert(rowIs(SLOT_ITERATE_FLOAT, kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1),
              "float slot");

// The host's code for a refused suite, carried to the entry point, which
// hands it back unchanged.
[[noreturn]] void refuse() { throw HostError{PF_Err_BAD_CALLBACK_PARAM}; }

}  // namespace

SuiteCache::SuiteCache(const SPBasicSuite* basic) : basic_(basic) {
    if (basic_ == nullptr) refuse();
}

SuiteCache::~SuiteCache() { releaseAll(); }

const PF_HandleSuite1* SuiteCache::handleSuite() {
    return static_cast<const PF_HandleSuite1*>(slot(SLOT_HANDLE));
}

const PF_ColorParamSuite1* SuiteCache::colorParamSuite() {
    return static_cast<const PF_ColorParamSuite1*>(slot(SLOT_COLOR_PARAM));
}

const PF_Iterate8Suite1* SuiteCache::iterate8Suite() {
    return static_cast<const PF_Iterate8Suite1*>(slot(SLOT_ITERATE8));
}

const PF_Iterate16Suite1* SuiteCache::iterate16Suite() {
    return static_cast<const PF_Iterate16Suite1*>(slot(SLOT_ITERATE16));
}

const PF_IterateFloatSuite1* SuiteCache::iterateFloatSuite() {
    return static_cast<const PF_IterateFloatSuite1*>(slot(SLOT_ITERATE_FLOAT));
}

const void* SuiteCache::slot(std::size_t row) {
    if (slots_[row] == nullptr) {
        // On a refusal the slot stays null: nothing to give back for it.
        slots_[row] = loadSuite(SUITE_RELEASE_TABLE[row].name, SUITE_RELEASE_TABLE[row].version);
    }
    return slots_[row];
}

const void* SuiteCache::loadSuite(const char* name, int32_t version) {
    const void* suite = nullptr;
    const SPErr err = basic_->AcquireSuite(name, version, &suite);
    // A pointer that came with an error is not an acquisition the host
    // counts, so it is neither kept nor released.
    if (err != 0 || suite == nullptr) refuse();
    return suite;
}

void SuiteCache::releaseSuite(const char* name, int32_t version) {
    // Nothing useful can be done about a refused release at the end of a
    // command; the walk goes on so that every other suite is still returned.
    static_cast<void>(basic_->ReleaseSuite(name, version));
}

void SuiteCache::releaseAll() {
    for (std::size_t row = 0; row < SUITE_SLOT_COUNT; ++row) {
        if (slots_[row] != nullptr) {
            releaseSuite(SUITE_RELEASE_TABLE[row].name, SUITE_RELEASE_TABLE[row].version);
            slots_[row] = nullptr;
        }
    }
}

}  // namespace kestrelumen

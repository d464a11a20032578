#include "host/SuiteCache.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "tests/host/FakeBasicSuite.h"

namespace {

using kestrelumen::SuiteCache;
using testsupport::FakeBasicSuite;
using Key = FakeBasicSuite::Key;
using Refusal = FakeBasicSuite::Refusal;

// The five accessors, named so that table rows can list them.
enum class Accessor { Handle, ColorParam, Iterate8, Iterate16, IterateFloat };

const void* call(SuiteCache& cache, Accessor a) {
    switch (a) {
        case Accessor::Handle: return cache.handleSuite();
        case Accessor::ColorParam: return cache.colorParamSuite();
        case Accessor::Iterate8: return cache.iterate8Suite();
        case Accessor::Iterate16: return cache.iterate16Suite();
        case Accessor::IterateFloat: return cache.iterateFloatSuite();
    }
    return nullptr;
}

const Key HANDLE{"PF Handle Suite", 2};
const Key COLOR{"PF ColorParamSuite", 1};
const Key IT8{"PF Iterate8 Suite", 1};
const Key IT16{"PF iterate16 Suite", 1};
const Key ITF{"PF iterateFloat Suite", 1};

// Runs body and returns the code of the HostError it threw, or -1 when it
// threw nothing: the entry point catches exactly that type.
PF_Err thrownBy(const std::function<void()>& body) {
    try {
        body();
    } catch (const kestrelumen::HostError& e) {
        return e.code;
    }
    return -1;
}

TEST(SuiteCache, EachAccessorAsksForItsSuiteByExactNameAndVersion) {
    const struct {
        Accessor accessor;
        Key suite;
    } rows[] = {
        {Accessor::Handle, HANDLE},  {Accessor::ColorParam, COLOR}, {Accessor::Iterate8, IT8},
        {Accessor::Iterate16, IT16}, {Accessor::IterateFloat, ITF},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.suite.first);
        FakeBasicSuite host;
        {
            SuiteCache cache(&host.basic);
            EXPECT_EQ(call(cache, row.accessor), host.table(row.suite.first, row.suite.second));
        }
        EXPECT_EQ(host.acquired(), std::vector<Key>{row.suite});
        EXPECT_EQ(host.released(), std::vector<Key>{row.suite});
    }
}

TEST(SuiteCache, RepeatedAccessAcquiresOnceAndReleasesOnce) {
    FakeBasicSuite host;
    {
        SuiteCache cache(&host.basic);
        const void* first = cache.handleSuite();
        EXPECT_EQ(cache.handleSuite(), first);
        EXPECT_EQ(cache.handleSuite(), first);
        EXPECT_EQ(host.calls.size(), 1u);
    }
    EXPECT_EQ(host.acquired(), std::vector<Key>{HANDLE});
    EXPECT_EQ(host.released(), std::vector<Key>{HANDLE});
}

TEST(SuiteCache, ReleasesInTableOrderWhateverTheOrderOfUse) {
    const struct {
        std::vector<Accessor> used;
        std::vector<Key> released;
    } rows[] = {
        {{}, {}},
        {{Accessor::IterateFloat, Accessor::Iterate16, Accessor::Iterate8, Accessor::Handle},
         {HANDLE, IT8, IT16, ITF}},
        {{Accessor::ColorParam, Accessor::Handle}, {HANDLE, COLOR}},
        {{Accessor::ColorParam, Accessor::IterateFloat, Accessor::Handle, Accessor::Iterate16,
          Accessor::Iterate8, Accessor::ColorParam},
         {HANDLE, IT8, IT16, ITF, COLOR}},
    };
    for (const auto& row : rows) {
        FakeBasicSuite host;
        {
            SuiteCache cache(&host.basic);
            for (Accessor a : row.used) call(cache, a);
        }
        EXPECT_EQ(host.released(), row.released);
    }
}

TEST(SuiteCache, RefusedSuiteThrows516AndIsNeverReleased) {
    const Refusal refusals[] = {Refusal::ErrorCode, Refusal::NullWithSuccess,
                                Refusal::PointerWithError};
    for (Refusal how : refusals) {
        SCOPED_TRACE(static_cast<int>(how));
        FakeBasicSuite host;
        host.refuse(IT16.first, IT16.second, how);
        {
            SuiteCache cache(&host.basic);
            EXPECT_EQ(thrownBy([&] { cache.iterate16Suite(); }), PF_Err_BAD_CALLBACK_PARAM);
            // The slot stayed empty, so the next request asks the host again.
            EXPECT_EQ(thrownBy([&] { cache.iterate16Suite(); }), PF_Err_BAD_CALLBACK_PARAM);
            EXPECT_EQ(host.acquired().size(), 2u);
        }
        EXPECT_TRUE(host.released().empty());
    }
}

TEST(SuiteCache, UnwindingReleasesWhatWasAcquiredBeforeTheRefusal) {
    FakeBasicSuite host;
    host.refuse(IT8.first, IT8.second, Refusal::NullWithSuccess);
    const PF_Err err = thrownBy([&] {
        SuiteCache cache(&host.basic);
        cache.colorParamSuite();
        cache.handleSuite();
        cache.iterate8Suite();
        ADD_FAILURE() << "the refusal did not leave the handler";
    });
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.acquired(), (std::vector<Key>{COLOR, HANDLE, IT8}));
    EXPECT_EQ(host.released(), (std::vector<Key>{HANDLE, COLOR}));
}

TEST(SuiteCache, NullBasicSuiteThrows516BeforeAnything) {
    FakeBasicSuite host;
    EXPECT_EQ(thrownBy([] { SuiteCache cache(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(host.calls.empty());
}

TEST(SuiteCache, ReleaseTableHoldsTheDuplicateRowsAsTwoSlots) {
    // Rows 30 and 31: the same suite twice, each released on its own.
    EXPECT_STREQ(kestrelumen::SUITE_RELEASE_TABLE[29].name, "PF Path Data Suite");
    EXPECT_STREQ(kestrelumen::SUITE_RELEASE_TABLE[30].name, "PF Path Data Suite");
    EXPECT_EQ(kestrelumen::SUITE_RELEASE_TABLE[0].version, 1);
    EXPECT_STREQ(kestrelumen::SUITE_RELEASE_TABLE[100].name, "DRAWBOT Path Suite");
}

}  // namespace

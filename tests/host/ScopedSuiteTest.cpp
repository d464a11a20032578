#include "host/ScopedSuite.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "tests/host/FakeBasicSuite.h"
#include "tests/support/RecordingHost.h"

namespace {

using kestrelumen::acquireScopedSuite;
using kestrelumen::releaseScopedSuite;
using kestrelumen::ScopedSuiteHold;
using testsupport::FakeBasicSuite;
using testsupport::RecordingHost;
using Key = FakeBasicSuite::Key;

const Key WORLD{"PF World Suite", 2};
constexpr PF_OutFlags HOST_FLAGS = 0x02000400;  // bits the host already set

struct Host {
    Host() {
        rec.in_data.pica_basicP = &basic.basic;
        rec.out_data.out_flags = HOST_FLAGS;
    }
    FakeBasicSuite basic;
    RecordingHost rec;
};

TEST(ScopedSuite, AcquireAndReleaseWithAHostThatDelivers) {
    Host host;
    const void* suite = nullptr;
    EXPECT_EQ(acquireScopedSuite(&host.rec.in_data, &host.rec.out_data, "PF World Suite", 2,
                                 "Couldn't load suite.", &suite),
              PF_Err_NONE);
    EXPECT_EQ(suite, host.basic.table("PF World Suite", 2));
    EXPECT_EQ(releaseScopedSuite(&host.rec.in_data, &host.rec.out_data, "PF World Suite", 2,
                                 "Couldn't release suite."),
              PF_Err_NONE);
    EXPECT_EQ(host.basic.acquired(), std::vector<Key>{WORLD});
    EXPECT_EQ(host.basic.released(), std::vector<Key>{WORLD});
    EXPECT_EQ(host.rec.out_data.out_flags, HOST_FLAGS);
    EXPECT_TRUE(host.rec.calls.empty());
}

TEST(ScopedSuite, FailuresSetTheFlagAndShowTheMessage) {
    const void* const CALLER_POINTER = reinterpret_cast<const void*>(0x1234);
    const struct {
        const char* what;
        bool acquire;
        bool basic_present;
        const char* message;
        const void* pointer_before;
        const char* shown;
    } rows[] = {
        {"no basic suite", true, false, "Couldn't load suite.", nullptr, "Couldn't load suite."},
        {"no basic suite, default text", true, false, nullptr, nullptr,
         "Not able to acquire AEFX Suite."},
        {"pointer left as it was", true, false, nullptr, CALLER_POINTER,
         "Not able to acquire AEFX Suite."},
        {"suite refused", true, true, "Couldn't load suite.", nullptr, "Couldn't load suite."},
        {"release without basic suite", false, false, "Couldn't release suite.", nullptr,
         "Couldn't release suite."},
        {"release, default text", false, false, nullptr, nullptr,
         "Not able to release AEFX Suite."},
        {"message with conversions", true, false, "100% sure %s%n%d", nullptr, "100% sure %s%n%d"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Host host;
        host.basic.refuse("PF World Suite", 2, FakeBasicSuite::Refusal::NullWithSuccess);
        if (!row.basic_present) host.rec.in_data.pica_basicP = nullptr;
        const void* suite = row.pointer_before;

        const PF_Err err = row.acquire
                               ? acquireScopedSuite(&host.rec.in_data, &host.rec.out_data,
                                                    "PF World Suite", 2, row.message, &suite)
                               : releaseScopedSuite(&host.rec.in_data, &host.rec.out_data,
                                                    "PF World Suite", 2, row.message);

        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(suite, row.pointer_before);
        EXPECT_EQ(host.rec.out_data.out_flags, HOST_FLAGS | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
        EXPECT_EQ(std::string(host.rec.out_data.return_msg), row.shown);
        // The message is printed as an argument, never used as the format.
        const auto prints = host.rec.of(RecordingHost::Kind::Sprintf);
        ASSERT_EQ(prints.size(), 1u);
        EXPECT_EQ(prints[0].text, "%s");
    }
}

TEST(ScopedSuite, LaterSuccessKeepsAnEarlierMessage) {
    Host host;
    host.rec.in_data.pica_basicP = nullptr;
    const void* suite = nullptr;
    ASSERT_EQ(releaseScopedSuite(&host.rec.in_data, &host.rec.out_data, "PF World Suite", 2,
                                 "Couldn't release suite."),
              PF_Err_BAD_CALLBACK_PARAM);
    host.rec.in_data.pica_basicP = &host.basic.basic;
    ASSERT_EQ(acquireScopedSuite(&host.rec.in_data, &host.rec.out_data, "PF World Suite", 2,
                                 "Couldn't load suite.", &suite),
              PF_Err_NONE);
    EXPECT_NE(host.rec.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
    EXPECT_EQ(std::string(host.rec.out_data.return_msg), "Couldn't release suite.");
}

TEST(ScopedSuiteHold, GivesBackOnlyWhatTheHostDelivered) {
    const struct {
        const char* what;
        bool refused;
        bool release_explicitly;
        std::vector<Key> released;
    } rows[] = {
        {"released by the owner", false, true, {WORLD}},
        {"released at scope exit", false, false, {WORLD}},
        {"refused, owner releases", true, true, {}},
        {"refused, scope exit", true, false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Host host;
        if (row.refused) {
            host.basic.refuse("PF World Suite", 2, FakeBasicSuite::Refusal::ErrorCode);
        }
        {
            ScopedSuiteHold world(&host.rec.in_data, &host.rec.out_data, "PF World Suite", 2);
            EXPECT_EQ(world.acquire("Couldn't load suite."),
                      row.refused ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE);
            if (row.release_explicitly) {
                EXPECT_EQ(world.release("Couldn't release suite."), PF_Err_NONE);
                EXPECT_EQ(world.get<PF_WorldSuite2>(), nullptr);
            }
        }
        EXPECT_EQ(host.basic.released(), row.released);
    }
}

}  // namespace

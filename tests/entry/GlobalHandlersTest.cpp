// About and global setup, as a host sees them through EntryPointFunc.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "entry/EntryPoint.h"
#include "host/HostConstants.h"
#include "tests/support/RecordingHost.h"

namespace {

using testsupport::RecordingHost;

// "Kestrelumen, v1.1\r" and the credit "Quorv 汉化" in GBK.
const std::string ABOUT_TEXT = std::string("Kestrelumen, v1.1\r") + "Quorv \xBA\xBA\xBB\xAF";

PF_Err run(RecordingHost& host, PF_Cmd cmd) {
    return EntryPointFunc(cmd, &host.in_data, &host.out_data, nullptr, nullptr, nullptr);
}

TEST(About, PrintsNameVersionAndGbkCreditIntoReturnMsg) {
    RecordingHost host;
    std::memset(host.out_data.return_msg, 'x', sizeof host.out_data.return_msg);

    ASSERT_EQ(run(host, PF_Cmd_ABOUT), PF_Err_NONE);

    const char* msg = host.out_data.return_msg;
    ASSERT_EQ(std::strlen(msg), 28u);
    EXPECT_EQ(std::string(msg), ABOUT_TEXT);
    EXPECT_EQ(static_cast<unsigned char>(msg[17]), 0x0Du);  // the 18th byte
    const unsigned char tail[] = {0xBA, 0xBA, 0xBB, 0xAF};
    EXPECT_EQ(std::memcmp(msg + 24, tail, 4), 0);

    const auto prints = host.of(RecordingHost::Kind::Sprintf);
    ASSERT_EQ(prints.size(), 1u);
    EXPECT_EQ(prints[0].text, "%s, v%d.%d\r%s");
    EXPECT_EQ(host.calls.size(), 1u);
}

TEST(GlobalSetup, ReplacesWhateverTheHostLeftInTheFlagWords) {
    const unsigned char fills[] = {0x00, 0xFF, 0xA5};
    for (unsigned char fill : fills) {
        SCOPED_TRACE(static_cast<int>(fill));
        RecordingHost host;
        std::memset(&host.out_data, fill, sizeof host.out_data);
        PF_OutData expected;
        std::memcpy(&expected, &host.out_data, sizeof expected);
        expected.my_version = 0x00088601u;
        expected.out_flags = 0x02000400;
        expected.out_flags2 = 0x1400;

        ASSERT_EQ(run(host, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);

        // Only the three words change: global_data and the rest stay as given.
        EXPECT_EQ(std::memcmp(&host.out_data, &expected, sizeof expected), 0);
        EXPECT_TRUE(host.calls.empty());
    }
}

TEST(GlobalSetup, VersionWordUnpacksToRelease110Build1) {
    RecordingHost host;
    ASSERT_EQ(run(host, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
    const A_u_long v = host.out_data.my_version;
    EXPECT_EQ((v >> 19) & 0x7u, 1u);  // major
    EXPECT_EQ((v >> 15) & 0xFu, 1u);  // minor
    EXPECT_EQ((v >> 11) & 0xFu, 0u);  // fix
    EXPECT_EQ((v >> 9) & 0x3u, 3u);   // stage: release
    EXPECT_EQ(v & 0x1FFu, 1u);        // build
    EXPECT_EQ(v >> 22, 0u);
}

TEST(GlobalSetup, AboutAndGlobalSetupRepeatInAnyOrder) {
    const PF_Cmd orders[][4] = {
        {PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP, PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP},
        {PF_Cmd_GLOBAL_SETUP, PF_Cmd_GLOBAL_SETUP, PF_Cmd_ABOUT, PF_Cmd_ABOUT},
        {PF_Cmd_GLOBAL_SETUP, PF_Cmd_ABOUT, PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP},
    };
    for (const auto& order : orders) {
        RecordingHost host;
        for (PF_Cmd cmd : order) ASSERT_EQ(run(host, cmd), PF_Err_NONE);
        EXPECT_EQ(std::string(host.out_data.return_msg), ABOUT_TEXT);
        EXPECT_EQ(host.out_data.my_version, 0x00088601u);
        EXPECT_EQ(host.out_data.out_flags, 0x02000400);
        EXPECT_EQ(host.out_data.out_flags2, 0x1400);
    }
}

TEST(Dispatch, CommandsWithoutHandlerReturnZeroAndTouchNothing) {
    const PF_Cmd codes[] = {2, 3, 5, 11, 34, -1, -23, INT_MIN, INT_MAX};
    for (PF_Cmd cmd : codes) {
        SCOPED_TRACE(cmd);
        RecordingHost host;
        std::memset(&host.out_data, 0x5A, sizeof host.out_data);
        PF_OutData before;
        std::memcpy(&before, &host.out_data, sizeof before);

        // No extra record: a handler that looked at one would crash here.
        EXPECT_EQ(run(host, cmd), PF_Err_NONE);

        EXPECT_EQ(std::memcmp(&host.out_data, &before, sizeof before), 0);
        EXPECT_TRUE(host.calls.empty());
    }
}

}  // namespace

#include <gtest/gtest.h>

#include "ToolHarness.h"

namespace {

// The parameter labels arrive as GBK bytes and must print as UTF-8, next to
// the flag that sets each one.
TEST(InfoEndToEndTest, DescribesThePlugin) {
    clitest::TempDir dir;
    const clitest::RunResult r = clitest::runTool({"info", KESTRELUMEN_PLUGIN}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* text : {"Kestrelumen, v1.1",
                             "0x00088601",
                             "0x02000400 (PIX_INDEPENDENT, DEEP_COLOR_AWARE)",
                             "0x00001400 (SUPPORTS_SMART_RENDER, FLOAT_COLOR_AWARE)",
                             "Parameters: 7",
                             "--key",
                             "背景颜色",
                             "--choke-transparent",
                             "挤出透明",
                             "--choke-opaque",
                             "挤出不透明",
                             "--spill-amount",
                             "溢出数量",
                             "--spill-size",
                             "溢出尺寸",
                             "--view",
                             "查看",
                             "来源|Alpha蒙板|溢出蒙板|完全输出",
                             "EntryPointFunc",
                             "Kestrelumen/1/Tobrinel_9715BE2"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

}  // namespace

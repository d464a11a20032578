#include "cli/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, GbkLabelsBecomeUtf8) {
    const struct {
        const char* gbk;
        const char* utf8;
    } rows[] = {
        {"\xB1\xB3\xBE\xB0\xD1\xD5\xC9\xAB", "背景颜色"},
        {"\xBC\xB7\xB3\xF6\xB2\xBB\xCD\xB8\xC3\xF7", "挤出不透明"},
        {"Alpha\xC3\xC9\xB0\xE5", "Alpha蒙板"},
        {"plain ascii", "plain ascii"},
        {"", ""},
        // A lead byte with nothing after it still prints.
        {"ok\xB1", "ok\xEF\xBF\xBD"},
    };
    for (const auto& r : rows) EXPECT_EQ(kcli::gbkToUtf8(r.gbk), r.utf8) << r.utf8;
}

}  // namespace

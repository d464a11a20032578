#include "cli/Controls.h"

#include <gtest/gtest.h>

#include "cli/ExitCodes.h"

using kcli::KeyColor;

namespace {

struct ColorRow {
    const char* text;
    bool ok;
    KeyColor expected;
};

const ColorRow COLOR_ROWS[] = {
    {"#00ff00", true, {0, 255, 0}},
    {"#00FF00", true, {0, 255, 0}},
    {"#336699", true, {0x33, 0x66, 0x99}},
    {"#0f0", true, {0, 255, 0}},
    {"green", true, {0, 255, 0}},
    {"Blue", true, {0, 0, 255}},
    {"0,1,0", true, {0, 255, 0}},
    {"0.2, 1, 0", true, {51, 255, 0}},
    // Half-way rounds away from zero: 0.5 * 255 = 127.5.
    {"0.5,0.5,0.5", true, {128, 128, 128}},
    {"#00ff0", false, {}},
    {"#00gg00", false, {}},
    {"#", false, {}},
    {"1.2,0,0", false, {}},
    {"-0.1,0,0", false, {}},
    {"nan,0,0", false, {}},
    {"0,1", false, {}},
    {"0,1,0,1", false, {}},
    {"0,,1", false, {}},
    {"0,x,1", false, {}},
    {"chartreuse", false, {}},
    {"", false, {}},
};

TEST(ControlsTest, KeyColorTexts) {
    for (const ColorRow& row : COLOR_ROWS) {
        SCOPED_TRACE(row.text);
        if (row.ok) {
            const KeyColor c = kcli::parseKeyColor(row.text);
            EXPECT_EQ(c.red, row.expected.red);
            EXPECT_EQ(c.green, row.expected.green);
            EXPECT_EQ(c.blue, row.expected.blue);
        } else {
            try {
                kcli::parseKeyColor(row.text);
                ADD_FAILURE() << "accepted";
            } catch (const kcli::Failure& f) {
                EXPECT_EQ(f.code(), kcli::EXIT_BAD_INPUT);
                // The message names the flag and quotes the text.
                EXPECT_EQ(std::string(f.what()).rfind("--key: '" + std::string(row.text) + "'", 0),
                          0u)
                    << f.what();
            }
        }
    }
}

TEST(ControlsTest, ViewNamesAndNumbers) {
    const std::pair<const char*, int> rows[] = {
        {"source", 1},      {"alpha", 2}, {"alpha-matte", 2}, {"SPILL", 3},
        {"spill-matte", 3}, {"final", 4}, {"1", 1},           {"4", 4},
        {"0", 0},           {"5", 0},     {"matte", 0},       {"", 0},
    };
    for (const auto& [text, view] : rows) {
        SCOPED_TRACE(text);
        if (view) {
            EXPECT_EQ(kcli::parseView(text), view);
        } else {
            EXPECT_THROW(kcli::parseView(text), kcli::Failure);
        }
    }
}

TEST(ControlsTest, DefaultsAreTheParameterDefaults) {
    const kcli::Controls c;
    EXPECT_EQ(c.key, (KeyColor{0, 0, 0}));
    EXPECT_EQ(c.choke_transparent, 0.0);
    EXPECT_EQ(c.choke_opaque, 0.0);
    EXPECT_EQ(c.spill_amount, 0.0);
    EXPECT_EQ(c.spill_size, 1.0);
    EXPECT_EQ(c.view, 4);
}

}  // namespace

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/theme/color.hpp>

using zem::Color;
using zem::theme::parse_colour;
using zem::theme::parse_colour_channel;

namespace {

void expect_colour(const Color& got, const Color& want, const std::string& what) {
    EXPECT_NEAR(got.r, want.r, 1e-6) << what;
    EXPECT_NEAR(got.g, want.g, 1e-6) << what;
    EXPECT_NEAR(got.b, want.b, 1e-6) << what;
    EXPECT_NEAR(got.a, want.a, 1e-6) << what;
}

}  // namespace

TEST(ThemeColourText, ParsesAndRefusesLikeTheThemeFormatSays) {
    struct Case {
        std::string text;
        std::optional<Color> want;
    };
    const std::vector<Case> cases = {
        {"#FF0000", Color{1, 0, 0, 1}},
        {"ff000080", Color{1, 0, 0, 128.0f / 255.0f}},
        {"###00Ff00", Color{0, 1, 0, 1}},
        {"  #0000ff\t", Color{0, 0, 1, 1}},
        {"rgb(255, 0, 0)", Color{1, 0, 0, 1}},
        {"rgb(255,0,0)", Color{1, 0, 0, 1}},
        {"rgb(127.5,0,0)", Color{0.5f, 0, 0, 1}},
        {"rgb(+12, 0, 0)", Color{12.0f / 255.0f, 0, 0, 1}},
        {"rgb(1e2, 0, 0)", Color{100.0f / 255.0f, 0, 0, 1}},
        {"rgba(0,0,0,2)", Color{0, 0, 0, 1}},
        {"rgba(0,0,0,-1)", Color{0, 0, 0, 0}},
        {"rgba(10, 20, 30, 0.25)", Color{10.0f / 255.0f, 20.0f / 255.0f, 30.0f / 255.0f, 0.25f}},
        {"\u00a0#ffffff\u3000", Color{1, 1, 1, 1}},
        {"rgb(256,0,0)", std::nullopt},
        {"rgb(65536,0,0)", std::nullopt},
        {"rgb(-1,0,0)", std::nullopt},
        {"rgba(0,0,0)", std::nullopt},
        {"rgb(0,0,0,1)", std::nullopt},
        {"rgb()", std::nullopt},
        {"rgb(", std::nullopt},
        {"rgba(", std::nullopt},
        {"rgb(1,2,3", std::nullopt},
        {"RGB(1,2,3)", std::nullopt},
        {"red", std::nullopt},
        {"#abc", std::nullopt},
        {"#12345", std::nullopt},
        {"#1234567", std::nullopt},
        {"#123456789", std::nullopt},
        {"#12345g", std::nullopt},
        {"+f0000", std::nullopt},
        {"#\u00e9\u00e9\u00e9", std::nullopt},  // six bytes, pairs straddle characters
        {"", std::nullopt},
        {"rgba(0,0,0,nan)", std::nullopt},
        {"rgba(0,0,0,)", std::nullopt},
    };
    for (const Case& c : cases) {
        auto got = parse_colour(c.text);
        if (c.want) {
            ASSERT_TRUE(got.has_value()) << c.text << ": " << got.error();
            expect_colour(*got, *c.want, c.text);
        } else {
            EXPECT_FALSE(got.has_value()) << c.text;
        }
    }
}

TEST(ThemeColourText, ErrorQuotesTheTrimmedTextWithBacktickedForms) {
    auto got = parse_colour("  #abc ");
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error(), "invalid colour `#abc` (expected `#RRGGBB`, `#RRGGBBAA` or `rgb[a](…)`)");
}

TEST(ThemeColourText, ChannelIntegersAboveTheByteRangeNeverFallThrough) {
    struct Case {
        std::string text;
        std::optional<float> want;
    };
    const std::vector<Case> cases = {
        {"0", 0.0f},      {"255", 255.0f}, {"+7", 7.0f},        {"256", std::nullopt},
        {"255.0", 255.0f}, {"0.5", 0.5f},   {"255.5", std::nullopt}, {"-0.5", std::nullopt},
        {"", std::nullopt}, {"+", std::nullopt}, {"1 2", std::nullopt}, {"0x10", std::nullopt},
        {"99999", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_colour_channel(c.text), c.want) << c.text;
    }
}

#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include <zem/theme/gradient_lut.hpp>

using zem::build_gradient_lut;
using zem::GradientSpace;
using zem::GradientStop;
using zem::gradient_colour_at;

namespace {

const GradientStop black_at_0{0, 0, 0, 1, 0};
const GradientStop white_at_1{1, 1, 1, 1, 1};

std::array<std::uint8_t, 4> texel(const std::array<std::uint8_t, 2048>& lut, std::size_t i) {
    return {lut[4 * i], lut[4 * i + 1], lut[4 * i + 2], lut[4 * i + 3]};
}

}  // namespace

TEST(GradientTable, EmptyAndSingleStopLists) {
    auto empty = build_gradient_lut({}, GradientSpace::Srgb);
    for (std::uint8_t b : empty) ASSERT_EQ(b, 0);

    std::vector<GradientStop> red{{1, 0, 0, 1, 0.7f}};
    auto one = build_gradient_lut(red, GradientSpace::LinearRgb);
    for (std::size_t i = 0; i < 512; ++i) ASSERT_EQ(texel(one, i), (std::array<std::uint8_t, 4>{255, 0, 0, 255})) << i;
}

TEST(GradientTable, BlackToWhiteTexelsInEachSpace) {
    const std::vector<GradientStop> stops{black_at_0, white_at_1};
    struct Case {
        GradientSpace space;
        float mid;
        std::uint8_t t255;
        std::uint8_t t256;
    };
    const std::vector<Case> cases = {
        {GradientSpace::Srgb, 0.5f, 126, 129},
        {GradientSpace::LinearRgb, 0.7354f, 187, 188},
        {GradientSpace::Oklab, 0.7354f, 187, 188},
    };
    for (const Case& c : cases) {
        const zem::Color mid = gradient_colour_at(stops, c.space, 0.5f);
        EXPECT_NEAR(mid.r, c.mid, 1e-4);
        EXPECT_NEAR(mid.a, 1.0f, 1e-6);
        auto lut = build_gradient_lut(stops, c.space);
        EXPECT_EQ(texel(lut, 255)[0], c.t255);
        EXPECT_EQ(texel(lut, 256)[0], c.t256);
        for (std::size_t i = 0; i < 512; ++i) ASSERT_EQ(lut[4 * i + 3], 255);
    }
    EXPECT_EQ(build_gradient_lut(stops, GradientSpace::Oklab), build_gradient_lut(stops, GradientSpace::LinearRgb));
}

TEST(GradientTable, EndSegmentsExtrapolateAndClampToBytes) {
    const std::vector<GradientStop> stops{black_at_0, white_at_1};
    auto lut = build_gradient_lut(stops, GradientSpace::Srgb);
    EXPECT_NEAR(gradient_colour_at(stops, GradientSpace::Srgb, -2.0f).r, -2.0f, 1e-6);
    EXPECT_NEAR(gradient_colour_at(stops, GradientSpace::Srgb, 3.0f).r, 3.0f, 1e-6);
    // Positions 0..1 fall on texels 205..306.
    for (std::size_t i = 0; i < 205; ++i) ASSERT_EQ(texel(lut, i)[0], 0) << i;
    for (std::size_t i = 307; i < 512; ++i) ASSERT_EQ(texel(lut, i)[0], 255) << i;
    EXPECT_GT(texel(lut, 206)[0], 0);
    EXPECT_LT(texel(lut, 306)[0], 255);
}

TEST(GradientTable, StopOrderDoesNotMatterButEqualPositionsKeepTheirs) {
    const std::vector<GradientStop> forward{black_at_0, white_at_1};
    const std::vector<GradientStop> reversed{white_at_1, black_at_0};
    EXPECT_EQ(build_gradient_lut(reversed, GradientSpace::LinearRgb),
              build_gradient_lut(forward, GradientSpace::LinearRgb));
    // The caller's list is not reordered.
    EXPECT_EQ(reversed.front(), white_at_1);

    const std::vector<GradientStop> same_pos{{1, 0, 0, 1, 0.5f}, {0, 0, 1, 1, 0.5f}};
    auto lut = build_gradient_lut(same_pos, GradientSpace::Srgb);
    for (std::size_t i = 0; i < 512; ++i) ASSERT_EQ(texel(lut, i), (std::array<std::uint8_t, 4>{255, 0, 0, 255})) << i;
}

TEST(GradientTable, MiddleSegmentAndLinearAlpha) {
    const std::vector<GradientStop> three{{1, 0, 0, 1, 0}, {0, 1, 0, 1, 0.5f}, {0, 0, 1, 1, 1}};
    const zem::Color c = gradient_colour_at(three, GradientSpace::Srgb, 0.75f);
    EXPECT_NEAR(c.r, 0.0f, 1e-6);
    EXPECT_NEAR(c.g, 0.5f, 1e-6);
    EXPECT_NEAR(c.b, 0.5f, 1e-6);

    const std::vector<GradientStop> fade{{0, 0, 0, 0, 0}, {0, 0, 0, 1, 1}};
    EXPECT_NEAR(gradient_colour_at(fade, GradientSpace::LinearRgb, 0.5f).a, 0.5f, 1e-6);
}

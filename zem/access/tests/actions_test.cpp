#include <zem/access/actions.hpp>

#include <gtest/gtest.h>

#include <vector>

namespace zem::access {
namespace {

TEST(AccessActions, SliderStaysWithinRange) {
    EXPECT_FLOAT_EQ(step_slider(0.98f, true), 1.0f);
    EXPECT_FLOAT_EQ(step_slider(0.02f, false), 0.0f);
    EXPECT_FLOAT_EQ(step_slider(0.5f, true), 0.55f);
    EXPECT_FLOAT_EQ(clamp_slider(1.7), 1.0f);
    EXPECT_FLOAT_EQ(clamp_slider(-3), 0.0f);
}

TEST(AccessActions, ScrollStepIsLogicalAndNeverNegative) {
    struct Case {
        Offset from;
        A11yAction action;
        std::int32_t scale;
        Offset to;
    };
    const Case cases[] = {
        {{0, 0}, A11yAction::ScrollDown, 1, {0, 80}},
        {{0, 80}, A11yAction::ScrollDown, 2, {0, 240}},
        {{0, 30}, A11yAction::ScrollUp, 1, {0, 0}},
        {{10, 0}, A11yAction::ScrollLeft, 1, {0, 0}},
        {{10, 5}, A11yAction::ScrollRight, 0, {90, 5}},
    };
    for (const Case& c : cases) EXPECT_EQ(scroll_by_step(c.from, c.action, c.scale), c.to);
}

// The frame lists inner scroll areas before the areas around them.
TEST(AccessActions, StepTakesTheInnermostAreaOfTheLastChain) {
    const ScrollArea outer{{0, 0, 100, 100}, 1};
    const ScrollArea inner{{10, 10, 50, 50}, 2};
    const ScrollArea a{{0, 0, 50, 50}, 3};
    const ScrollArea b{{60, 0, 40, 100}, 4};
    const ScrollArea b2{{0, 0, 400, 400}, 5};
    const ScrollArea b1{{0, 0, 100, 100}, 6};
    const ScrollArea c{{200, 200, 50, 50}, 7};
    struct Case {
        std::vector<ScrollArea> areas;
        std::optional<std::size_t> index;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{inner, outer}, 0},
        {{a, b}, 1},
        {{b1, c, b2, a}, 3},
        {{b1, c, b2}, 1},
    };
    for (const Case& k : cases) EXPECT_EQ(area_for_step(k.areas), k.index);
}

TEST(AccessActions, AreaAroundAWidgetIsTheInnermost) {
    const std::vector<ScrollArea> areas{{{10, 10, 50, 50}, 2}, {{0, 0, 100, 100}, 1}};
    EXPECT_EQ(area_around(areas, 20, 20), 0u);
    EXPECT_EQ(area_around(areas, 70, 70), 1u);
    // Edges count as inside.
    EXPECT_EQ(area_around(areas, 59, 59), 0u);
    EXPECT_EQ(area_around(areas, 200, 5), std::nullopt);
}

TEST(AccessActions, ScrollIntoView) {
    const Rect area{0, 100, 200, 120};
    struct Case {
        Rect widget;
        Offset from;
        Offset to;
    };
    const Case cases[] = {
        {{0, 200, 100, 40}, {0, 0}, {0, 20}},      // clipped at the bottom
        {{0, 90, 100, 40}, {0, 50}, {0, 40}},      // clipped at the top
        {{0, 80, 100, 40}, {0, 5}, {0, 0}},        // never below zero
        {{0, 120, 100, 40}, {0, 7}, {0, 7}},       // already inside
        {{190, 120, 40, 20}, {0, 0}, {30, 0}},     // clipped on the right
    };
    for (const Case& c : cases) EXPECT_EQ(scroll_into_view(area, c.from, c.widget), c.to);
}

}  // namespace
}  // namespace zem::access

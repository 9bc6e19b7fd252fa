#include <zem/shell/draw_frame.hpp>

#include <gtest/gtest.h>

using zem::Rect;
using zem::HitRegion;
using zem::IdPair;

namespace {

HitRegion region(zem::LayoutId id, Rect painted, bool slider = false) {
    HitRegion r;
    r.id = id;
    r.rect = painted;
    r.painted_rect = painted;
    if (slider) r.action.value = zem::HitAction::Slider{};
    else r.action.value = zem::HitAction::Press{};
    return r;
}

struct AddCase {
    const char* name;
    std::vector<HitRegion> regions;
    IdPair focus, hover, press;
    std::vector<Rect> want;
};

TEST(DamageAdd, ChangedInteractionStateDamagesPaintedRects) {
    const std::vector<AddCase> cases = {
        {"hover moves from A to B: both, snapped outward",
         {region(1, {10.5f, 10.2f, 20, 20}), region(2, {40, 40, 10.4f, 10})},
         {},
         {1, 2},
         {},
         {{10, 10, 21, 21}, {40, 40, 11, 10}}},
        {"unchanged ids add nothing", {region(1, {0, 0, 10, 10})}, {1, 1}, {1, 1}, {1, 1}, {}},
        {"a slider never adds damage, and the search stops at it",
         {region(3, {0, 0, 10, 10}, true), region(3, {50, 50, 10, 10})},
         {},
         {3, std::nullopt},
         {},
         {}},
        {"clamped to the surface; a rect wholly outside disappears",
         {region(1, {-5, -5, 20, 20}), region(2, {150, 150, 10, 10})},
         {std::nullopt, 1},
         {std::nullopt, 2},
         {},
         {{0, 0, 15, 15}}},
        {"order: focus, hover, press; last before current",
         {region(1, {0, 0, 1, 1}), region(2, {2, 0, 1, 1}), region(3, {4, 0, 1, 1})},
         {3, std::nullopt},
         {std::nullopt, 2},
         {1, std::nullopt},
         {{4, 0, 1, 1}, {2, 0, 1, 1}, {0, 0, 1, 1}}},
        {"an id without a region adds nothing", {region(1, {0, 0, 5, 5})}, {9, std::nullopt}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zem::damage_add(c.regions, c.focus, c.hover, c.press, 100, 100), c.want) << c.name;
    }
}

struct MergeCase {
    const char* name;
    std::vector<HitRegion> last, now;
    IdPair focus, hover, press;
    uint32_t W, H;
    std::vector<Rect> want;
};

TEST(DamageMerge, ReportsOnlyTheChangedRectsWhenTheLayoutStayedPut) {
    HitRegion a = region(1, {10, 10, 20, 20});
    HitRegion b = region(2, {50, 50, 10, 10});
    HitRegion moved_b = region(2, {51, 50, 10, 10});
    const Rect g{9, 9, 22, 22};
    const std::vector<MergeCase> cases = {
        {"A hovered in both frames: once per id occurrence and per list", {a, b}, {a, b}, {}, {1, 1}, {}, 100, 100,
         {g, g, g, g}},
        {"lists of different length: whole surface", {a}, {a, b}, {}, {1, 1}, {}, 100, 100, {}},
        {"a region moved by more than half a pixel: whole surface", {a, b}, {a, moved_b}, {}, {1, 2}, {}, 100, 100,
         {}},
        {"nothing collected: whole surface", {a, b}, {a, b}, {}, {}, {}, 100, 100, {}},
        {"more than half the surface: whole surface", {a}, {a}, {1, 1}, {}, {}, 30, 30, {}},
        // A painted rect past the right edge would clamp to a negative width;
        // it is dropped rather than sent.
        {"rect beyond the right edge is dropped", {region(1, {120, 10, 10, 10}), b}, {region(1, {120, 10, 10, 10}), b},
         {}, {1, 2}, {}, 100, 100, {{49, 49, 12, 12}, {49, 49, 12, 12}}},
        {"only rects beyond the edges: whole surface", {region(1, {120, 10, 10, 10})}, {region(1, {120, 10, 10, 10})},
         {}, {1, 1}, {}, 100, 100, {}},
    };
    for (const auto& c : cases) {
        auto got = zem::damage_merge(c.last, c.now, c.focus, c.hover, c.press, c.W, c.H);
        EXPECT_EQ(got, c.want) << c.name;
        for (const Rect& r : got) EXPECT_TRUE(r.w > 0 && r.h > 0) << c.name;
    }
}

// The title bar's close button at scale 2 with a 36 px band (72 px drawn).
TEST(TitleBar, CloseButtonGeometryFollowsTheScale) {
    zem::Canvas canvas = zem::Canvas::new_software(400, 300);
    canvas.set_scale(2);
    zem::Rect r = zem::draw_title_bar(canvas, "t", 400, 72, 2);
    EXPECT_EQ(r, (Rect{400 - 72, 8, 56, 56}));
    EXPECT_EQ(zem::draw_title_bar(canvas, "t", 400, 0, 2), Rect{});
}

}  // namespace

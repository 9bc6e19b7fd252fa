// The text context menu's box, rows and painting.
#include <zem/frame/context_menu_paint.hpp>
#include <zem/theme/active.hpp>

#include <gtest/gtest.h>

#include "fixture.hpp"

namespace {

using zem::MenuEntry;
using zem::Rect;

TEST(ContextMenu, StaysInsideTheSurfaceAtEveryEdge) {
    struct Case {
        float x, y, w, h;
        int scale;
        float left, top;
    };
    const Case cases[] = {
        {390, 290, 400, 300, 1, 216, 120},  // bottom-right corner
        {2, 2, 400, 300, 1, 4, 4},          // top-left corner
        {100, 50, 400, 300, 1, 100, 50},    // room enough: at the press
        {700, 500, 400, 300, 2, 432, 240},  // buffer pixels at scale 2: twice the box and margin
        {2, 2, 400, 300, 2, 8, 8},          // top-left corner at scale 2
        {50, 50, 100, 100, 1, 4, 4},        // smaller than the menu: top-left wins
    };
    for (const auto& c : cases) {
        Rect r = zem::context_menu_rect(c.x, c.y, c.w, c.h, c.scale);
        EXPECT_EQ(r.x, c.left) << c.x << "," << c.y;
        EXPECT_EQ(r.y, c.top) << c.x << "," << c.y;
        EXPECT_EQ(r.w, 180 * c.scale);
        EXPECT_EQ(r.h, 176 * c.scale);
    }
}

TEST(ContextMenu, RowsSplitTheBoxInFour) {
    const Rect r{10, 20, 180, 176};
    struct Case {
        float x, y;
        std::optional<MenuEntry> entry;
    };
    const Case cases[] = {
        {20, 20 + 43.9f, MenuEntry::Copy}, {20, 20 + 44, MenuEntry::Cut},   {20, 20 + 88, MenuEntry::Paste},
        {20, 20 + 175, MenuEntry::Delete}, {20, 20 + 176, std::nullopt},    {9, 30, std::nullopt},
        {191, 30, std::nullopt},           {190, 30, MenuEntry::Copy},      {20, 19, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(zem::context_menu_item_at(r, c.x, c.y), c.entry) << c.x << "," << c.y;
}

TEST(ContextMenu, HighlightFollowsWhatCanBeDone) {
    zem::testing::use_test_theme();
    const auto p = zem::theme::palette();
    auto draw = [](bool selection, bool paste) {
        zem::Canvas c = zem::Canvas::new_software(200, 200);
        zem::context_menu_draw(c, Rect{0, 0, 180, 176}, selection, paste);
        return c;
    };
    // Pixels inside the first and third rows, left of every label: the
    // highlight sits on Copy with a selection, else on Paste.
    zem::Canvas none = draw(false, false);
    EXPECT_TRUE(zem::testing::is_colour(none, 8, 88 + 22, p.surface_alt));
    EXPECT_TRUE(zem::testing::is_colour(none, 8, 22, p.surface));
    zem::Canvas sel = draw(true, false);
    EXPECT_TRUE(zem::testing::is_colour(sel, 8, 22, p.surface_alt));
    EXPECT_TRUE(zem::testing::is_colour(sel, 8, 88 + 22, p.surface));
}

// At buffer scale 2 the menu is the same menu, twice as large: its rows,
// highlight and labels follow the box.
TEST(ContextMenu, FollowsTheBufferScale) {
    zem::testing::use_test_theme();
    const auto p = zem::theme::palette();
    auto draw = [](int scale) {
        zem::Canvas c = zem::Canvas::new_software(200 * scale, 200 * scale);
        c.set_scale(static_cast<float>(scale));
        const Rect r = zem::context_menu_rect(0, 0, 200, 200, scale);
        zem::context_menu_draw(c, Rect{0, 0, r.w, r.h}, true, false);
        return c;
    };
    // The rightmost column of label ink in the Copy row (on the highlight).
    auto ink_right = [&](const zem::Canvas& c, int scale) {
        int right = -1;
        for (int x = 10 * scale; x < 170 * scale; ++x)
            for (int y = 8 * scale; y < 36 * scale; ++y)
                if (!zem::testing::is_colour(c, float(x), float(y), p.surface_alt, 40)) right = x;
        return right;
    };
    zem::Canvas one = draw(1), two = draw(2);
    EXPECT_EQ(zem::context_menu_item_at(Rect{0, 0, 360, 352}, 20, 100), MenuEntry::Cut);
    EXPECT_EQ(zem::context_menu_item_at(Rect{0, 0, 360, 352}, 350, 340), MenuEntry::Delete);
    EXPECT_TRUE(zem::testing::is_colour(two, 350, 300, p.surface));      // inside the doubled box
    EXPECT_TRUE(zem::testing::is_colour(two, 16, 22 * 2, p.surface_alt));  // highlight on Copy
    EXPECT_TRUE(zem::testing::is_colour(two, 16, 88 * 2 + 44, p.surface));
    const int a = ink_right(one, 1), b = ink_right(two, 2);
    ASSERT_GT(a, 16);
    EXPECT_NEAR(b, 2 * a, 4) << "labels at scale 1 end at " << a << ", at scale 2 at " << b;
}

}  // namespace

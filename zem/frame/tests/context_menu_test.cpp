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
        {700, 500, 400, 300, 2, 616, 420},  // buffer pixels at scale 2
        {50, 50, 100, 100, 1, 4, 4},        // smaller than the menu: top-left wins
    };
    for (const auto& c : cases) {
        Rect r = zem::context_menu_rect(c.x, c.y, c.w, c.h, c.scale);
        EXPECT_EQ(r.x, c.left) << c.x << "," << c.y;
        EXPECT_EQ(r.y, c.top) << c.x << "," << c.y;
        EXPECT_EQ(r.w, 180);
        EXPECT_EQ(r.h, 176);
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

}  // namespace

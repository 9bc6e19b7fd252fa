// Key repeat timing, Tab order and the cursor-shape numbers.
#include <zem/input/cursor.hpp>
#include <zem/input/keys.hpp>

#include <gtest/gtest.h>

namespace zem {
namespace {

using std::chrono::milliseconds;

TEST(Keys, RepeatFollowsTheCompositor) {
    struct {
        std::optional<keys::RepeatInfo> info;
        std::optional<keys::RepeatTiming> timing;
    } rows[] = {
        {std::nullopt, keys::RepeatTiming{milliseconds(500), milliseconds(33)}},
        {keys::RepeatInfo{25, 600}, keys::RepeatTiming{milliseconds(600), milliseconds(40)}},
        {keys::RepeatInfo{1, 200}, keys::RepeatTiming{milliseconds(200), milliseconds(1000)}},
        {keys::RepeatInfo{2000, 100}, keys::RepeatTiming{milliseconds(100), milliseconds(1)}},
        {keys::RepeatInfo{30, 0}, keys::RepeatTiming{milliseconds(500), milliseconds(33)}},
        // Rate 0 means no repeat at all, not the defaults.
        {keys::RepeatInfo{0, 0}, std::nullopt},
        {keys::RepeatInfo{0, 600}, std::nullopt},
    };
    for (auto& row : rows) EXPECT_EQ(keys::repeat_timing(row.info), row.timing);
    EXPECT_EQ(keys::button_repeat_delay(keys::RepeatInfo{0, 0}), milliseconds(500));
    EXPECT_EQ(keys::button_repeat_delay(keys::RepeatInfo{25, 300}), milliseconds(300));
}

TEST(Keys, TabEscapeNeverRepeat) {
    EXPECT_TRUE(keys::never_repeats(keys::kTab));
    EXPECT_TRUE(keys::never_repeats(keys::kIsoLeftTab));
    EXPECT_TRUE(keys::never_repeats(keys::kEscape));
    EXPECT_FALSE(keys::never_repeats(keys::kBackSpace));
    EXPECT_FALSE(keys::never_repeats(0x61));
}

TEST(Keys, FocusStepsWrap) {
    std::vector<LayoutId> ids{3, 5, 9};
    struct {
        std::optional<LayoutId> focused;
        bool backward;
        std::optional<LayoutId> next;
    } rows[] = {{std::nullopt, false, 3}, {std::nullopt, true, 9}, {3, false, 5}, {9, false, 3},
                {3, true, 9},             {5, true, 3},            {4, false, 3}, {4, true, 9}};
    for (auto& row : rows) EXPECT_EQ(keys::focus_step(ids, row.focused, row.backward), row.next);
    EXPECT_EQ(keys::focus_step({}, 3, false), std::nullopt);
    EXPECT_EQ(keys::focus_step({7}, 7, false), 7);
}

TEST(Keys, ListHighlightStepsWithoutWrapping) {
    std::vector<ListItemSpan> items{{11, 0, 40}, {12, 40, 40}, {13, 80, 40}};
    struct {
        std::optional<LayoutId> hovered;
        bool down;
        std::optional<std::size_t> next;
    } rows[] = {{std::nullopt, true, 0}, {std::nullopt, false, 2}, {11, true, 1}, {13, true, 2},
                {11, false, 0},          {12, false, 0},          {99, true, 0}};
    for (auto& row : rows) EXPECT_EQ(keys::list_highlight_step(items, row.hovered, row.down), row.next);
    EXPECT_EQ(keys::list_highlight_step({}, 11, true), std::nullopt);
    // Shown already, above the view, below it.
    EXPECT_FLOAT_EQ(keys::scroll_into_view(40, 40, 100, 0), 0);
    EXPECT_FLOAT_EQ(keys::scroll_into_view(40, 40, 100, 60), 40);
    EXPECT_FLOAT_EQ(keys::scroll_into_view(200, 40, 100, 0), 140);
}

// Regions store the shape minus one; the wire takes the protocol's own
// number, and 0 is not one of them.
TEST(Cursor, ProtocolValuesAreStoredPlusOne) {
    EXPECT_EQ(cursor::protocol_value(cursor_default), 1u);
    EXPECT_EQ(cursor::protocol_value(cursor_pointer), 4u);
    EXPECT_EQ(cursor::protocol_value(cursor_text), 9u);
    EXPECT_EQ(cursor::protocol_value(cursor_none), 1u);
    for (int s = 0; s <= 34; ++s) {
        auto v = cursor::protocol_value(static_cast<CursorShape>(s));
        EXPECT_GE(v, 1u);
        EXPECT_LE(v, 34u);
        EXPECT_NE(v, cursor::kNoShapeSent);
    }
}

TEST(Cursor, EdgesOfAWindow) {
    struct {
        float x, y;
        std::uint32_t shape;
    } rows[] = {{2, 2, cursor::kNwResize},   {798, 2, cursor::kNeResize},  {2, 598, cursor::kSwResize},
                {798, 598, cursor::kSeResize}, {400, 2, cursor::kNResize}, {400, 598, cursor::kSResize},
                {2, 300, cursor::kWResize},    {798, 300, cursor::kEResize}, {400, 300, cursor::kNoShapeSent},
                {6, 6, cursor::kNoShapeSent}};
    for (auto& row : rows) EXPECT_EQ(cursor::edge_shape(row.x, row.y, 800, 600, 6), row.shape) << row.x << "," << row.y;
}

TEST(Cursor, ResizeEdgesAreXdgValues) {
    struct {
        float x, y;
        std::uint32_t edge;
    } rows[] = {{2, 2, 5}, {798, 2, 9}, {2, 598, 6}, {798, 598, 10}, {400, 2, 1},
                {400, 598, 2}, {2, 300, 4}, {798, 300, 8}, {400, 300, 0}, {6, 594, 0}};
    for (auto& row : rows)
        EXPECT_EQ(cursor::resize_edge(row.x, row.y, 800, 600, 6), row.edge) << row.x << "," << row.y;
}

}  // namespace
}  // namespace zem

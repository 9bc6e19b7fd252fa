// Measure and arrange rules of the multi-child containers, as tables of trees
// with the rectangles they must give. Children are fixed-size painted boxes
// and spacers, so every number is exact.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/flex.hpp>
#include <zem/widgets/element.hpp>
#include <zem/widgets/text.hpp>

namespace zem {
namespace {

constexpr float inf = std::numeric_limits<float>::infinity();

// A child that always measures w x h.
Element block(float w, float h) {
    CustomPaint p;
    p.width = w;
    p.height = h;
    return p;
}

Element flex(std::uint32_t weight) { return Spacer{std::nullopt, std::nullopt, weight}; }

Element expanded(Element child, std::uint32_t weight) { return Expanded{Box<Element>(std::move(child)), weight}; }

Canvas phone_canvas() {
    // A 412 px smaller side makes every responsive metric its nominal value.
    return Canvas::new_software(412, 915);
}

std::vector<ChildSlot> slots(std::initializer_list<std::array<float, 4>> rects) {
    std::vector<ChildSlot> out;
    std::size_t i = 0;
    for (const auto& r : rects) out.push_back(ChildSlot{r[0], r[1], r[2], r[3], i++});
    return out;
}

void expect_slots(const std::vector<ChildSlot>& got, const std::vector<ChildSlot>& want, const std::string& name) {
    ASSERT_EQ(got.size(), want.size()) << name;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_FLOAT_EQ(got[i].x, want[i].x) << name << " slot " << i << " x";
        EXPECT_FLOAT_EQ(got[i].y, want[i].y) << name << " slot " << i << " y";
        EXPECT_FLOAT_EQ(got[i].w, want[i].w) << name << " slot " << i << " w";
        EXPECT_FLOAT_EQ(got[i].h, want[i].h) << name << " slot " << i << " h";
        EXPECT_EQ(got[i].index, want[i].index) << name << " slot " << i << " index";
    }
}

TEST(FitCap, SharesTheAvailableWidthAmongTheWidestChildren) {
    struct Case {
        std::vector<float> widths;
        float available;
        float cap;
    };
    const std::vector<Case> cases = {
        {{100, 200, 300}, 420, 160},  // 100 + 160 + 160
        {{300, 100, 200}, 420, 160},  // order does not matter
        {{100, 200, 300}, 600, inf},  // everything fits: nothing shrinks
        {{100, 100}, 100, 50},
        {{100, 200}, -10, 0},  // nothing left: a cap of 0, never negative
        {{}, 10, inf},
        {{}, -1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(fit_cap(c.widths, c.available), c.cap) << "available " << c.available;
    }
}

TEST(ColumnArrange, PlacesChildrenByTheTable) {
    Canvas canvas = phone_canvas();
    struct Case {
        std::string name;
        Column column;
        Rect rect;
        std::vector<ChildSlot> want;
    };
    std::vector<Case> cases;
    {
        // A flexible spacer of weight 0 leaves W = 0: it gets no height and
        // the content is centred vertically.
        Column c;
        c.center_y = true;
        c.children.push_back(block(50, 20));
        c.children.push_back(flex(0));
        cases.push_back({"weight-0 spacer", std::move(c), {0, 0, 100, 100}, slots({{25, 40, 50, 20}, {0, 60, 100, 0}})});
    }
    {
        Column c;
        c.max_width = Length::px(600);
        c.center_x = false;
        c.children.push_back(block(100, 10));
        cases.push_back({"max width centres the content", std::move(c), {0, 0, 1000, 50}, slots({{200, 0, 100, 10}})});
    }
    {
        Column c;
        c.children.push_back(block(40, 20));
        c.children.push_back(expanded(block(10, 10), 1));
        c.children.push_back(expanded(block(10, 10), 3));
        cases.push_back({"expanded children share by weight", std::move(c), {0, 0, 100, 100},
                         slots({{30, 0, 40, 20}, {0, 20, 100, 20}, {0, 40, 100, 60}})});
    }
    {
        // A vertical scroll is flexible with weight 1 and takes the inner width.
        Column c;
        c.padding = Length::px(10);
        c.spacing = Length::px(5);
        c.children.push_back(block(30, 20));
        c.children.push_back(Scroll{Box<Element>(block(10, 500)), ScrollAxis::Vertical});
        cases.push_back({"vertical scroll takes the rest", std::move(c), {0, 0, 200, 300},
                         slots({{85, 10, 30, 20}, {10, 35, 180, 255}})});
    }
    {
        // A horizontal scroll is as tall as its content and not flexible.
        Column c;
        c.center_y = true;
        c.children.push_back(Scroll{Box<Element>(block(10, 30)), ScrollAxis::Horizontal});
        cases.push_back({"horizontal scroll", std::move(c), {0, 0, 100, 100}, slots({{0, 35, 100, 30}})});
    }
    {
        Column c;
        c.center_x = false;
        c.spacing = Length::px(4);
        c.children.push_back(Spacer{Length::px(12), std::nullopt, 1});
        c.children.push_back(block(20, 20));
        c.children.push_back(flex(2));
        c.children.push_back(block(20, 20));
        cases.push_back({"fixed and flexible spacers", std::move(c), {5, 5, 100, 100},
                         slots({{5, 5, 100, 12}, {5, 21, 20, 20}, {5, 45, 100, 36}, {5, 85, 20, 20}})});
    }
    {
        Column c;
        cases.push_back({"empty", std::move(c), {0, 0, 100, 100}, {}});
    }
    for (const Case& c : cases) expect_slots(c.column.arrange(c.rect, canvas), c.want, c.name);
}

// The frame places nested containers in one shared list: each appends its
// slots after the ones already there and leaves those alone.
TEST(ArrangeInto, AppendsAfterTheSlotsAlreadyThere) {
    Canvas canvas = phone_canvas();
    const Rect rect{0, 0, 200, 100};
    Column column;
    column.children.push_back(block(40, 20));
    column.children.push_back(block(40, 30));
    Row row;
    row.children.push_back(block(40, 20));
    row.children.push_back(flex(1));
    const ChildSlot outer{1, 2, 3, 4, 9};
    std::vector<ChildSlot> shared{outer};
    column.arrange_into(rect, canvas, shared);
    row.arrange_into(rect, canvas, shared);
    std::vector<ChildSlot> want{outer};
    for (const ChildSlot& s : column.arrange(rect, canvas)) want.push_back(s);
    for (const ChildSlot& s : row.arrange(rect, canvas)) want.push_back(s);
    expect_slots(shared, want, "shared list");
}

TEST(ColumnMeasure, HeightsAndHuggedWidths) {
    Canvas canvas = phone_canvas();
    struct Case {
        std::string name;
        Column column;
        float available;
        float w;
        float h;
    };
    std::vector<Case> cases;
    {
        Column c;
        c.padding = Length::px(10);
        c.spacing = Length::px(5);
        c.children.push_back(block(30, 20));
        c.children.push_back(flex(1));
        c.children.push_back(expanded(block(10, 40), 1));
        c.children.push_back(Spacer{Length::px(7), std::nullopt, 1});
        cases.push_back({"flexible children count 0", std::move(c), 300, 300, 10 + 20 + 7 + 3 * 5 + 10});
    }
    {
        Column c;
        c.hug = true;
        c.padding = Length::px(10);
        c.children.push_back(block(30, 20));
        c.children.push_back(block(80, 20));
        c.children.push_back(Divider{});  // counts no width
        cases.push_back({"hug takes the widest child", std::move(c), 300, 100, 20 + 20 + 20 + 17});
    }
    {
        Column c;
        c.hug = true;
        c.children.push_back(block(500, 20));
        cases.push_back({"hug never exceeds the available width", std::move(c), 300, 300, 20});
    }
    {
        // Fields ask for no width without one, their width with one, and
        // the whole inner width when they show several lines.
        TextEdit unsized;
        TextEdit sized;
        sized.width = Length::px(150);
        TextEdit lines = sized;
        lines.multiline = true;
        lines.rows = 2;
        Column c;
        c.hug = true;
        c.children.push_back(unsized);
        cases.push_back({"field without width", c, 300, 0, 48});
        c.children.push_back(sized);
        cases.push_back({"field with width", c, 300, 150, 96});
        c.children.push_back(lines);
        cases.push_back({"multi-line field", c, 300, 300, 96 + 2 * 22.4f + 24});
    }
    for (const Case& c : cases) {
        const auto [w, h] = c.column.measure(canvas, c.available);
        EXPECT_FLOAT_EQ(w, c.w) << c.name;
        EXPECT_FLOAT_EQ(h, c.h) << c.name;
    }
}

TEST(RowArrange, PlacesChildrenByTheTable) {
    Canvas canvas = phone_canvas();
    struct Case {
        std::string name;
        Row row;
        Rect rect;
        std::vector<ChildSlot> want;
    };
    std::vector<Case> cases;
    {
        Row r;
        r.children.push_back(block(100, 20));
        r.children.push_back(block(50, 40));
        cases.push_back({"content centred", std::move(r), {0, 0, 400, 40}, slots({{125, 10, 100, 20}, {225, 0, 50, 40}})});
    }
    {
        Row r;
        r.align_end = true;
        r.padding = Length::px(10);
        r.children.push_back(block(100, 20));
        r.children.push_back(block(50, 20));
        cases.push_back({"align end stops pad short of the edge", std::move(r), {0, 0, 400, 40},
                         slots({{240, 10, 100, 20}, {340, 10, 50, 20}})});
    }
    {
        Row r;
        r.shrink = true;
        r.children.push_back(block(100, 10));
        r.children.push_back(block(200, 10));
        r.children.push_back(block(300, 10));
        cases.push_back({"shrink to a common cap", std::move(r), {0, 0, 420, 10},
                         slots({{0, 0, 100, 10}, {100, 0, 160, 10}, {260, 0, 160, 10}})});
    }
    {
        Row r;
        r.shrink = false;
        r.children.push_back(block(100, 10));
        r.children.push_back(block(200, 10));
        r.children.push_back(block(300, 10));
        cases.push_back({"without shrink the row overflows", std::move(r), {0, 0, 420, 10},
                         slots({{-90, 0, 100, 10}, {10, 0, 200, 10}, {210, 0, 300, 10}})});
    }
    {
        Row r;
        r.stretch = true;
        r.padding = Length::px(5);
        r.children.push_back(block(20, 10));
        r.children.push_back(Spacer{std::nullopt, Length::px(10), 1});
        cases.push_back({"stretch fills the height except spacers", std::move(r), {0, 0, 100, 60},
                         slots({{35, 5, 20, 50}, {55, 30, 10, 0}})});
    }
    {
        Row r;
        r.align_top = true;
        r.padding = Length::px(4);
        r.spacing = Length::px(6);
        r.children.push_back(block(20, 10));
        r.children.push_back(flex(1));
        r.children.push_back(expanded(block(5, 30), 3));
        cases.push_back({"flexible children share what is left", std::move(r), {0, 0, 200, 60},
                         slots({{4, 4, 20, 10}, {30, 4, 40, 0}, {76, 4, 120, 30}})});
    }
    {
        Row r;
        cases.push_back({"empty", std::move(r), {0, 0, 100, 100}, {}});
    }
    for (const Case& c : cases) expect_slots(c.row.arrange(c.rect, canvas), c.want, c.name);
}

// A wrapping text in an Expanded beside an icon: its slot is as tall as the
// lines it draws at the slot's width, and the row's measure agrees, so the
// last line stays inside both.
TEST(RowArrange, ExpandedTextIsAsTallAsItsLinesAtItsOwnWidth) {
    Canvas canvas = phone_canvas();
    Text t;
    t.text = "Extend your screen to other desktops with a second display";
    t.size = Length::px(15);
    t.wrap = true;
    Row r;
    r.spacing = Length::px(12);
    r.children.push_back(block(60, 18));
    r.children.push_back(expanded(Element(t), 1));
    const float width = 240;
    const float height = r.measure(canvas, width).second;
    const auto got = r.arrange(Rect{0, 0, width, height}, canvas);
    ASSERT_EQ(got.size(), 2u);
    const float lines_at_slot = t.measure(canvas, got[1].w).second;
    ASSERT_GT(lines_at_slot, t.measure(canvas, width).second) << "the text must wrap more at its slot's width";
    EXPECT_FLOAT_EQ(got[1].h, lines_at_slot);
    EXPECT_LE(got[1].y + got[1].h, height);
}

TEST(RowMeasure, WidthIsContentUnlessSomethingIsFlexible) {
    Canvas canvas = phone_canvas();
    struct Case {
        std::string name;
        Row row;
        float w;
        float h;
    };
    std::vector<Case> cases;
    {
        Row r;
        r.padding = Length::px(10);
        r.spacing = Length::px(5);
        r.children.push_back(block(30, 20));
        r.children.push_back(block(40, 25));
        cases.push_back({"content", std::move(r), 20 + 5 + 70, 20 + 25});
    }
    {
        Row r;
        r.children.push_back(block(30, 20));
        r.children.push_back(flex(1));
        cases.push_back({"flexible spacer takes all", std::move(r), 300, 20});
    }
    {
        Row r;
        r.align_end = true;
        r.children.push_back(block(30, 20));
        cases.push_back({"align end takes all", std::move(r), 300, 20});
    }
    {
        Row r;
        r.children.push_back(block(400, 20));
        cases.push_back({"capped at the available width", std::move(r), 300, 20});
    }
    for (const Case& c : cases) {
        const auto [w, h] = c.row.measure(canvas, 300);
        EXPECT_FLOAT_EQ(w, c.w) << c.name;
        EXPECT_FLOAT_EQ(h, c.h) << c.name;
    }
}

TEST(StackArrange, AlignmentMarginPlacementAndOffsets) {
    Canvas canvas = phone_canvas();
    Stack s;
    s.push(block(40, 20), Align::Center, Align::Center, 20);  // the margin plays no part in centring
    s.push(block(40, 20), Align::Start, Align::End, 10);
    s.push(block(40, 20), Align::End, Align::Start, 10);
    s.push(block(40, 20), Align::Stretch, Align::Stretch, 15);
    StackChild placed;
    placed.element = block(40, 20);
    placed.placement = Rect{3, 4, 5, 6};
    placed.margin = 50;
    placed.offset_x = 100;  // not applied to a placed child
    s.children.push_back(std::move(placed));
    StackChild shifted;
    shifted.element = block(40, 20);
    shifted.offset_x = 7;
    shifted.offset_y = -3;
    s.children.push_back(std::move(shifted));
    expect_slots(s.arrange(Rect{10, 10, 200, 100}, canvas),
                 slots({{90, 50, 40, 20},
                        {20, 80, 40, 20},
                        {160, 20, 40, 20},
                        {25, 25, 170, 70},
                        {13, 14, 5, 6},
                        {17, 7, 40, 20}}),
                 "stack");
}

TEST(StackMeasure, HugWidthAndTallestChild) {
    Canvas canvas = phone_canvas();
    Stack s;
    s.push(block(40, 20), Align::Start, Align::Start, 0);
    s.push(block(90, 35), Align::Start, Align::Start, 0);
    s.push(Spacer{Length::px(50), Length::px(500), 1}, Align::Start, Align::Start, 0);
    auto [w, h] = s.measure(canvas, 300);
    EXPECT_FLOAT_EQ(w, 300);
    EXPECT_FLOAT_EQ(h, 50);
    s.hug = true;
    std::tie(w, h) = s.measure(canvas, 300);
    EXPECT_FLOAT_EQ(w, 90);  // a spacer has no intrinsic width
    Stack empty;
    empty.hug = true;
    std::tie(w, h) = empty.measure(canvas, 300);
    EXPECT_FLOAT_EQ(w, 0);
    EXPECT_FLOAT_EQ(h, 0);
}

TEST(WrapGrid, ColumnsCellsRowsAndCentring) {
    Canvas canvas = phone_canvas();
    auto grid_of = [](std::size_t n, float child_h) {
        WrapGrid g;
        for (std::size_t i = 0; i < n; ++i) g.children.push_back(block(10, child_h));
        return g;
    };
    {
        WrapGrid g = grid_of(3, 50);
        g.min_cell_width = Length::px(200);
        g.column_gap = Length::px(10);
        expect_slots(g.arrange(Rect{0, 0, 650, 100}, canvas),
                     slots({{0, 0, 210, 50}, {220, 0, 210, 50}, {440, 0, 210, 50}}), "three columns of 210");
        g.max_columns = 2;
        expect_slots(g.arrange(Rect{0, 0, 650, 100}, canvas), slots({{0, 0, 320, 50}, {330, 0, 320, 50}, {0, 50, 320, 50}}),
                     "max columns 2");
    }
    {
        WrapGrid g = grid_of(5, 50);
        g.columns = 3;
        g.row_gap = Length::px(8);
        EXPECT_FLOAT_EQ(g.measure(canvas, 300).second, 116);  // the row gap counts once per row
        g.center_last_row = true;
        const auto s = g.arrange(Rect{0, 0, 300, 200}, canvas);
        ASSERT_EQ(s.size(), 5u);
        EXPECT_FLOAT_EQ(s[3].x, 50);  // half a step of 100
        EXPECT_FLOAT_EQ(s[4].x, 150);
        EXPECT_FLOAT_EQ(s[3].y, 58);
    }
    {
        WrapGrid g = grid_of(4, 50);
        g.columns = 0;
        EXPECT_TRUE(g.arrange(Rect{0, 0, 300, 200}, canvas).empty());
        EXPECT_FLOAT_EQ(g.measure(canvas, 300).second, 0);
    }
}

}  // namespace
}  // namespace zem

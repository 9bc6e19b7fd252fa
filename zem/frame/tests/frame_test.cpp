// What one layout-and-draw pass records: ids in pre-order, hit regions,
// scroll areas (inner before outer), accessibility nodes, and the state it
// keeps across frames.

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/frame/layout_and_draw.hpp>
#include <zem/widgets/element.hpp>

#include "fixture.hpp"

namespace zem {
namespace {

using testing::phone_canvas;

Element button(std::string label, int message) {
    Button b;
    b.content = std::move(label);
    b.on_press = Message(message);
    return b;
}

Element sized_button(float h, int message) {
    Button b;
    b.content = std::string("x");
    b.height = Length::px(h);
    b.on_press = Message(message);
    return b;
}

Element block(float w, float h) {
    CustomPaint p;
    p.width = w;
    p.height = h;
    return p;
}

std::vector<LayoutId> region_ids(const FrameLayout& layout) {
    std::vector<LayoutId> ids;
    for (const HitRegion& r : layout.regions) ids.push_back(r.id);
    return ids;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override { testing::use_test_theme(); }
    Canvas canvas = phone_canvas();
    FrameLayout layout;
};

TEST_F(Frame, IdsArePreOrderAndOnlyInteractiveLeavesRecordRegions) {
    Column page;
    Text title;
    title.text = "Title";
    page.children.push_back(title);                      // id 0: access node
    page.children.push_back(button("OK", 1));            // id 1: region
    GestureArea quiet;                                   // id 2: no messages, no capture
    quiet.child = Box<Element>(button("inner", 2));      // id 3
    page.children.push_back(std::move(quiet));
    page.children.push_back(Column{});                   // no id
    page.children.push_back(Row{});                      // no id
    TextEdit disabled;
    disabled.disabled = true;
    page.children.push_back(disabled);                   // id 4: nothing
    page.children.push_back(RichText{});                 // id 5: no links, still one id
    page.children.push_back(Switch{});                   // id 6
    Text empty;
    page.children.push_back(empty);                      // id 7: no node for empty text
    page.children.push_back(Spacer{});                   // id 8

    const LayoutId next = layout_and_draw(page, canvas, Rect{0, 0, 412, 915}, layout, 0);
    EXPECT_EQ(next, 9u);
    EXPECT_EQ(region_ids(layout), (std::vector<LayoutId>{1, 3, 6}));
    ASSERT_EQ(layout.access_nodes.size(), 1u);
    EXPECT_EQ(layout.access_nodes[0].text, "Title");
    EXPECT_EQ(layout.access_nodes[0].kind, AccessNodeKind::Text);
    EXPECT_EQ(layout.regions[0].text, "OK");
    EXPECT_EQ(*layout.regions[0].action.as<HitAction::Press>()->on_press->get<int>(), 1);
    EXPECT_EQ(layout.regions[0].cursor, cursor_pointer);
    EXPECT_FALSE(layout.regions[0].focusable);  // a button is focusable only on request
    EXPECT_TRUE(layout.regions[2].focusable);

    // The same tree drawn from another first id shifts every id.
    FrameLayout again;
    EXPECT_EQ(layout_and_draw(page, canvas, Rect{0, 0, 412, 915}, again, 100), 109u);
    EXPECT_EQ(region_ids(again), (std::vector<LayoutId>{101, 103, 106}));
}

TEST_F(Frame, LiveTextLeavesALiveNode) {
    Column page;
    Text status;
    status.text = "40%";
    status.live = true;
    Text title;
    title.text = "Installing";
    page.children.push_back(title);
    page.children.push_back(status);
    layout_and_draw(page, canvas, Rect{0, 0, 412, 915}, layout, 0);
    ASSERT_EQ(layout.access_nodes.size(), 2u);
    EXPECT_FALSE(layout.access_nodes[0].live);
    EXPECT_TRUE(layout.access_nodes[1].live);
    EXPECT_EQ(layout.access_nodes[1].text, "40%");
}

// Where each widget's text went: a text that fits lies inside its rectangle,
// one that cannot wrap runs past it, a shortened one counts at its whole
// width, and a button's label is its region's.
TEST_F(Frame, RecordsWhereEachWidgetsTextWasDrawn) {
    const std::string long_text = "A sentence far too long for the narrow column";
    auto text = [&](std::string s, bool truncate) {
        Text t;
        t.text = std::move(s);
        t.truncate = truncate;
        return Element(t);
    };
    Column page;
    page.children.push_back(text("Fits", false));
    page.children.push_back(text(long_text, false));
    page.children.push_back(text(long_text, true));
    page.children.push_back(button("OK", 1));
    Column narrow = page;
    Container box{Element(std::move(narrow))};
    box.max_width = 120.0f;
    (void)layout_and_draw(Element(std::move(box)), canvas, Rect{0, 0, 412, 915}, layout, 0);

    ASSERT_EQ(layout.access_nodes.size(), 3u);
    auto inside = [](const Rect& in, const Rect& out) {
        return in.x >= out.x - 0.5f && in.x + in.w <= out.x + out.w + 0.5f;
    };
    const AccessNode& fits = layout.access_nodes[0];
    ASSERT_TRUE(fits.text_rect);
    EXPECT_TRUE(inside(*fits.text_rect, fits.rect));
    for (std::size_t i : {1u, 2u}) {
        const AccessNode& over = layout.access_nodes[i];
        ASSERT_TRUE(over.text_rect) << i;
        EXPECT_GT(over.text_rect->x + over.text_rect->w, over.rect.x + over.rect.w + 50) << i;
    }
    ASSERT_EQ(layout.regions.size(), 1u);
    ASSERT_TRUE(layout.regions[0].text_rect);
    EXPECT_TRUE(inside(*layout.regions[0].text_rect, layout.regions[0].rect));
}

TEST_F(Frame, GestureAreaRecordsBeforeItsChildAndKeepsItsKey) {
    GestureArea area;
    area.on_tap = Message(7);
    area.key = "card";
    area.child = Box<Element>(button("in", 8));
    Container modal{Element(std::move(area))};
    modal.modal = true;
    Column page;
    page.children.push_back(std::move(modal));
    page.children.push_back(button("out", 9));
    layout_and_draw(page, canvas, Rect{0, 0, 412, 915}, layout, 0);
    ASSERT_EQ(layout.regions.size(), 3u);
    EXPECT_EQ(layout.regions[0].id, 0u);
    EXPECT_EQ(layout.regions[0].key, "card");
    EXPECT_EQ(layout.regions[0].cursor, cursor_pointer);
    EXPECT_TRUE(layout.regions[0].in_modal);
    EXPECT_EQ(layout.regions[1].id, 1u);
    EXPECT_TRUE(layout.regions[1].in_modal);
    EXPECT_FALSE(layout.regions[2].in_modal);  // the depth is back to 0 after the container
    EXPECT_EQ(layout.modal_depth, 0u);
    GestureArea capture;
    capture.capture = true;
    capture.child = Box<Element>(Spacer{});
    FrameLayout l2;
    layout_and_draw(capture, canvas, Rect{0, 0, 10, 10}, l2, 0);
    ASSERT_EQ(l2.regions.size(), 1u);
    EXPECT_FALSE(l2.regions[0].action.as<HitAction::Press>()->on_press.has_value());
}

Element scroll_of_buttons(int n, float h) {
    Column content;
    for (int i = 0; i < n; ++i) content.children.push_back(sized_button(h, i));
    return Scroll{Box<Element>(Element(std::move(content))), ScrollAxis::Vertical};
}

TEST_F(Frame, ScrolledRegionsAreTranslatedClippedAndDroppedOutsideTheViewport) {
    layout.scroll_offsets[0] = {0.0f, 100.0f};
    layout_and_draw(scroll_of_buttons(10, 48), canvas, Rect{5, 10, 400, 200}, layout, 0);
    // Button i lies at 48 i - 100 in the viewport: 2 to 6 show.
    EXPECT_EQ(region_ids(layout), (std::vector<LayoutId>{3, 4, 5, 6, 7}));
    const HitRegion& partly = layout.regions.front();
    EXPECT_FLOAT_EQ(partly.rect.y, 10 - 4);  // keeps its full rect
    EXPECT_FLOAT_EQ(partly.rect.h, 48);
    EXPECT_FLOAT_EQ(partly.painted_rect.y, 10);  // its painted rect is clipped to the viewport
    EXPECT_FLOAT_EQ(layout.regions.back().painted_rect.y + layout.regions.back().painted_rect.h, 210);
    ASSERT_EQ(layout.scroll_areas.size(), 1u);
    EXPECT_EQ(layout.scroll_areas[0], (ScrollArea{Rect{5, 10, 400, 200}, 0, ScrollAxis::Vertical}));
    EXPECT_EQ(layout.scroll_offsets[0], (std::pair<float, float>{0.0f, 100.0f}));  // in range: unchanged
}

TEST_F(Frame, ScrollOffsetsAreClampedAndStoredBack) {
    struct Case {
        std::string name;
        ScrollAxis axis;
        std::pair<float, float> stored;
        std::pair<float, float> want;
    };
    const std::vector<Case> cases = {
        {"beyond the content", ScrollAxis::Vertical, {0, 1000}, {0, 280}},
        {"negative", ScrollAxis::Vertical, {0, -5}, {0, 0}},
        {"vertical keeps no x offset", ScrollAxis::Vertical, {30, 10}, {0, 10}},
        {"horizontal keeps no y offset", ScrollAxis::Horizontal, {30, 10}, {0, 0}},
    };
    for (const Case& c : cases) {
        FrameLayout l;
        l.scroll_offsets[0] = c.stored;
        Column content;
        for (int i = 0; i < 10; ++i) content.children.push_back(block(40, 48));
        const Scroll s{Box<Element>(Element(std::move(content))), c.axis};
        layout_and_draw(s, canvas, Rect{0, 0, 400, 200}, l, 0);
        EXPECT_EQ(l.scroll_offsets[0], c.want) << c.name;
    }
    // Content that fits keeps an offset of 0 and stores nothing new.
    FrameLayout fits;
    layout_and_draw(scroll_of_buttons(2, 48), canvas, Rect{0, 0, 400, 200}, fits, 0);
    EXPECT_TRUE(fits.scroll_offsets.empty());
}

TEST_F(Frame, InnerScrollAreasComeBeforeOuterAndAreClipped) {
    Row strip;
    for (int i = 0; i < 8; ++i) strip.children.push_back(block(100, 40));
    Column content;
    content.children.push_back(block(10, 150));
    content.children.push_back(Scroll{Box<Element>(Element(std::move(strip))), ScrollAxis::Horizontal});  // id 2
    content.children.push_back(block(10, 400));
    const Scroll outer{Box<Element>(Element(std::move(content))), ScrollAxis::Vertical};  // id 0
    layout_and_draw(outer, canvas, Rect{0, 0, 300, 170}, layout, 0);
    ASSERT_EQ(layout.scroll_areas.size(), 2u);
    EXPECT_EQ(layout.scroll_areas[0].id, 2u);  // the block before it is a leaf with id 1
    EXPECT_EQ(layout.scroll_areas[0].axis, ScrollAxis::Horizontal);
    // The strip runs from y 150 to 190 in the content; the viewport ends at 170.
    EXPECT_FLOAT_EQ(layout.scroll_areas[0].rect.y, 150);
    EXPECT_FLOAT_EQ(layout.scroll_areas[0].rect.h, 20);
    EXPECT_EQ(layout.scroll_areas[1].id, 0u);
}

TEST_F(Frame, ListItemsInAScrollLeaveTheirSpans) {
    Column content;
    for (int i = 0; i < 4; ++i) {
        ListItem item;
        item.title = "Item " + std::to_string(i);
        item.on_tap = Message(i);
        content.children.push_back(item);
    }
    layout.scroll_offsets[0] = {0, 30};
    layout_and_draw(Scroll{Box<Element>(Element(std::move(content))), ScrollAxis::Vertical}, canvas,
                    Rect{0, 50, 400, 100}, layout, 0);
    ASSERT_EQ(layout.list_items.count(0), 1u);
    const auto& spans = layout.list_items[0];
    // Every item drawn is listed at its top in the content, also the one
    // scrolled out of view, whose region is dropped.
    EXPECT_EQ(spans, (std::vector<ListItemSpan>{{1, 0, 56}, {2, 56, 56}, {3, 112, 56}, {4, 168, 56}}));
    EXPECT_EQ(region_ids(layout), (std::vector<LayoutId>{1, 2, 3}));
}

TEST_F(Frame, AccessNodesInAScrollSitAtTheirOnScreenPosition) {
    Column content;
    content.children.push_back(block(10, 300));
    Text label;
    label.text = "Below the fold";
    content.children.push_back(label);
    content.children.push_back(ProgressBar{Color{0, 0, 1, 1}, 0.5f});
    layout.scroll_offsets[0] = {0, 200};
    layout_and_draw(Scroll{Box<Element>(Element(std::move(content))), ScrollAxis::Vertical}, canvas,
                    Rect{20, 40, 300, 100}, layout, 0);
    ASSERT_EQ(layout.access_nodes.size(), 2u);
    EXPECT_FLOAT_EQ(layout.access_nodes[0].rect.y, 300 - 200 + 40);
    EXPECT_EQ(layout.access_nodes[1].kind, AccessNodeKind::ProgressBar);
    EXPECT_FLOAT_EQ(layout.access_nodes[1].value, 0.5f);
}

TEST_F(Frame, LayerKeepsRegionsBesideItButNotAboveOrBelow) {
    Stack inside;
    StackChild beside;
    beside.element = button("beside", 1);
    beside.placement = Rect{300, 10, 50, 30};
    inside.children.push_back(std::move(beside));
    StackChild below;
    below.element = button("below", 2);
    below.placement = Rect{10, 150, 50, 30};
    inside.children.push_back(std::move(below));
    Layer layer;
    layer.child = Box<Element>(Element(std::move(inside)));
    layer.height = 100.0f;
    layout_and_draw(layer, canvas, Rect{10, 20, 200, 100}, layout, 0);
    ASSERT_EQ(layout.regions.size(), 1u);
    EXPECT_EQ(layout.regions[0].text, "beside");
    EXPECT_FLOAT_EQ(layout.regions[0].rect.x, 310);
    EXPECT_FLOAT_EQ(layout.regions[0].rect.y, 30);
}

// A Layer (and a Layer directly inside it, which shares its child's id) keeps
// its canvas from frame to frame; one that is no longer drawn loses it, and so
// does a Scroll that went.
TEST_F(Frame, LayerCanvasesLiveWhileTheirLayersDo) {
    auto nested = [] {
        Layer inner;
        inner.child = Box<Element>(block(100, 40));
        Layer outer;
        outer.child = Box<Element>(Element(std::move(inner)));
        return Element(std::move(outer));
    };
    layout_and_draw(nested(), canvas, Rect{0, 0, 200, 100}, layout, 0);
    ASSERT_EQ(layout.fade_layers.size(), 2u);
    // Mark the kept canvases: a reused canvas keeps the mark.
    auto marker = std::make_shared<const FontRegistry>();
    for (auto& [key, c] : layout.fade_layers) c.state().theme_fonts = marker;
    layout_and_draw(nested(), canvas, Rect{0, 0, 200, 100}, layout, 0);
    ASSERT_EQ(layout.fade_layers.size(), 2u);
    for (auto& [key, c] : layout.fade_layers) EXPECT_EQ(c.state().theme_fonts, marker) << key;

    // Another size replaces the canvas.
    layout_and_draw(nested(), canvas, Rect{0, 0, 150, 100}, layout, 0);
    for (auto& [key, c] : layout.fade_layers) EXPECT_EQ(c.width(), 150u) << key;

    layout_and_draw(scroll_of_buttons(10, 48), canvas, Rect{0, 0, 200, 100}, layout, 0);
    EXPECT_TRUE(layout.fade_layers.empty());
    EXPECT_EQ(layout.layer_canvases.size(), 1u);
    layout_and_draw(block(10, 10), canvas, Rect{0, 0, 200, 100}, layout, 0);
    EXPECT_TRUE(layout.layer_canvases.empty());
}

TEST_F(Frame, AnchoredHangsBelowLastFramesRegionWithItsKey) {
    HitRegion anchor;
    anchor.key = "menu-button";
    anchor.rect = Rect{10, 20, 30, 40};
    layout.previous_regions.push_back(anchor);
    Anchored a{Box<Element>(sized_button(30, 1)), "menu-button", 4.0f};
    layout_and_draw(a, canvas, Rect{0, 0, 400, 400}, layout, 0);
    ASSERT_EQ(layout.regions.size(), 1u);
    EXPECT_FLOAT_EQ(layout.regions[0].rect.x, 10);
    EXPECT_FLOAT_EQ(layout.regions[0].rect.y, 64);
    EXPECT_FLOAT_EQ(layout.regions[0].rect.h, 30);

    FrameLayout missing;
    Anchored b{Box<Element>(sized_button(30, 1)), "no-such-key", 4.0f};
    layout_and_draw(b, canvas, Rect{7, 8, 100, 50}, missing, 0);
    EXPECT_FLOAT_EQ(missing.regions[0].rect.x, 7);
    EXPECT_FLOAT_EQ(missing.regions[0].rect.h, 50);
}

TEST_F(Frame, RichTextTakesOneIdPerLinkRectangle) {
    RichText t;
    t.text = "one two three";
    t.links = {{Message(1), 0, 3}, {Message(2), 4, 7}, {Message(3), 8, 13}};
    Column page;
    page.children.push_back(t);
    page.children.push_back(Switch{});
    const LayoutId next = layout_and_draw(page, canvas, Rect{0, 0, 400, 400}, layout, 0);
    EXPECT_EQ(next, 4u);
    EXPECT_EQ(region_ids(layout), (std::vector<LayoutId>{0, 1, 2, 3}));
    const HitRegion& link = layout.regions[1];
    EXPECT_EQ(link.cursor, cursor_pointer);
    EXPECT_FALSE(link.focusable);
    EXPECT_FALSE(link.key.has_value());
    EXPECT_FALSE(link.tooltip.has_value());
    const auto* press = link.action.as<HitAction::Press>();
    ASSERT_NE(press, nullptr);
    EXPECT_EQ(*press->on_press->get<int>(), 2);
    EXPECT_FALSE(press->on_long_press.has_value());
    // The joining space before "two" belongs to the link that starts at "two".
    EXPECT_FLOAT_EQ(link.rect.x, canvas.measure_text("one", 16.0f));
    EXPECT_FLOAT_EQ(link.rect.w, canvas.measure_text(" two", 16.0f));
}

TEST_F(Frame, SliderRegionCarriesTheResponsiveKnobInset) {
    Canvas big = phone_canvas(1600, 1000);
    layout_and_draw(Slider{}, big, Rect{0, 0, 400, 60}, layout, 0);
    ASSERT_EQ(layout.regions.size(), 1u);
    EXPECT_FLOAT_EQ(layout.regions[0].action.as<HitAction::Slider>()->track_inset, 36.0f);
}

TEST_F(Frame, TinyScrollViewportUsesAOnePixelLayerThatIsKept) {
    layout_and_draw(scroll_of_buttons(1, 10), canvas, Rect{0, 0, 0.4f, 0.4f}, layout, 0);
    ASSERT_EQ(layout.layer_canvases.count(0), 1u);
    EXPECT_EQ(layout.layer_canvases.at(0).width(), 1u);
    EXPECT_EQ(layout.layer_canvases.at(0).height(), 1u);
}

TEST_F(Frame, FocusedFieldDrawsItsCaretAtTheStoredIndex) {
    TextEdit field;
    field.value = "abc";
    layout.focused = 0;
    layout.carets[0] = 3;
    layout_and_draw(field, canvas, Rect{0, 0, 300, 48}, layout, 0);
    ASSERT_EQ(layout.regions.size(), 1u);
    EXPECT_EQ(layout.regions[0].cursor, cursor_text);
    const float caret_x = 20 + canvas.measure_text("abc", 16.0f);
    EXPECT_TRUE(testing::is_colour(canvas, caret_x + 1, 24, theme::palette_text_primary(), 40));
}

Element filled(Color c) {
    Container box{Element(Spacer{})};
    box.fill = Paint{c};
    return box;
}

TEST_F(Frame, StackChildClipReplacesTheClipInForceAndRestoresIt) {
    canvas.set_clip_rects(std::vector<Rect>{Rect{0, 0, 10, 10}});
    Stack s;
    StackChild child;
    child.element = filled(Color{1, 0, 0, 1});
    child.placement = Rect{0, 0, 100, 100};
    child.clip = Rect{50, 50, 20, 20};
    s.children.push_back(std::move(child));
    layout_and_draw(s, canvas, Rect{0, 0, 200, 200}, layout, 0);
    EXPECT_TRUE(testing::is_colour(canvas, 55, 55, Color{1, 0, 0, 1}));  // outside the outer clip, inside its own
    EXPECT_TRUE(testing::is_transparent(canvas, 5, 5));
    EXPECT_TRUE(testing::is_transparent(canvas, 75, 75));
    ASSERT_EQ(canvas.clip_rects().size(), 1u);
    EXPECT_EQ(canvas.clip_rects()[0], (Rect{0, 0, 10, 10}));
}

TEST_F(Frame, ContainerOpacityAppliesToItsSubtreeOnly) {
    Container outer{filled(Color{0, 0, 1, 1})};
    outer.fill.reset();
    outer.opacity = 0.5f;
    outer.insets(Length::px(10));
    layout_and_draw(outer, canvas, Rect{0, 0, 100, 40}, layout, 0);
    EXPECT_NEAR(testing::pixel(canvas, 50, 20).a, 128, 2);
    EXPECT_TRUE(testing::is_transparent(canvas, 5, 5));  // the inset stays clear
    EXPECT_FLOAT_EQ(canvas.opacity(), 1.0f);
}

TEST_F(Frame, CarouselLaysItsPagesSideBySide) {
    Carousel c;
    c.item_fraction = 0.5f;
    c.gap = 10;
    c.offset = -30;
    for (int i = 0; i < 3; ++i) c.children.push_back(sized_button(40, i));
    const LayoutId next = layout_and_draw(c, canvas, Rect{0, 0, 400, 40}, layout, 0);
    EXPECT_EQ(next, 3u);
    ASSERT_EQ(layout.regions.size(), 3u);
    // Pages of 200 with a stride of 210, the first centred and shifted by the offset.
    EXPECT_FLOAT_EQ(layout.regions[0].rect.x, 70);
    EXPECT_FLOAT_EQ(layout.regions[1].rect.x, 280);
    EXPECT_FLOAT_EQ(layout.regions[2].rect.x, 490);  // beyond the rect: drawn, left to the clip
    EXPECT_FLOAT_EQ(layout.regions[2].rect.w, 200);
    EXPECT_TRUE(layout_and_draw(Carousel{}, canvas, Rect{0, 0, 400, 40}, layout, 7) == 7u);
}

TEST_F(Frame, AKeptScrollLayerFollowsTheWindowItIsDrawnIn) {
    layout_and_draw(scroll_of_buttons(3, 48), canvas, Rect{0, 0, 300, 100}, layout, 0);
    ASSERT_EQ(layout.layer_canvases.count(0), 1u);
    EXPECT_EQ(layout.layer_canvases.at(0).viewport(), (SizeF{412, 915}));
    // The window grows; the viewport keeps its size, so its canvas is reused,
    // yet responsive sizes inside must follow the new window.
    Canvas bigger = phone_canvas(1000, 1600);
    bigger.set_opacity(0.5f);
    layout_and_draw(scroll_of_buttons(3, 48), bigger, Rect{0, 0, 300, 100}, layout, 0);
    EXPECT_EQ(layout.layer_canvases.at(0).viewport(), (SizeF{1000, 1600}));
    EXPECT_FLOAT_EQ(layout.layer_canvases.at(0).opacity(), 0.5f);
}

TEST_F(Frame, HorizontalScrollOverContentWithoutAWidthStaysFinite) {
    Column content;  // asks for all of whatever width it is offered
    content.children.push_back(sized_button(40, 1));
    layout.scroll_offsets[0] = {50, 0};
    layout_and_draw(Scroll{Box<Element>(Element(std::move(content))), ScrollAxis::Horizontal}, canvas,
                    Rect{0, 0, 300, 100}, layout, 0);
    EXPECT_EQ(layout.scroll_offsets[0], (std::pair<float, float>{0, 0}));
    ASSERT_EQ(layout.regions.size(), 1u);
    EXPECT_TRUE(std::isfinite(layout.regions[0].rect.x));
    EXPECT_TRUE(std::isfinite(layout.regions[0].rect.w));
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

Element text_layer(float fade) {
    Text t;
    t.text = "Layer";
    Layer layer;
    layer.child = Box<Element>(Element(std::move(t)));
    layer.fade_bottom = fade;
    return layer;
}

TEST_F(Frame, ALayerKeepsItsCanvasAcrossFramesAndLosesItWhenItGoes) {
    layout_and_draw(text_layer(10), canvas, Rect{0, 0, 200, 80}, layout, 0);
    ASSERT_EQ(layout.fade_layers.size(), 1u);
    // Mark the kept canvas: glyphs it alone has drawn stay in its cache.
    SoftwareCanvas* kept = layout.fade_layers.begin()->second.software();
    ASSERT_NE(kept, nullptr);
    kept->draw_text("QZXJ", 0, 20, 31, Color{1, 1, 1, 1});
    const std::size_t marked = kept->glyph_cache_size();
    layout_and_draw(text_layer(10), canvas, Rect{0, 0, 200, 80}, layout, 0);
    ASSERT_EQ(layout.fade_layers.size(), 1u);
    EXPECT_EQ(layout.fade_layers.begin()->second.software()->glyph_cache_size(), marked) << "a new canvas each frame";
    // A frame without the layer, or without the scroll viewport, drops it.
    layout_and_draw(Element(Text{}), canvas, Rect{0, 0, 200, 80}, layout, 0);
    EXPECT_TRUE(layout.fade_layers.empty());
    layout_and_draw(scroll_of_buttons(3, 48), canvas, Rect{0, 0, 200, 80}, layout, 0);
    EXPECT_EQ(layout.layer_canvases.size(), 1u);
    layout_and_draw(Element(Text{}), canvas, Rect{0, 0, 200, 80}, layout, 0);
    EXPECT_TRUE(layout.layer_canvases.empty());
}

TEST_F(Frame, NestedLayersKeepACanvasEach) {
    // The inner Layer shares the outer one's first id; each keeps its own.
    Layer outer;
    outer.child = Box<Element>(text_layer(0));
    layout_and_draw(Element(std::move(outer)), canvas, Rect{0, 0, 200, 80}, layout, 0);
    EXPECT_EQ(layout.fade_layers.size(), 2u);
}

}  // namespace
}  // namespace zem
namespace {

// What a field draws for typed text and an input method's uncommitted text.
TEST(FieldDrawing, ShowsEditedTextAndUnderlinedPreeditNeverInItsValue) {
    zem::testing::use_test_theme();
    auto render = [](std::optional<std::string_view> edited, std::optional<std::string_view> preedit) {
        zem::Canvas canvas = zem::testing::phone_canvas(300, 60);
        zem::TextEdit field;
        field.value = std::string_view("ab");
        zem::FrameLayout layout;
        layout.focused = 0;
        if (edited) layout.edited_texts[0] = *edited;
        if (preedit) layout.preedit = zem::FrameLayout::Preedit{0, *preedit, preedit->size()};
        zem::layout_and_draw(zem::Element(field), canvas, zem::Rect{0, 0, 300, 60}, layout, 0);
        EXPECT_EQ(layout.regions.at(0).action.as<zem::HitAction::TextEdit>()->text, "ab");
        return canvas;
    };
    auto differ = [](const zem::Canvas& a, const zem::Canvas& b) {
        for (std::uint32_t y = 0; y < 60; ++y)
            for (std::uint32_t x = 0; x < 300; ++x)
                if (a.software()->pixel(x, y) != b.software()->pixel(x, y)) return true;
        return false;
    };
    const zem::Canvas plain = render(std::nullopt, std::nullopt);
    // The typed text is what the field shows, as if the value held it.
    EXPECT_TRUE(differ(plain, render("abc", std::nullopt)));
    // The preedit looks like typed text plus a line under it.
    EXPECT_TRUE(differ(render("abxy", std::nullopt), render(std::nullopt, "xy")));
}

}  // namespace

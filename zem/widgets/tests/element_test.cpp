// Element sizes, actions, texts and painted bounds.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/frame/hit_region.hpp>
#include <zem/widgets/dialog.hpp>
#include <zem/widgets/divider_paint.hpp>
#include <zem/widgets/element.hpp>

#include "fixture.hpp"

namespace zem {
namespace {

using testing::phone_canvas;

ImageData pixels(std::uint32_t w, std::uint32_t h) {
    return ImageData::from(std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4, 255), w, h);
}

Element block(float w, float h) {
    CustomPaint p;
    p.width = w;
    p.height = h;
    return p;
}

TEST(ElementMeasure, EdgeCasesOfTheLeafAndWrapperRules) {
    testing::use_test_theme();
    Canvas canvas = phone_canvas();
    const float label_w = canvas.measure_text("A rather long label", 16.0f);
    ASSERT_GT(label_w, 0.0f);

    struct Case {
        std::string name;
        Element element;
        float available;
        float w;
        float h;
    };
    std::vector<Case> cases;
    {
        Button b;
        b.content = std::string("A rather long label");
        cases.push_back({"label button", b, 400, label_w + 48, 48});
        cases.push_back({"label wider than available", b, 50, 50, 48});
        b.width = Length::px(300);
        b.height = Length::px(500);
        cases.push_back({"explicit width capped, height not", b, 120, 120, 500});
    }
    {
        Button b;
        b.content = pixels(2, 2);
        cases.push_back({"icon button", b, 400, 48, 48});
        cases.push_back({"icon button in a narrow column is square", b, 30, 30, 30});
    }
    {
        TextEdit t;
        t.multiline = true;
        t.rows = 0;
        cases.push_back({"multi-line, 0 rows", t, 300, 300, 24});
        t.rows = 3;
        cases.push_back({"multi-line, 3 rows", t, 300, 300, 3 * 22.4f + 24});
        t.password = true;
        cases.push_back({"masked multi-line is single-line", t, 300, 300, 48});
        t.reveal = Reveal{true, Message(1)};
        cases.push_back({"revealed multi-line", t, 300, 300, 3 * 22.4f + 24});
        t.reveal->revealed = false;
        cases.push_back({"hidden multi-line", t, 300, 300, 48});
        TextEdit narrow;
        narrow.width = Length::px(500);
        cases.push_back({"field width capped", narrow, 200, 200, 48});
    }
    {
        Container c{block(30, 10)};
        c.insets(Length::px(40));
        cases.push_back({"insets beyond the available width", c, 50, 110, 90});
        c.max_width = 60.0f;
        c.insets(Length::px(5));
        cases.push_back({"container adds insets", c, 500, 40, 20});
    }
    cases.push_back({"spacer without lengths", Spacer{}, 100, 0, 0});
    {
        Layer l;
        l.height = 33.0f;
        l.child = Box<Element>(block(10, 400));
        cases.push_back({"layer height wins", l, 100, 100, 33});
    }
    {
        Carousel c;
        Image tall;
        tall.image = pixels(1, 2);  // measured without a size: as wide as given, twice as tall
        c.children.push_back(tall);
        c.item_fraction = 0.0f;
        cases.push_back({"carousel of fraction 0 measures at 1 px", c, 300, 300, 2});
        c.item_fraction = 0.5f;
        cases.push_back({"carousel item width", c, 300, 300, 300});
        cases.push_back({"empty carousel", Carousel{}, 300, 300, 0});
    }
    {
        Scroll vertical{Box<Element>(block(10, 500)), ScrollAxis::Vertical};
        cases.push_back({"vertical scroll has no height", vertical, 100, 100, 0});
        Scroll horizontal{Box<Element>(block(10, 70)), ScrollAxis::Horizontal};
        cases.push_back({"horizontal scroll is as tall as its content", horizontal, 100, 100, 70});
    }
    cases.push_back({"expanded has no width", Expanded{Box<Element>(block(40, 20)), 1}, 100, 0, 20});
    {
        VerticalSlider v;
        cases.push_back({"vertical slider at least 2 px", v, 100, 2, 2});
    }
    for (const Case& c : cases) {
        const auto [w, h] = c.element.measure(canvas, c.available);
        EXPECT_FLOAT_EQ(w, c.w) << c.name;
        EXPECT_NEAR(h, c.h, 1e-4) << c.name;
    }
}

TEST(ElementMeasure, ResponsiveMetricsFollowTheViewport) {
    testing::use_test_theme();
    Canvas big = phone_canvas(1600, 1000);  // smaller side 1000: 1.5 x the nominal size
    Button icon;
    icon.content = pixels(2, 2);
    EXPECT_FLOAT_EQ(Element(icon).measure(big, 400).first, 72);
    EXPECT_FLOAT_EQ(Element(Switch{}).measure(big, 400).second, 72);
    // An image's size is its width in a portrait window, its height in a
    // landscape one.
    Image wide;
    wide.image = pixels(2, 1);
    wide.size = Length::px(100);
    const auto landscape = Element(wide).measure(big, 400);
    EXPECT_FLOAT_EQ(landscape.first, 200);
    EXPECT_FLOAT_EQ(landscape.second, 100);
    Canvas portrait = phone_canvas();
    const auto upright = Element(wide).measure(portrait, 400);
    EXPECT_FLOAT_EQ(upright.first, 100);
    EXPECT_FLOAT_EQ(upright.second, 50);
    Canvas small = phone_canvas(200, 300);  // 0.7 x
    EXPECT_FLOAT_EQ(Element(ListItem{}).measure(small, 400).second, 0.7f * 56);
}

TEST(HitAction, FollowsTheElement) {
    TextEdit field;
    field.value = "secret";
    field.multiline = true;
    field.reveal = Reveal{true, Message(std::string("toggle"))};
    {
        const HitAction a = Element(field).hit_action();
        const auto* t = a.as<HitAction::TextEdit>();
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(a.tag(), 7);
        EXPECT_TRUE(t->password);  // a reveal pair always counts as a password field
        EXPECT_TRUE(t->multiline);
        EXPECT_EQ(t->text, "secret");
        ASSERT_TRUE(t->reveal_toggle.has_value());
        EXPECT_EQ(*t->reveal_toggle->get<std::string>(), "toggle");
    }
    field.reveal->revealed = false;
    EXPECT_FALSE(Element(field).hit_action().as<HitAction::TextEdit>()->multiline);
    EXPECT_TRUE(Element(field).hit_action().as<HitAction::TextEdit>()->password);

    Slider slider;
    slider.value = 0.25f;
    const HitAction s = Element(slider).hit_action();
    EXPECT_EQ(s.tag(), 8);
    EXPECT_FLOAT_EQ(s.as<HitAction::Slider>()->track_inset, 24.0f);

    GestureArea g;
    g.on_escape = Message(5);
    const HitAction p = Element(g).hit_action();
    EXPECT_EQ(p.tag(), 1);
    EXPECT_FALSE(p.as<HitAction::Press>()->on_press.has_value());
    EXPECT_EQ(*p.as<HitAction::Press>()->on_escape->get<int>(), 5);

    EXPECT_EQ(Element(Text{}).hit_action().tag(), 0);
    EXPECT_EQ(Element(Switch{}).hit_action().tag(), 2);
    EXPECT_EQ(Element(Checkbox{}).hit_action().tag(), 3);
    EXPECT_EQ(Element(RadioButton{}).hit_action().tag(), 4);
    EXPECT_EQ(Element(ListItem{}).hit_action().tag(), 5);
    EXPECT_EQ(Element(WindowButton{}).hit_action().tag(), 6);
}

TEST(ElementText, TextsByKind) {
    Button icon;
    icon.content = pixels(1, 1);
    EXPECT_FALSE(Element(icon).text().has_value());
    icon.tooltip = "Close";
    EXPECT_EQ(Element(icon).text(), "Close");
    Text empty;
    EXPECT_FALSE(Element(empty).text().has_value());
    Switch s;
    s.label = "";
    EXPECT_EQ(Element(s).text(), "");  // an empty label is still a text
    ListItem item;
    item.title = "Wi-Fi";
    EXPECT_EQ(Element(item).text(), "Wi-Fi");
}

TEST(PaintedBounds, OutsetsByKind) {
    testing::use_test_theme();
    struct Case {
        std::string name;
        Element element;
        float d;
    };
    Button icon;
    icon.content = pixels(1, 1);
    Button filled;
    filled.content = std::string("Go");
    Button plain = filled;
    plain.style = ButtonStyle::Plain;
    Slider knobby;
    knobby.large_knob = true;
    const std::vector<Case> cases = {
        {"icon button", icon, 14.5f},  {"filled button", filled, 7.5f}, {"plain button", plain, 4.5f},
        {"text edit", TextEdit{}, 2},  {"slider", Slider{}, 2},          {"large knob", knobby, 3},
        {"switch", Switch{}, 7.5f},    {"list item", ListItem{}, 2},     {"window button", WindowButton{}, 5},
        {"text", Text{}, 0},
    };
    const Rect r{10, 20, 30, 40};
    for (const Case& c : cases) {
        const Rect p = painted_bounds(c.element, r);
        EXPECT_FLOAT_EQ(p.x, r.x - c.d) << c.name;
        EXPECT_FLOAT_EQ(p.h, r.h + 2 * c.d) << c.name;
    }
}

TEST(TextEditRelease, PasswordBytesAreOverwritten) {
    struct Case {
        std::string name;
        bool password;
        bool reveal;
        bool wiped;
    };
    const std::vector<Case> cases = {
        {"password field", true, false, true},
        {"field with a reveal pair", false, true, true},
        {"plain field", false, false, false},
    };
    for (const Case& c : cases) {
        // A short value lives inside the object: after the destructor its
        // bytes are still in this storage and can be inspected.
        alignas(TextEdit) unsigned char storage[sizeof(TextEdit)];
        auto* field = new (storage) TextEdit();
        field->password = c.password;
        if (c.reveal) field->reveal = Reveal{false, Message(0)};
        field->value = "hunter2";
        const char* bytes = field->value.data();
        field->~TextEdit();
        EXPECT_EQ(std::string(bytes, 7) == std::string(7, '\0'), c.wiped) << c.name;
    }

    // Moving a password field leaves no copy of the text behind.
    TextEdit source;
    source.password = true;
    source.value = "hunter2";
    const char* bytes = source.value.data();
    TextEdit moved(std::move(source));
    EXPECT_EQ(moved.value, "hunter2");
    EXPECT_EQ(std::string(bytes, 7), std::string(7, '\0'));
}

TEST(Dialog, BuildsScrimAndPanel) {
    testing::use_test_theme();
    Canvas canvas = phone_canvas();
    Dialog d;
    Element e = std::move(d).into_element();
    const Stack* stack = e.as<Stack>();
    ASSERT_NE(stack, nullptr);
    ASSERT_EQ(stack->children.size(), 2u);
    const GestureArea* scrim = stack->children[0].element.as<GestureArea>();
    ASSERT_NE(scrim, nullptr);
    EXPECT_TRUE(scrim->capture);
    EXPECT_FALSE(scrim->on_tap.has_value());
    const Column* placement = stack->children[1].element.as<Column>();
    ASSERT_NE(placement, nullptr);
    // An empty dialog still has a panel of its two 24 px insets.
    EXPECT_FLOAT_EQ(placement->children[0].measure(canvas, 300).second, 48);
    EXPECT_FLOAT_EQ(placement->children[0].measure(canvas, 300).first, 300);
    const Column* panel_column = placement->children[0].as<GestureArea>()->child->as<Container>()->child->as<Column>();
    EXPECT_TRUE(panel_column->children.empty());  // no action row without actions
}

TEST(DialogDeathTest, ModalWithScrimMessageStops) {
    Dialog d;
    d.modal = true;
    d.dismiss_on_scrim = Message(1);
    EXPECT_DEATH(std::move(d).into_element(), "dialog: dismiss_on_scrim is not valid when modal=true");
}

}  // namespace
}  // namespace zem

// The theme's divider style takes the colour of the mode in force at the call.
TEST(DividerPaint, FollowsTheCurrentMode) {
    for (bool dark : {false, true}) {
        zem::testing::use_test_theme(dark);
        const zem::Divider d = zem::theme::divider_paint();
        EXPECT_FALSE(d.thickness.has_value());
        EXPECT_FALSE(d.margin.has_value());
        const zem::Color want = *zem::testing::palette_mode(dark).slots.at("divider").color();
        EXPECT_EQ(d.color, want) << (dark ? "dark" : "light");
    }
}

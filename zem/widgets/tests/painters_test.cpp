// Pixel checks of the control and leaf painters in their states, on the
// software canvas with a theme whose palette colours all differ.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/widgets/controls.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/element.hpp>

#include "fixture.hpp"

namespace zem {
namespace {

using testing::phone_canvas;

struct Probe {
    float x;
    float y;
    std::function<Color()> colour;  // read after the theme is installed; alpha 0 means transparent
};

struct Case {
    std::string name;
    Element element;
    Rect rect;
    bool focused = false;
    bool hovered = false;
    bool pressed = false;
    std::vector<Probe> probes;
};

Color accent() { return theme::palette_accent(); }
Color divider() { return theme::palette_divider(); }
Color page() { return theme::palette_bg_page(); }
Color primary() { return theme::palette_text_primary(); }
Color surface_alt() { return theme::palette_surface_alt(); }
Color none() { return Color{0, 0, 0, 0}; }
Color tinted(float a) {
    Color c = theme::palette_text_primary();
    c.a = a;
    return c;
}

Element label_button(ButtonStyle style, bool enabled) {
    Button b;
    b.content = std::string("Go");
    b.style = style;
    if (enabled) b.on_press = Message(1);
    return b;
}

Element switch_of(bool on) {
    Switch s;
    s.on = on;
    return s;
}

Element slider_at(float v) {
    Slider s;
    s.value = v;
    return s;
}

TEST(Painters, ControlsInTheirStates) {
    testing::use_test_theme();
    Checkbox checked;
    checked.checked = true;
    RadioButton selected;
    selected.selected = true;
    ListItem item;
    item.title = "Row";
    ListItem selected_item = item;
    selected_item.selected = true;
    WindowButton close;
    close.control = WindowControl::Close;
    close.on_press = Message(1);
    WindowButton dead_close = close;
    dead_close.on_press.reset();
    Button icon;
    icon.content = ImageData::from(std::vector<std::uint8_t>(4 * 4 * 4, 0), 4, 4);
    TextEdit field;
    field.value = "abc";
    VerticalSlider vslider;
    vslider.value = 0.5f;
    vslider.width = Length::px(20);
    vslider.height = Length::px(100);

    std::vector<Case> cases;
    cases.push_back({"progress half", ProgressBar{Color{0, 0, 1, 1}, 0.5f}, {0, 0, 400, 20}, false, false, false,
                     {{100, 10, [] { return Color{0, 0, 1, 1}; }}, {300, 10, divider}, {100, 2, none}}});
    cases.push_back({"progress zero", ProgressBar{Color{0, 0, 1, 1}, 0.0f}, {0, 0, 400, 20}, false, false, false,
                     {{2, 10, divider}, {100, 10, divider}}});
    // A 100 x 48 switch: its 52 x 30 track starts at x 24, y 9; the 24 px knob is 3 px in.
    cases.push_back({"switch on", switch_of(true), {0, 0, 100, 48}, false, false, false,
                     {{28, 24, accent}, {61, 24, page}, {10, 24, none}}});
    cases.push_back({"switch off", switch_of(false), {0, 0, 100, 48}, false, false, false,
                     {{72, 24, divider}, {39, 24, page}}});
    cases.push_back({"switch focused", switch_of(false), {0, 0, 100, 48}, true, false, false, {{19, 24, accent}}});
    cases.push_back({"checkbox checked", checked, {0, 0, 100, 48}, false, false, false, {{3, 16, accent}}});
    cases.push_back({"checkbox unchecked", Checkbox{}, {0, 0, 100, 48}, false, false, false,
                     {{0, 24, divider}, {12, 24, none}}});
    cases.push_back({"radio selected", selected, {0, 0, 100, 48}, false, false, false, {{3, 24, accent}, {12, 24, page}}});
    cases.push_back({"radio unselected", RadioButton{}, {0, 0, 100, 48}, false, false, false, {{12, 24, none}}});
    cases.push_back({"filled button", label_button(ButtonStyle::Filled, true), {20, 20, 200, 48}, false, false, false,
                     {{40, 44, accent}}});
    cases.push_back({"filled button disabled", label_button(ButtonStyle::Filled, false), {20, 20, 200, 48}, false,
                     false, false, {{40, 44, divider}}});
    cases.push_back({"filled button focused", label_button(ButtonStyle::Filled, true), {20, 20, 200, 48}, true, false,
                     false, {{15, 44, accent}}});
    cases.push_back({"outlined button", label_button(ButtonStyle::Outlined, true), {20, 20, 200, 48}, false, false,
                     false, {{40, 44, surface_alt}, {120, 20, primary}}});
    cases.push_back({"outlined button disabled", label_button(ButtonStyle::Outlined, false), {20, 20, 200, 48}, false,
                     false, false, {{40, 44, surface_alt}, {120, 20, divider}}});
    cases.push_back({"plain button", label_button(ButtonStyle::Plain, true), {20, 20, 200, 48}, false, false, false,
                     {{40, 44, none}}});
    cases.push_back({"icon button pressed and hovered", icon, {20, 20, 24, 24}, false, true, true,
                     {{15, 32, [] { return tinted(0.18f); }}}});
    cases.push_back({"icon button hovered", icon, {20, 20, 24, 24}, false, true, false,
                     {{15, 32, [] { return tinted(0.10f); }}}});
    cases.push_back({"divider", Divider{std::nullopt, std::nullopt, Color{1, 0, 0, 1}}, {0, 0, 100, 17}, false, false,
                     false, {{50, 8, [] { return Color{1, 0, 0, 1}; }}, {50, 2, none}}});
    cases.push_back({"list item selected", selected_item, {0, 0, 300, 56}, false, false, false, {{5, 28, primary}}});
    cases.push_back({"list item pressed", item, {0, 0, 300, 56}, false, true, true,
                     {{5, 28, [] { return tinted(0.12f); }}}});
    cases.push_back({"list item hovered", item, {0, 0, 300, 56}, false, true, false,
                     {{5, 28, [] { return tinted(0.06f); }}}});
    cases.push_back({"list item focused", item, {0, 0, 300, 56}, true, false, false, {{150, 0, accent}, {150, 28, none}}});
    cases.push_back({"close hovered", close, {0, 0, 36, 36}, false, true, false,
                     {{3, 18, [] { return theme::window_controls().close_hover_bg; }}}});
    cases.push_back({"close pressed", close, {0, 0, 36, 36}, false, true, true,
                     {{3, 18, [] { return theme::window_controls().pressed_bg; }}}});
    cases.push_back({"close without a message", dead_close, {0, 0, 36, 36}, false, true, true, {{3, 18, none}}});
    // Track from x 12 to 188, 10 px high around y 18; half filled to x 100.
    cases.push_back({"slider half", slider_at(0.5f), {0, 0, 200, 36}, false, false, false,
                     {{20, 18, accent}, {170, 18, divider}, {100, 18, page}}});
    cases.push_back({"slider zero", slider_at(0.0f), {0, 0, 200, 36}, false, false, false,
                     {{40, 18, divider}, {12, 18, page}}});
    cases.push_back({"slider one", slider_at(1.0f), {0, 0, 200, 36}, false, false, false,
                     {{160, 18, accent}, {188, 18, page}}});
    cases.push_back({"text field", field, {0, 0, 300, 48}, false, false, false,
                     {{150, 5, surface_alt}, {150, 0, [] {
                          // A 1.5 px outline centred on the edge covers 0.75 of
                          // the top row, over the field's fill.
                          const Color d = theme::palette_divider();
                          const Color f = theme::palette_surface_alt();
                          return Color{0.75f * d.r + 0.25f * f.r, 0.75f * d.g + 0.25f * f.g,
                                       0.75f * d.b + 0.25f * f.b, 1.0f};
                      }}}});
    cases.push_back({"text field focused", field, {0, 0, 300, 48}, true, false, false, {{150, 0, primary}}});
    cases.push_back({"vertical slider half", vslider, {0, 0, 20, 100}, false, false, false,
                     {{10, 80, accent}, {10, 20, surface_alt}}});

    for (const Case& c : cases) {
        Canvas canvas = phone_canvas();
        c.element.paint(canvas, c.rect, PaintState{c.focused, c.hovered, c.pressed, 0, 0});
        for (const Probe& p : c.probes) {
            const Color want = p.colour();
            if (want.a == 0.0f) {
                EXPECT_TRUE(testing::is_transparent(canvas, p.x, p.y)) << c.name << " at " << p.x << "," << p.y;
            } else {
                EXPECT_TRUE(testing::is_colour(canvas, p.x, p.y, want)) << c.name;
            }
        }
    }
}

TEST(Painters, SwitchScalesWithItsHeight) {
    // 24 px high where the responsive height is 48: k = 0.5, a 26 x 15
    // track (x 37 to 63, y 4.5 to 19.5) and a 12 px knob.
    testing::use_test_theme();
    Canvas canvas = phone_canvas();
    Switch s;
    s.on = true;
    s.paint(canvas, Rect{0, 0, 100, 24}, {});
    EXPECT_TRUE(testing::is_colour(canvas, 39, 12, accent()));
    EXPECT_TRUE(testing::is_transparent(canvas, 35, 12));
    EXPECT_TRUE(testing::is_transparent(canvas, 65, 12));
    EXPECT_TRUE(testing::is_transparent(canvas, 50, 3));
}

TEST(Painters, SwitchWithALabelHugsTheRightEdge) {
    testing::use_test_theme();
    Canvas canvas = phone_canvas();
    Switch s;
    s.on = true;
    s.label = "Wi-Fi";
    s.paint(canvas, Rect{0, 0, 300, 48}, {});
    EXPECT_TRUE(testing::is_colour(canvas, 252, 24, accent()));  // track from 248 to 300
    EXPECT_TRUE(testing::is_transparent(canvas, 245, 24));
}

TEST(Truncation, NeverSplitsACharacter) {
    testing::use_test_theme();
    Canvas canvas = phone_canvas();
    const std::vector<std::string> texts = {"Installation complete", "नमस्ते दुनिया, यह एक लंबा वाक्य है",
                                            "インストールが完了しました。再起動してください", "Ünïcödé ëvërÿwhérë"};
    for (const std::string& text : texts) {
        const float full = canvas.measure_text(text, 16.0f);
        for (float width = 1.0f; width < full; width += 7.0f) {
            const std::string cut = truncate_to_width(canvas, text, 16.0f, width);
            ASSERT_GE(cut.size(), 3u) << text;
            ASSERT_EQ(cut.substr(cut.size() - 3), "...") << text;
            const std::string kept = cut.substr(0, cut.size() - 3);
            EXPECT_EQ(text.compare(0, kept.size(), kept), 0) << text << " at " << width;
            if (kept.size() < text.size()) {
                // The cut lands on a character boundary (never a continuation byte).
                EXPECT_NE(static_cast<unsigned char>(text[kept.size()]) & 0xC0, 0x80) << text << " at " << width;
            }
        }
    }
    EXPECT_EQ(truncate_to_width(canvas, "anything", 16.0f, 0.0f), "");
    EXPECT_EQ(truncate_to_width(canvas, "anything", 16.0f, 2.0f), "...");
    EXPECT_EQ(truncate_to_width(canvas, "fits", 16.0f, 500.0f), "fits");
}

TEST(Truncation, LabelWiderThanItsButtonEndsInDots) {
    testing::use_test_theme();
    Canvas canvas = phone_canvas();
    const std::string label = "A label far too long for its button";
    const float width = 120.0f;
    const std::string shown = truncate_to_width(canvas, label, 16.0f, width - 48.0f);
    EXPECT_EQ(shown.substr(shown.size() - 3), "...");
    EXPECT_LE(canvas.measure_text(shown.substr(0, shown.size() - 3), 16.0f) + canvas.measure_text("...", 16.0f),
              width - 48.0f + 0.01f);
}

}  // namespace
}  // namespace zem

// Text fields as the shell edits them, without a compositor: hand-built
// regions on the main surface, keys through the editing handler.
#include <zem/shell/app.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/input_internal.hpp>
#include <zem/shell/text_fields.hpp>
#include <zem/widgets/text_edit.hpp>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <string>
#include <vector>

namespace {

using zem::AppData;
using zem::HitAction;
using zem::HitRegion;
using zem::KeyStroke;
using zem::LayoutId;
using zem::SurfaceKey;

struct NoApp {
    using Msg = int;
    std::string app_id() { return "org.example.Fields"; }
    std::vector<int> poll() { return {}; }
    void update(int) {}
    zem::Element view() { return zem::Element{}; }
};

struct Fields : testing::Test {
    AppData d{std::make_unique<zem::AppAdapter<NoApp>>(NoApp{})};
    const SurfaceKey main = SurfaceKey::main();

    void SetUp() override { testing::internal::CaptureStderr(); }
    void TearDown() override { testing::internal::GetCapturedStderr(); }

    // A field region with `id`, whose change messages are "<id>:<text>".
    void add_field(LayoutId id, std::string text, bool password = false, bool multiline = false,
                   bool caret_to_end = false, bool notify = true) {
        HitAction::TextEdit f;
        f.text = std::string_view(text);
        f.password = password;
        f.multiline = multiline;
        f.caret_to_end = caret_to_end;
        if (notify)
            f.on_change = zem::text_callback([id](const std::string& t) -> std::optional<zem::Message> {
                return zem::Message(std::to_string(id) + ":" + t);
            });
        HitRegion r;
        r.id = id;
        r.action = HitAction{std::move(f)};
        r.focusable = true;
        d.main_surface.regions.push_back(std::move(r));
    }
    void add_button(LayoutId id) {
        HitRegion r;
        r.id = id;
        r.action = HitAction{HitAction::Press{}};
        d.main_surface.regions.push_back(std::move(r));
    }
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        for (auto& m : d.messages) out.push_back(*m.get<std::string>());
        d.messages.clear();
        return out;
    }
    bool key(std::uint32_t keysym, std::optional<std::string> text = std::nullopt, bool shift = false,
             bool ctrl = false) {
        d.shift = shift;
        d.ctrl = ctrl;
        return d.text_key(main, KeyStroke{keysym, 0, 0, std::move(text)});
    }
    std::size_t caret(LayoutId id) { return d.main_surface.kept.carets.at(id); }
    std::size_t anchor(LayoutId id) { return d.main_surface.kept.anchors.at(id); }
    std::string text(LayoutId id) { return std::string(zem::field_text(d.main_surface, id)); }
};

TEST_F(Fields, FocusWritesTheCaretAtTheEnd) {
    add_field(1, "abc");
    add_field(2, "xyz", false, false, /*caret_to_end=*/true);
    d.set_focus(main, 1);
    EXPECT_EQ(caret(1), 3u);
    EXPECT_EQ(anchor(1), 3u);
    // Typing goes to the end, not to offset 0.
    key(XKB_KEY_d, "d");
    EXPECT_EQ(messages(), (std::vector<std::string>{"1:abcd"}));
    // A caret-at-end field selects everything when focused, and typing
    // replaces it.
    d.set_focus(main, 2);
    EXPECT_EQ(caret(2), 3u);
    EXPECT_EQ(anchor(2), 0u);
    key(XKB_KEY_q, "q");
    EXPECT_EQ(messages(), (std::vector<std::string>{"2:q"}));
}

TEST_F(Fields, TypedTextSurvivesFramesThatDidNotReflectIt) {
    // Two keys before any draw rebuilt the regions: the second builds on
    // the first, and one message per key carries the whole text.
    add_field(1, "");
    d.set_focus(main, 1);
    key(XKB_KEY_a, "a");
    key(XKB_KEY_b, "b");
    EXPECT_EQ(messages(), (std::vector<std::string>{"1:a", "1:ab"}));
    // A draw of the view built before the edits keeps them; a draw of a
    // newer view drops them (the regions now carry the application's text).
    d.drop_reflected_edits(main);
    EXPECT_EQ(text(1), "ab");
    ++d.view_generation;
    d.drop_reflected_edits(main);
    EXPECT_EQ(text(1), "");
}

TEST_F(Fields, EditsOfAFieldWithoutCallbackStayUntilFocusLeaves) {
    add_field(1, "x", false, false, false, /*notify=*/false);
    add_field(2, "");
    d.set_focus(main, 1);
    key(XKB_KEY_y, "y");
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(text(1), "xy");
    d.drop_reflected_edits(main);
    EXPECT_EQ(text(1), "xy");
    d.set_focus(main, 2);
    EXPECT_EQ(text(1), "x");
}

TEST_F(Fields, StaleCaretInsideACharacterIsFlooredBeforeEditing) {
    add_field(1, "\u00e9");
    d.set_focus(main, 1);
    d.main_surface.kept.carets[1] = 1;  // measured on another text
    d.main_surface.kept.anchors[1] = 1;
    key(XKB_KEY_x, "x");
    EXPECT_EQ(messages(), (std::vector<std::string>{"1:x\u00e9"}));
}

TEST_F(Fields, EditingKeysTable) {
    struct Step {
        std::uint32_t keysym;
        const char* text;
        bool shift, ctrl;
    };
    struct Case {
        const char* name;
        std::string start;
        int flags;  // 1 password, 2 multiline
        std::vector<Step> steps;
        std::vector<std::string> messages;
        std::string clipboard;
    };
    const Case cases[] = {
        {"backspace at end", "abc", 0, {{XKB_KEY_BackSpace, nullptr, 0, 0}}, {"1:ab"}, ""},
        {"shift+left then backspace", "abc", 0,
         {{XKB_KEY_Left, nullptr, 1, 0}, {XKB_KEY_Left, nullptr, 1, 0}, {XKB_KEY_BackSpace, nullptr, 0, 0}},
         {"1:a"}, ""},
        {"home then delete", "abc", 0, {{XKB_KEY_Home, nullptr, 0, 0}, {XKB_KEY_Delete, nullptr, 0, 0}}, {"1:bc"}, ""},
        {"delete at end does nothing", "abc", 0, {{XKB_KEY_Delete, nullptr, 0, 0}}, {}, ""},
        {"ctrl+a then type", "abc", 0, {{XKB_KEY_a, "a", 0, 1}, {XKB_KEY_x, "x", 0, 0}}, {"1:x"}, ""},
        {"ctrl+a ctrl+x", "abc", 0, {{XKB_KEY_a, "a", 0, 1}, {XKB_KEY_x, "x", 0, 1}}, {"1:"}, "abc"},
        {"ctrl+shift+c copies", "abc", 0, {{XKB_KEY_A, "A", 1, 1}, {XKB_KEY_C, "C", 1, 1}}, {}, "abc"},
        {"password copies plain text", "pw", 1, {{XKB_KEY_a, "a", 0, 1}, {XKB_KEY_c, "c", 0, 1}}, {}, "pw"},
        {"ctrl with another key types nothing", "abc", 0, {{XKB_KEY_z, "z", 0, 1}}, {}, ""},
        {"control character typed is refused", "abc", 0, {{XKB_KEY_z, "\t", 0, 0}}, {}, ""},
        {"backspace removes a combining mark alone", "e\u0301", 0, {{XKB_KEY_BackSpace, nullptr, 0, 0}}, {"1:e"}, ""},
        {"left steps over a flag", "\U0001F1E9\U0001F1EA", 0,
         {{XKB_KEY_Left, nullptr, 0, 0}, {XKB_KEY_Delete, nullptr, 0, 0}}, {"1:"}, ""},
    };
    for (const auto& c : cases) {
        d.main_surface.regions.clear();
        d.main_surface.edited_texts.clear();
        d.main_surface.focus.reset();
        d.clipboard_text.clear();
        add_field(1, c.start, c.flags & 1, c.flags & 2);
        d.set_focus(main, 1);
        for (const auto& s : c.steps)
            key(s.keysym, s.text ? std::optional<std::string>(s.text) : std::nullopt, s.shift, s.ctrl);
        EXPECT_EQ(messages(), c.messages) << c.name;
        EXPECT_EQ(d.clipboard_text, c.clipboard) << c.name;
    }
}

TEST_F(Fields, PasteIsFilteredByTheFieldKind) {
    struct Case {
        const char* name;
        int flags;
        std::string clipboard;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"password refuses a line break", 1, "a\nb", {}},
        {"password refuses NUL", 1, std::string("a\0b", 3), {}},
        {"password takes plain text", 1, "pa ss", {"1:pa ss"}},
        {"single line turns breaks into spaces", 0, "a\r\nb\nc", {"1:a b c"}},
        {"multi line keeps them", 2, "a\nb", {"1:a\nb"}},
    };
    for (const auto& c : cases) {
        d.main_surface.regions.clear();
        d.main_surface.edited_texts.clear();
        d.main_surface.focus.reset();
        add_field(1, "", c.flags & 1, c.flags & 2);
        d.set_focus(main, 1);
        d.clipboard_text = c.clipboard;
        key(XKB_KEY_v, "v", false, true);
        EXPECT_EQ(messages(), c.messages) << c.name;
    }
}

TEST_F(Fields, TypingIntoAFocusedButtonTypesNothing) {
    add_button(5);
    d.set_focus(main, 5);
    EXPECT_FALSE(key(XKB_KEY_a, "a"));
    EXPECT_FALSE(key(XKB_KEY_BackSpace));
    EXPECT_TRUE(d.main_surface.edited_texts.empty());
    EXPECT_TRUE(messages().empty());
}

TEST_F(Fields, ActivatingWithoutATextInputManagerSaysSo) {
    add_field(1, "");
    testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    d.set_focus(main, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zem: activate_text_input: no text_input_manager (compositor did not advertise "
              "zwp_text_input_manager_v3)\n");
    testing::internal::CaptureStderr();
}

TEST_F(Fields, ContextMenuActsOnItsOwnFieldAfterFocusMoved) {
    d.main_surface.size = {400, 300};
    add_field(1, "abcd");
    add_field(2, "xyz");
    struct Case {
        const char* name;
        float row_y;  // inside the menu, from its top
        std::vector<std::string> messages;
        std::string clipboard_after;
    };
    const Case cases[] = {
        {"delete", 150, {"1:ad"}, "clip"},
        {"cut", 60, {"1:ad"}, "bc"},
        {"paste", 100, {"1:aclipd"}, "clip"},
        {"copy", 10, {}, "bc"},
    };
    for (const auto& c : cases) {
        d.main_surface.edited_texts.clear();
        d.clipboard_text = "clip";
        d.set_focus(main, 1);
        d.main_surface.kept.carets[1] = 3;  // "bc" selected
        d.main_surface.kept.anchors[1] = 1;
        d.open_context_menu(main, 1, 50, 50);
        ASSERT_TRUE(d.main_surface.context_menu);
        d.set_focus(main, 2);
        const zem::Rect r = d.main_surface.context_menu->rect;
        EXPECT_TRUE(d.context_menu_action(main, r.x + 20, r.y + c.row_y)) << c.name;
        EXPECT_FALSE(d.main_surface.context_menu) << c.name;
        EXPECT_EQ(messages(), c.messages) << c.name;
        EXPECT_EQ(d.clipboard_text, c.clipboard_after) << c.name;
        EXPECT_EQ(text(2), "xyz") << c.name;
    }
}

TEST_F(Fields, ContextMenuDisabledRowsKeepItOpen) {
    d.main_surface.size = {400, 300};
    add_field(1, "abc");
    d.set_focus(main, 1);  // caret at the end: nothing selected
    d.open_context_menu(main, 1, 10, 10);
    const zem::Rect r = d.main_surface.context_menu->rect;
    EXPECT_FALSE(d.main_surface.context_menu->has_selection);
    EXPECT_FALSE(d.main_surface.context_menu->can_paste);
    for (float y : {10.0f, 60.0f, 100.0f, 150.0f}) {
        EXPECT_TRUE(d.context_menu_action(main, r.x + 20, r.y + y));
        EXPECT_TRUE(d.main_surface.context_menu);
    }
    // Outside: closes, and the press is still consumed.
    EXPECT_TRUE(d.context_menu_action(main, 399, 299));
    EXPECT_FALSE(d.main_surface.context_menu);
    EXPECT_FALSE(d.context_menu_action(main, 10, 10));
    EXPECT_TRUE(messages().empty());
}

TEST_F(Fields, PointerPlacesTheCaretExceptInCaretAtEndFields) {
    d.main_surface.canvas = zem::Canvas::new_software(400, 100);
    add_field(1, "hello world");
    add_field(2, "locked", false, false, /*caret_to_end=*/true);
    d.main_surface.regions[0].rect = zem::Rect{0, 0, 400, 48};
    d.main_surface.regions[1].rect = zem::Rect{0, 50, 400, 48};
    d.set_focus(main, 1);
    d.place_caret_at(main, 1, 0, 24);  // left of the text
    EXPECT_EQ(caret(1), 0u);
    EXPECT_EQ(anchor(1), 0u);
    d.extend_selection_to(main, 1, 399, 24);
    EXPECT_EQ(caret(1), 11u);
    EXPECT_EQ(anchor(1), 0u);
    d.select_word_at(main, 1, 399, 24);  // past the end: the last word
    EXPECT_EQ(anchor(1), 6u);
    EXPECT_EQ(caret(1), 11u);

    d.set_focus(main, 2);
    d.place_caret_at(main, 2, 0, 74);
    EXPECT_EQ(caret(2), 6u);
    EXPECT_EQ(anchor(2), 0u);
}

// Pressing in a field and dragging selects from the press to where the
// pointer or finger is now, both ways; the selection stays after the
// release. A field that keeps its caret at the end ignores the drag.
TEST_F(Fields, PressAndDragSelects) {
    d.main_surface.canvas = zem::Canvas::new_software(400, 100);
    d.main_surface.size = {400, 100};
    add_field(1, "hello world");
    add_field(2, "locked", false, false, /*caret_to_end=*/true);
    d.main_surface.regions[0].rect = zem::Rect{0, 0, 400, 48};
    d.main_surface.regions[1].rect = zem::Rect{0, 50, 400, 48};
    for (bool pointer : {true, false}) {
        SCOPED_TRACE(pointer ? "pointer" : "touch");
        d.clicks = {};
        zem::input_press(d, main, 0, 24, pointer);
        EXPECT_EQ(d.main_surface.focus, std::optional<LayoutId>(1));
        EXPECT_EQ(caret(1), 0u);
        zem::input_move(d, main, 399, 24);
        EXPECT_EQ(caret(1), 11u);
        EXPECT_EQ(anchor(1), 0u);
        zem::input_release(d, main, 399, 24);
        EXPECT_EQ(zem::selected_text_of(d, main, 1), std::optional<std::string>("hello world"));

        // From the end back to the start: the anchor is where the press was.
        d.clicks = {};
        zem::input_press(d, main, 399, 30, pointer);
        EXPECT_EQ(anchor(1), 11u);
        zem::input_move(d, main, 0, 30);
        zem::input_release(d, main, 0, 30);
        EXPECT_EQ(caret(1), 0u);
        EXPECT_EQ(anchor(1), 11u);

        d.clicks = {};
        zem::input_press(d, main, 0, 74, pointer);
        zem::input_move(d, main, 200, 74);
        zem::input_release(d, main, 200, 74);
        EXPECT_EQ(caret(2), 6u);
        EXPECT_EQ(anchor(2), 0u);
    }
    EXPECT_TRUE(messages().empty());
}

// A point over a password field maps to the character drawn there: plain
// text while revealed (scale 1 and 2), bullets while hidden.
TEST_F(Fields, PointerHitsAPasswordFieldAsItIsShown) {
    struct Case {
        const char* name;
        bool revealed;
        float scale;
    };
    for (const Case& c : {Case{"revealed", true, 1.0f}, Case{"revealed at scale 2", true, 2.0f},
                          Case{"hidden", false, 1.0f}}) {
        d.main_surface.regions.clear();
        d.main_surface.kept = {};
        d.main_surface.canvas = zem::Canvas::new_software(800, 200);
        d.main_surface.canvas->set_scale(c.scale);
        zem::TextEdit field;
        field.value = zem::WipingString(std::string("iiiiiiiiWWWW"));
        field.password = true;
        field.reveal = zem::Reveal{c.revealed, zem::Message(std::string("toggle"))};
        HitRegion r;
        r.id = 1;
        r.action = field.hit_action();
        r.focusable = true;
        r.rect = zem::Rect{0, 0, 800, 96};
        d.main_surface.regions.push_back(std::move(r));
        d.set_focus(main, 1);
        zem::Canvas& cv = *d.main_surface.canvas;
        const float fs = zem::text_edit_font_size(cv, std::nullopt);
        // Just past the eighth character as the field draws it.
        const std::string shown = zem::edit_display_text("iiiiiiii", !c.revealed);
        const float x = cv.px(zem::EDIT_INSET_X) + cv.measure_text(shown, fs) + 1.0f;
        d.place_caret_at(main, 1, x, 48);
        EXPECT_EQ(caret(1), 8u) << c.name;
    }
}

TEST(RegionText, IsAWipingString) {
    static_assert(std::is_same_v<decltype(HitAction::TextEdit::text), zem::WipingString>);
}

}  // namespace

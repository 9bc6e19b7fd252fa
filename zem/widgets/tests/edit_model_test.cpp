// The edit model: every editing key, with and without Shift, over text
// whose characters span several code points.
#include <zem/widgets/text_edit.hpp>
#include <zem/widgets/text_editing.hpp>

#include <zem/text/graphemes.hpp>
#include <zem/text/shaping.hpp>

#include <gtest/gtest.h>

#include "fixture.hpp"

#include <functional>
#include <string>

namespace {

using zem::FieldEdit;

enum Flags { None = 0, ToEnd = 1, Multi = 2, Password = 4 };

struct Row {
    const char* name;
    std::string text;
    std::size_t caret, anchor;
    std::function<bool(FieldEdit&)> op;
    int flags;
    std::string want_text;
    std::size_t want_caret, want_anchor;
    bool want_result;
};

const std::string kAcute = "e\u0301a";                                              // é (e + U+0301), a
const std::string kFamily = "\U0001F469\u200D\U0001F469\u200D\U0001F467";           // 18 bytes, one cluster
const std::string kFlags = "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7";               // DE FR, 8 bytes each
const std::string kJamo = "\u1100\u1161\u11A8";                                       // 각 as jamo, 9 bytes
const std::string kArabic = "\u0633\u0644\u0627\u0645 123";                          // 8 bytes + " 123"
const std::string kHebrew = "\u05E9\u05DC\u05D5\u05DD 12";

auto left(bool s) { return [s](FieldEdit& f) { return f.left(s); }; }
auto right(bool s) { return [s](FieldEdit& f) { return f.right(s); }; }
auto home(bool s) { return [s](FieldEdit& f) { return f.home(s); }; }
auto end(bool s) { return [s](FieldEdit& f) { return f.end(s); }; }
auto bksp() { return [](FieldEdit& f) { return f.backspace(); }; }
auto del() { return [](FieldEdit& f) { return f.delete_forward(); }; }
auto type(std::string s) { return [s](FieldEdit& f) { return f.insert(s); }; }
auto all() { return [](FieldEdit& f) { f.select_all(); return true; }; }
auto word(std::size_t i) { return [i](FieldEdit& f) { f.select_word(i); return true; }; }

TEST(EditModel, KeysTable) {
    const Row rows[] = {
        // Clusters: one step, one delete.
        {"right over e+acute", kAcute, 0, 0, right(false), None, kAcute, 3, 3, true},
        {"left over e+acute", kAcute, 3, 3, left(false), None, kAcute, 0, 0, true},
        {"delete e+acute whole", kAcute, 0, 0, del(), None, "a", 0, 0, true},
        {"backspace takes the mark alone", kAcute, 3, 3, bksp(), None, "ea", 1, 1, true},
        {"right over zwj family", kFamily + "x", 0, 0, right(false), None, kFamily + "x", 18, 18, true},
        {"backspace zwj family whole", "a" + kFamily, 19, 19, bksp(), None, "a", 1, 1, true},
        {"delete zwj family whole", kFamily, 0, 0, del(), None, "", 0, 0, true},
        {"flags step one at a time", kFlags, 0, 0, right(false), None, kFlags, 8, 8, true},
        {"backspace one flag", kFlags, 16, 16, bksp(), None, kFlags.substr(0, 8), 8, 8, true},
        {"hangul jamo one step", kJamo, 0, 0, right(false), None, kJamo, 9, 9, true},
        {"hangul backspace final jamo", kJamo, 9, 9, bksp(), None, kJamo.substr(0, 6), 6, 6, true},
        {"hangul delete whole syllable", kJamo, 0, 0, del(), None, "", 0, 0, true},
        {"precomposed hangul", "\uD55C", 3, 3, bksp(), None, "", 0, 0, true},
        {"arabic steps logically", kArabic, 2, 2, right(false), None, kArabic, 4, 4, true},
        {"arabic into digits", kArabic, 9, 9, right(false), None, kArabic, 10, 10, true},
        {"hebrew shift+left from end", kHebrew, 11, 11, left(true), None, kHebrew, 10, 11, true},
        {"stale caret inside a cluster floors", kAcute, 2, 2, right(false), None, kAcute, 3, 3, true},
        // Left/Right with and without Shift; a selection collapses without a step.
        {"left", "abc", 2, 2, left(false), None, "abc", 1, 1, true},
        {"left at start", "abc", 0, 0, left(false), None, "abc", 0, 0, true},
        {"shift+left extends", "abc", 2, 2, left(true), None, "abc", 1, 2, true},
        {"shift+right extends", "abc", 1, 1, right(true), None, "abc", 2, 1, true},
        {"right at end", "abc", 3, 3, right(false), None, "abc", 3, 3, true},
        {"left collapses to start", "abcd", 3, 1, left(false), None, "abcd", 1, 1, true},
        {"right collapses to end", "abcd", 1, 3, right(false), None, "abcd", 3, 3, true},
        {"shift+left keeps anchor", "abcd", 3, 1, left(true), None, "abcd", 2, 1, true},
        // Home/End over logical lines.
        {"home", "ab\ncd", 4, 4, home(false), Multi, "ab\ncd", 3, 3, true},
        {"end", "ab\ncd", 0, 0, end(false), Multi, "ab\ncd", 2, 2, true},
        {"shift+home", "abc", 2, 2, home(true), None, "abc", 0, 2, true},
        {"shift+end", "abc", 1, 1, end(true), None, "abc", 3, 1, true},
        // BackSpace and Delete.
        {"backspace at start", "abc", 0, 0, bksp(), None, "abc", 0, 0, false},
        {"delete at end", "abc", 3, 3, del(), None, "abc", 3, 3, false},
        {"backspace selection", "abcd", 1, 3, bksp(), None, "ad", 1, 1, true},
        {"delete selection", "abcd", 3, 1, del(), None, "ad", 1, 1, true},
        // Typing and Ctrl+A.
        {"typing replaces the selection", "abcd", 1, 3, type("x"), None, "axd", 2, 2, true},
        {"ctrl+a", "abc", 1, 1, all(), None, "abc", 3, 0, true},
        {"ctrl+a then type", "abc", 1, 1, [](FieldEdit& f) { f.select_all(); return f.insert("x"); }, None, "x", 1, 1,
         true},
        {"typing nothing changes nothing", "ab", 1, 1, type(""), None, "ab", 1, 1, false},
        // Word selection.
        {"word", "foo_bar1 baz", 2, 2, word(2), None, "foo_bar1 baz", 8, 0, true},
        {"word with combining mark", "cafe\u0301 x", 0, 0, word(1), None, "cafe\u0301 x", 6, 0, true},
        {"word in empty text", "", 0, 0, word(0), None, "", 0, 0, true},
        // A caret-at-end field keeps the caret at the end whatever is edited.
        {"caret_to_end insert", "abc", 1, 1, type("x"), ToEnd, "axbc", 4, 4, true},
        {"caret_to_end delete", "abc", 0, 0, del(), ToEnd, "bc", 2, 2, true},
        // Filters: password refuses control characters, single-line turns
        // line breaks into spaces, multi-line keeps them.
        {"password refuses newline", "pw", 2, 2, type("a\nb"), Password, "pw", 2, 2, false},
        {"password refuses tab", "pw", 2, 2, type("\t"), Password, "pw", 2, 2, false},
        {"password refuses NUL", "pw", 2, 2, type(std::string("a\0", 2)), Password, "pw", 2, 2, false},
        {"password takes spaces", "", 0, 0, type("pa ss"), Password, "pa ss", 5, 5, true},
        {"single line turns breaks into spaces", "", 0, 0, type("a\r\nb\nc\rd"), None, "a b c d", 7, 7, true},
        {"multi line keeps breaks", "", 0, 0, type("a\r\nb"), Multi, "a\r\nb", 4, 4, true},
    };
    for (const auto& r : rows) {
        FieldEdit f = FieldEdit::over(r.text, r.caret, r.anchor, r.flags & Password, r.flags & Multi, r.flags & ToEnd);
        bool got = r.op(f);
        EXPECT_EQ(f.text.str(), r.want_text) << r.name;
        EXPECT_EQ(f.caret, r.want_caret) << r.name;
        EXPECT_EQ(f.anchor, r.want_anchor) << r.name;
        EXPECT_EQ(got, r.want_result) << r.name;
    }
}

TEST(EditModel, AbsentCaretMeansEnd) {
    FieldEdit f = FieldEdit::over("abc", std::nullopt, std::nullopt, false, false, false);
    EXPECT_EQ(f.caret, 3u);
    EXPECT_EQ(f.anchor, 3u);
    EXPECT_EQ(FieldEdit::over("ab", 99, 98, false, false, false).caret, 2u);
}

TEST(EditModel, InputMethodDoneAppliesDeleteThenCommit) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t caret, anchor;
        zem::PendingIme pending;
        std::string want;
        std::size_t want_caret;
        bool changed;
    };
    const Case cases[] = {
        {"delete precedes insert", "ab", 2, 2, {{}, "\u00e9", std::pair{1u, 0u}}, "a\u00e9", 3, true},
        {"selection removed by an empty delete", "abcd", 1, 3, {{}, {}, std::pair{0u, 0u}}, "ad", 1, true},
        {"delete never cuts a character", "x\u00e9", 3, 3, {{}, {}, std::pair{1u, 0u}}, "x", 1, true},
        {"delete after the caret", "abcd", 1, 1, {{}, {}, std::pair{0u, 2u}}, "ad", 1, true},
        {"commit replaces the selection", "abcd", 1, 3, {{}, "X", {}}, "aXd", 2, true},
        {"preedit alone changes no text", "ab", 2, 2, {zem::PendingIme::Preedit{"x", 0, 1}, {}, {}}, "ab", 2, false},
        {"over-long delete stops at the edges", "ab", 1, 1, {{}, {}, std::pair{9u, 9u}}, "", 0, true},
    };
    for (const auto& c : cases) {
        FieldEdit f = FieldEdit::over(c.text, c.caret, c.anchor, false, false, false);
        EXPECT_EQ(f.apply_ime(c.pending), c.changed) << c.name;
        EXPECT_EQ(f.text.str(), c.want) << c.name;
        EXPECT_EQ(f.caret, c.want_caret) << c.name;
    }
    // A password field takes no control character from an input method.
    FieldEdit pw = FieldEdit::over("p", std::nullopt, std::nullopt, true, false, false);
    EXPECT_FALSE(pw.apply_ime({{}, "a\tb", {}}));
    EXPECT_EQ(pw.text.str(), "p");
}

TEST(EditModel, SurroundingTextIsBoundedAndNeverAPassword) {
    FieldEdit pw = FieldEdit::over("secret", std::nullopt, std::nullopt, true, false, false);
    auto s = pw.surrounding();
    EXPECT_EQ(s.text, "");
    EXPECT_EQ(s.cursor, 0u);

    // 3000 two-byte characters, caret in the middle: the window is at most
    // 4000 bytes, starts and ends on characters and keeps the caret.
    std::string big;
    for (int i = 0; i < 3000; ++i) big += "\u00e9";
    FieldEdit f = FieldEdit::over(big, 3001, 3001, false, false, false);
    auto w = f.surrounding();
    EXPECT_LE(w.text.size(), 4000u);
    EXPECT_EQ(w.text.size() % 2, 0u);
    EXPECT_EQ(w.cursor % 2, 0u);
    EXPECT_GT(w.cursor, 1000u);

    FieldEdit small = FieldEdit::over("abc", 1, 3, false, false, false);
    auto sm = small.surrounding();
    EXPECT_EQ(sm.text, "abc");
    EXPECT_EQ(sm.cursor, 1u);
    EXPECT_EQ(sm.anchor, 3u);
}

}  // namespace

// Hit testing over the real font: offsets land on cluster boundaries only.

namespace {

TEST(EditHitTest, SingleLineOffsets) {
    zem::testing::use_test_theme();
    zem::Canvas canvas = zem::testing::phone_canvas();
    const zem::Rect rect{0, 0, 300, 48};
    const float origin = rect.x + zem::EDIT_INSET_X;
    auto at = [&](std::string_view text, float px, bool masked = false) {
        return zem::edit_hit_test(canvas, rect, text, false, masked, false, text.size(), 0, px, 24, 16);
    };
    const float a = canvas.measure_text("a", 16);
    EXPECT_EQ(at("", 100), 0u);
    EXPECT_EQ(at("abc", origin - 10), 0u);
    EXPECT_EQ(at("abc", origin + 200), 3u);
    EXPECT_EQ(at("abc", origin + a * 0.4f), 0u);
    EXPECT_EQ(at("abc", origin + a * 0.6f), 1u);
    // A letter with its combining mark is one unit: never offset 1 or 2.
    const std::string acute = "e\u0301e\u0301";
    for (float x = origin - 2; x < origin + 60; x += 1.0f) {
        const std::size_t i = at(acute, x);
        EXPECT_TRUE(i == 0 || i == 3 || i == 6) << x << " gave " << i;
    }
    // Masked two-byte characters: a bullet each, and offsets on characters.
    for (float x = origin - 2; x < origin + 40; x += 1.0f) {
        const std::size_t i = at("\u00e9\u00e9", x, true);
        EXPECT_TRUE(i == 0 || i == 2 || i == 4) << x << " gave " << i;
    }
}

TEST(EditHitTest, MultiLineRowsFollowTheView) {
    zem::testing::use_test_theme();
    zem::Canvas canvas = zem::testing::phone_canvas();
    // 100 px high: three rows of 22.4 px fit.
    const zem::Rect rect{0, 0, 300, 100};
    std::string text;
    for (int i = 0; i < 10; ++i) text += std::string(1, char('a' + i)) + (i < 9 ? "\n" : "");
    // Caret on line 5 (0-based): lines 3..5 are shown, so a point just below
    // the top inset is on line 3, which starts at byte 6.
    const std::size_t caret_on_5 = 10;
    EXPECT_EQ(zem::edit_hit_test(canvas, rect, text, true, false, false, caret_on_5, 0, 20, 13, 16), 6u);
    // With the caret on the first line, the same point is on line 0.
    EXPECT_EQ(zem::edit_hit_test(canvas, rect, text, true, false, false, 0, 0, 20, 13, 16), 0u);
    // Far right of a row: its end.
    EXPECT_EQ(zem::edit_hit_test(canvas, rect, text, true, false, false, 0, 0, 290, 13 + 22.4f, 16), 3u);
}

TEST(EditHitTest, VerticalMovesAndLineBounds) {
    zem::testing::use_test_theme();
    zem::Canvas canvas = zem::testing::phone_canvas();
    const zem::Rect rect{0, 0, 300, 100};
    const std::string text = "ab\ncd\nef";
    EXPECT_EQ(zem::visual_line_up(canvas, rect, text, 1), std::nullopt);
    EXPECT_EQ(zem::visual_line_down(canvas, rect, text, 7), std::nullopt);
    EXPECT_EQ(zem::visual_line_down(canvas, rect, text, 1), std::optional<std::size_t>(4));
    EXPECT_EQ(zem::visual_line_up(canvas, rect, text, 8), std::optional<std::size_t>(5));
    EXPECT_EQ(zem::visual_line_bounds(canvas, rect, text, 4), (std::pair<std::size_t, std::size_t>{3, 5}));
    // A line wrapped for width: its end is where the next line starts.
    const zem::Rect narrow{0, 0, 40 + canvas.measure_text("aaaa", 16) + 1, 100};
    const std::string wrapped = "aaaa bbbb";
    const auto first = zem::visual_line_bounds(canvas, narrow, wrapped, 0);
    EXPECT_EQ(first.first, 0u);
    EXPECT_EQ(zem::visual_line_bounds(canvas, narrow, wrapped, first.second), first);
}

// A single-line field holding megabytes (a paste) measures and draws only
// the text around its caret: painting a frame, typing a key and placing the
// caret by pointer shape a bounded amount of text, not the whole value.
TEST(EditLongText, FrameKeyAndHitShapeOnlyAroundTheCaret) {
    zem::testing::use_test_theme();
    zem::Canvas canvas = zem::testing::phone_canvas();
    const zem::Rect rect{0, 0, 300, 48};
    const std::string line = "The quick brown fox jumps over the lazy dog 0123456789 \u00e4\u00f6\u00fc ";
    std::string big;
    while (big.size() < 4 * 1024 * 1024) big += line;
    constexpr std::size_t bound = 64 * 1024;
    for (const bool masked : {false, true}) {
        zem::TextEdit field;
        field.value = zem::WipingString(big);
        field.password = masked;
        for (const std::size_t caret : {std::size_t{0}, big.size() / 2 + 3, big.size()}) {
            const std::size_t before = zem::shape_text_bytes();
            zem::PaintState state;
            state.focused = true;
            state.caret = caret;
            state.anchor = 0;  // a selection over nearly all of it
            field.paint(canvas, rect, state);
            auto edit = FieldEdit::over(field.value.str(), caret, caret, masked, false, false);
            ASSERT_TRUE(edit.insert("x"));
            field.value = zem::WipingString(edit.text.str());
            state.caret = state.anchor = edit.caret;
            field.paint(canvas, rect, state);
            const std::size_t hit = zem::edit_hit_test(canvas, rect, field.value.str(), false, masked, false, edit.caret,
                                                       0, 150, 24, 16);
            EXPECT_LE(zem::shape_text_bytes() - before, bound) << "masked " << masked << ", caret " << caret;
            // The point lands near the caret, which sits within the field.
            EXPECT_LT(hit > edit.caret ? hit - edit.caret : edit.caret - hit, std::size_t{200}) << caret;
        }
    }
}

// Over a text long enough to be windowed, the caret is drawn where the whole
// text laid out would put it, and a point on the caret's x hits the caret.
TEST(EditLongText, WindowAgreesWithTheWholeText) {
    zem::testing::use_test_theme();
    zem::Canvas canvas = zem::testing::phone_canvas();
    const zem::Rect rect{0, 0, 300, 48};
    std::string text;
    while (text.size() < 3 * zem::EDIT_WHOLE_TEXT_BYTES) text += "abcdefghij klmnopqrst \u00e9\u00e8 ";
    struct Case {
        const char* name;
        std::size_t caret;
        bool masked;
    };
    const Case cases[] = {
        {"start", 0, false},          {"near the start", 7, false}, {"middle", text.size() / 2, false},
        {"near the end", text.size() - 5, false}, {"end", text.size(), false},     {"masked middle", text.size() / 2, true},
        {"masked end", text.size(), true},
    };
    for (const Case& c : cases) {
        const std::size_t caret = zem::floor_grapheme(text, c.caret);
        const zem::SingleLineView view = zem::single_line_view(canvas, rect, text, caret, c.masked, 0, 16);
        EXPECT_TRUE(view.start > 0 || view.end < text.size()) << c.name << ": taken whole";
        const float windowed = zem::single_line_x(canvas, view, text, caret, c.masked, 16);
        const float whole = -zem::TextEdit::scroll_offset(canvas, rect, text, caret, c.masked, 16) +
                            canvas.measure_text(zem::edit_display_text(std::string_view(text).substr(0, caret), c.masked), 16);
        EXPECT_NEAR(windowed, whole, 1.0f) << c.name;
        EXPECT_GE(windowed, 0.0f) << c.name;
        EXPECT_LE(windowed, rect.w - 2 * zem::EDIT_INSET_X) << c.name;
        const float px = rect.x + zem::EDIT_INSET_X + windowed;
        EXPECT_EQ(zem::edit_hit_test(canvas, rect, text, false, c.masked, false, caret, 0, px, 24, 16), caret) << c.name;
    }
}

}  // namespace

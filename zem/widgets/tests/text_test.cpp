// Text measuring, wrapping (with scripts written without spaces),
// truncation and alignment; rich-text lines and link spans.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/frame/layout_and_draw.hpp>
#include <zem/widgets/element.hpp>
#include <zem/widgets/rich_text.hpp>
#include <zem/widgets/text_edit.hpp>

#include "fixture.hpp"

namespace zem {
namespace {

using testing::phone_canvas;

std::size_t utf8_chars(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

class TextLayout : public ::testing::Test {
protected:
    void SetUp() override { testing::use_test_theme(); }
    float width_of(const std::string& s) { return canvas.measure_text(s, 16.0f); }
    Canvas canvas = phone_canvas();
};

TEST_F(TextLayout, WrapsGreedilyAtWhiteSpace) {
    const float two = width_of("alpha beta");
    struct Case {
        std::string name;
        std::string text;
        float width;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"third word moves down", "alpha beta gamma", two + 1, {"alpha beta", "gamma"}},
        {"a line feed is white space", "alpha\nbeta gamma", two + 1, {"alpha beta", "gamma"}},
        {"runs of white space collapse", "  alpha \t beta  ", two + 1, {"alpha beta"}},
        {"a long word stands alone", "x supercalifragilistic y", 30, {"x", "supercalifragilistic", "y"}},
        {"a word too wide breaks after its hyphens", "Ende-zu-Ende-verschlüsselt", width_of("Ende-zu-Ende-") + 1,
         {"Ende-zu-Ende-", "verschlüsselt"}},
        {"a hyphenated word that fits stays whole", "Ende-zu-Ende", width_of("Ende-zu-Ende") + 1, {"Ende-zu-Ende"}},
        {"empty text", "", 100, {""}},
        {"white space only", "   ", 100, {""}},
        {"no width: one line", "alpha beta", 0, {"alpha beta"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text::wrap_lines(c.text, nullptr, 16.0f, c.width, canvas), c.lines) << c.name;
    }
}

TEST_F(TextLayout, BreaksWordsOfScriptsWithoutSpaces) {
    struct Case {
        std::string name;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"Japanese", "インストールが完了しました。コンピューターを再起動して、新しいシステムをお楽しみください。"},
        {"Chinese", "安装已完成。请重新启动计算机，然后开始使用新系统。"},
    };
    const float max_width = 150.0f;
    for (const Case& c : cases) {
        const auto lines = Text::wrap_lines(c.text, nullptr, 16.0f, max_width, canvas);
        ASSERT_GT(lines.size(), 1u) << c.name;
        std::string joined;
        for (const std::string& line : lines) {
            joined += line;
            EXPECT_LE(width_of(line), max_width + 0.01f) << c.name << ": " << line;
            // Closing punctuation never starts a line.
            for (const char* closing : {"。", "、", "，", "」"}) {
                EXPECT_NE(line.rfind(closing, 0), 0u) << c.name << ": " << line;
            }
        }
        EXPECT_EQ(joined, c.text) << c.name;  // nothing lost, nothing added
    }
    // Rich text breaks the same way, joining the pieces without spaces.
    for (const Case& c : cases) {
        const auto rich = wrap_lines(c.text, canvas, nullptr, 16.0f, max_width);
        ASSERT_GT(rich.size(), 1u) << c.name;
        std::string joined;
        for (const RichLine& line : rich) {
            joined += line.text;
            EXPECT_LE(width_of(line.text), max_width + 0.01f) << c.name << ": " << line.text;
            EXPECT_EQ(line.offsets.size(), utf8_chars(line.text) + 1) << c.name;
        }
        EXPECT_EQ(joined, c.text) << c.name;
        // A link over the whole text covers every line whole.
        for (const RichLine& line : rich) EXPECT_EQ(span_text(line, 0, c.text.size())->second, line.text);
    }
    // A Latin word wider than the line still stands alone, unbroken.
    const auto latin = Text::wrap_lines("Donaudampfschifffahrtsgesellschaft", nullptr, 16.0f, 50.0f, canvas);
    EXPECT_EQ(latin, (std::vector<std::string>{"Donaudampfschifffahrtsgesellschaft"}));
}

TEST_F(TextLayout, MeasureSingleAndWrapped) {
    Text t;
    t.text = "Hello there";
    t.size = Length::px(16);
    const auto [w, h] = t.measure(canvas, 1000);
    EXPECT_FLOAT_EQ(w, width_of("Hello there") + 8);
    EXPECT_GT(h, 0);
    EXPECT_FLOAT_EQ(t.measure(canvas, 20).first, 20);
    t.wrap = true;
    EXPECT_FLOAT_EQ(t.measure(canvas, 1000).first, 1000);  // a wrapped text reports the whole width
    EXPECT_FLOAT_EQ(t.measure(canvas, 1000).second, h);
    EXPECT_FLOAT_EQ(t.measure(canvas, width_of("Hello") + 1).second, 2 * h);
    t.text = "";
    EXPECT_FLOAT_EQ(t.measure(canvas, 1000).second, h);  // an empty wrapped text is one line high
    t.line_height = 1.5f;
    EXPECT_FLOAT_EQ(t.measure(canvas, 1000).second, 1.5f * h);
}

TEST_F(TextLayout, FontWeightReplacesTheFont) {
    Text t;
    t.font = TextFont{"serif", 300, FontStyle::Italic};
    t.font_weight(700);
    ASSERT_TRUE(t.font.has_value());
    EXPECT_EQ(t.font->family, "sora");
    EXPECT_EQ(t.font->weight, 700);
    EXPECT_EQ(t.font->style, FontStyle::Normal);
}

// The columns of a canvas holding ink, left and right.
std::pair<int, int> ink_extent(const Canvas& canvas) {
    int left = -1;
    int right = -1;
    for (std::uint32_t x = 0; x < canvas.width(); ++x) {
        for (std::uint32_t y = 0; y < canvas.height(); ++y) {
            if (canvas.software()->pixel(x, y)[3] > 0) {
                if (left < 0) left = static_cast<int>(x);
                right = static_cast<int>(x);
                break;
            }
        }
    }
    return {left, right};
}

TEST_F(TextLayout, AlignmentKeepsASmallInsetAndTruncationShowsDots) {
    Text t;
    t.text = "IIII";
    t.color = Color{0, 0, 0, 1};
    {
        Canvas c = phone_canvas(200, 40);
        t.align = TextAlign::Start;
        t.paint(c, Rect{0, 0, 200, 40}, {});
        EXPECT_NEAR(ink_extent(c).first, 4, 3);
    }
    {
        Canvas c = phone_canvas(200, 40);
        t.align = TextAlign::End;
        t.paint(c, Rect{0, 0, 200, 40}, {});
        EXPECT_NEAR(ink_extent(c).second, 196, 3);
    }
    {
        // A rectangle narrower than "..." shows the dots alone; none is
        // wider than the rectangle allows.
        Canvas c = phone_canvas(200, 40);
        Text long_text;
        long_text.text = "A sentence that cannot fit";
        long_text.color = Color{0, 0, 0, 1};
        long_text.paint(c, Rect{0, 0, 60, 40}, {});
        EXPECT_LE(ink_extent(c).second, 62);
    }
    {
        // A zero-wide rectangle truncates nothing: the whole text is drawn.
        Canvas c = phone_canvas(400, 40);
        Text long_text;
        long_text.text = "A sentence that cannot fit";
        long_text.color = Color{0, 0, 0, 1};
        long_text.paint(c, Rect{0, 0, 0, 40}, {});
        EXPECT_GT(ink_extent(c).second, 100);
    }
}

TEST_F(TextLayout, RichTextLinesKeepOffsetsIntoTheText) {
    const auto lines = wrap_lines("a\n\nb", canvas, nullptr, 16.0f, 1000.0f);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "a");
    EXPECT_EQ(lines[1].text, "b");
    EXPECT_EQ(lines[1].offsets, (std::vector<std::size_t>{3, 4}));

    const auto joined = wrap_lines("a  b", canvas, nullptr, 16.0f, 1000.0f);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].text, "a b");
    EXPECT_EQ(joined[0].offsets, (std::vector<std::size_t>{0, 3, 3, 4}));  // the space maps to b

    const auto empty = wrap_lines("", canvas, nullptr, 16.0f, 100.0f);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].text, "");
    EXPECT_EQ(empty[0].offsets, (std::vector<std::size_t>{0}));

    // A range over two words covers the space between them (and the joining
    // space before its first word, which carries that word's offset); one
    // ending inside a word stops there.
    const auto line = wrap_lines("see the terms here", canvas, nullptr, 16.0f, 1000.0f)[0];
    EXPECT_EQ(span_text(line, 4, 13)->second, " the terms");
    EXPECT_EQ(span_text(line, 8, 10)->second, " te");
    EXPECT_EQ(span_text(line, 8, 10)->first, 7u);
    EXPECT_EQ(span_text(line, 0, 2)->second, "se");
    EXPECT_FALSE(span_text(line, 40, 50).has_value());
}

TEST_F(TextLayout, RichTextWrapsAtStrictOverflow) {
    // Words of 60 and 50 with a 5 px space: 115 shares a line, 100 does not.
    const float w60 = width_of("mmmmm");
    const float w_space = width_of(" ");
    const std::string text = "mmmmm mmmm";
    const float both = w60 + w_space + width_of("mmmm");
    EXPECT_EQ(wrap_lines(text, canvas, nullptr, 16.0f, both).size(), 1u);
    EXPECT_EQ(wrap_lines(text, canvas, nullptr, 16.0f, both - 0.5f).size(), 2u);
}

TEST_F(TextLayout, FieldGeometry) {
    const float total = width_of("hello");
    const Rect narrow{0, 0, 60, 48};  // 20 px of text area: everything overflows
    EXPECT_FLOAT_EQ(TextEdit::scroll_offset(canvas, narrow, "hello", 5, false, 16.0f), total - 20.0f + 4.0f);
    EXPECT_FLOAT_EQ(TextEdit::scroll_offset(canvas, narrow, "hello", 0, false, 16.0f), 0.0f);
    const Rect wide{0, 0, 300, 48};
    EXPECT_FLOAT_EQ(TextEdit::scroll_offset(canvas, wide, "hello", 5, false, 16.0f), 0.0f);
    EXPECT_FLOAT_EQ(TextEdit::align_offset(canvas, wide, "hello", false, 2, 16.0f), 260.0f - total);
    EXPECT_FLOAT_EQ(TextEdit::align_offset(canvas, wide, "hello", false, 1, 16.0f), (260.0f - total) / 2);
    EXPECT_EQ(edit_display_text("aé", true), "\xE2\x80\xA2\xE2\x80\xA2");  // one bullet per character

    const auto lines = wrap_edit_lines(canvas, "ab\n\ncd", 1000, 16);
    EXPECT_EQ(lines, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 2}, {3, 3}, {4, 6}}));
    const auto narrow_lines = wrap_edit_lines(canvas, "abc", 1, 16);  // one character a line at least
    EXPECT_EQ(narrow_lines.size(), 3u);
    const Rect icon = toggle_icon_rect(Rect{10, 0, 30, 48});
    EXPECT_FLOAT_EQ(icon.x, 10);
    EXPECT_FLOAT_EQ(icon.w, 30);
}

TEST(EditLineView, ScrollsJustEnoughToShowTheCaretLine) {
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    for (std::size_t i = 0; i < 10; ++i) lines.emplace_back(i * 10, i * 10 + 9);
    struct Case {
        std::size_t line_count;
        std::size_t rows;
        std::size_t caret;
        std::size_t caret_line;
        std::size_t first;
    };
    const std::vector<Case> cases = {
        {8, 3, 75, 7, 5},   // lines 5 to 7 with the caret on line 7
        {8, 3, 15, 1, 0},   // lines 0 to 2 with the caret on line 1
        {10, 3, 55, 5, 3},  // caret on line 5 of 10
        {10, 3, 500, 9, 7}, // a caret past the text counts on the last line
        {2, 3, 15, 1, 0},
    };
    for (const Case& c : cases) {
        const std::vector<std::pair<std::size_t, std::size_t>> some(lines.begin(),
                                                                    lines.begin() + static_cast<std::ptrdiff_t>(c.line_count));
        const EditLineView v = edit_line_view(some, c.rows, c.caret);
        EXPECT_EQ(v.caret_line, c.caret_line) << c.caret;
        EXPECT_EQ(v.first, c.first) << c.caret;
    }
}

TEST(TextEditFontSize, ResponsiveDefaultAndResolvedLength) {
  Canvas canvas = Canvas::new_software(824, 1600);
  canvas.set_scale(2);
  set_text_scale(1.25F);
  // 412 logical pixels wide: the responsive 16 is exactly 16.
  EXPECT_FLOAT_EQ(text_edit_font_size(canvas, std::nullopt), 16 * 1.25F);
  EXPECT_FLOAT_EQ(text_edit_font_size(canvas, Length::percent_width(10)), 41.2F * 1.25F);
  set_text_scale(1.0F);
}

}  // namespace
}  // namespace zem

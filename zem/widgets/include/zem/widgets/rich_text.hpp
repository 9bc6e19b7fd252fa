#pragma once
// One paragraph in which byte ranges are tappable links.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/text/font.hpp>
#include <zem/text/font_registry.hpp>
#include <zem/widgets/kind.hpp>

namespace zem {

struct RichTextLink {
    Message message;
    std::size_t start = 0;
    std::size_t end = 0;
};

struct RichText {
    std::string text;
    std::vector<RichTextLink> links;
    std::optional<std::string> family;
    std::uint16_t weight = 400;
    FontStyle style = FontStyle::Normal;
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    Color link_color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    Length size = Length::px(16.0f);

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

// One wrapped line: its words joined by single spaces, and for every
// character of that text (plus one final entry) its byte offset in the full
// text. A joining space carries the start of the word after it.
struct RichLine {
    std::string text;
    std::vector<std::size_t> offsets;
};

// Wraps `text` at `max_width` (0 or less: never) measuring with `font` (the
// primary font when null) at `size`. Never empty.
std::vector<RichLine> wrap_lines(const std::string& text, Canvas& canvas, const FontFace* font, float size,
                                 float max_width);

// Appends the line of `words` (byte ranges of `text`) and empties `words`.
void push_line(const std::string& text, std::vector<std::pair<std::size_t, std::size_t>>& words,
               std::vector<RichLine>& lines);

// The part of the line whose characters come from [start, end) of the full
// text: its byte position in the line's text and a copy of it.
std::optional<std::pair<std::size_t, std::string>> span_text(const RichLine& line, std::size_t start,
                                                             std::size_t end);

// Size, font and line metrics shared by measuring, drawing and the link
// regions of the layout-and-draw pass.
struct RichTextMetrics {
    float size = 0.0f;
    std::optional<FontFace> font;
    float ascent = 0.0f;
    float line_height = 0.0f;

    const FontFace* font_ptr() const { return font ? &*font : nullptr; }
};
RichTextMetrics rich_text_metrics(const RichText& rich, Canvas& canvas);

}  // namespace zem

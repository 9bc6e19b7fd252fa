#pragma once
// Where the text of a TextEdit sits inside its rectangle.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zem/widget/element.hpp>

namespace zem {

inline constexpr float EDIT_INSET_X = 20.0f;
inline constexpr float EDIT_INSET_TOP = 12.0f;
inline constexpr float EDIT_LINE_HEIGHT = 22.4f;
inline constexpr float EDIT_ICON_WIDTH = 38.0f;
inline constexpr std::string_view PASSWORD_BULLET = "\xE2\x80\xA2";

// The text as shown: itself, or one bullet per character when masked.
std::string edit_display_text(std::string_view text, bool masked);

// Visual lines of a multi-line field as byte ranges (never empty).
std::vector<std::pair<std::size_t, std::size_t>> wrap_edit_lines(Canvas& canvas, std::string_view text,
                                                                 float max_width, float font_size);

// The caret's line (the first holding it, else the last) and the first
// line shown when `rows` lines fit: the view scrolls just enough to show the
// caret's line at the bottom.
struct EditLineView {
    std::size_t caret_line = 0;
    std::size_t first = 0;
};
EditLineView edit_line_view(const std::vector<std::pair<std::size_t, std::size_t>>& lines, std::size_t rows,
                            std::size_t caret);

// The trailing icon's rectangle: the rightmost 38 px of the field.
Rect toggle_icon_rect(const Rect& rect);

}  // namespace zem

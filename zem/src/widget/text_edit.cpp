#include <zem/widget/text_edit.hpp>

#include <algorithm>

#include <zem/draw/canvas.hpp>
#include <zem/widget/utf8.hpp>

namespace zem {

std::string edit_display_text(std::string_view text, bool masked) {
    if (!masked) return std::string(text);
    std::string out;
    const std::size_t n = utf8::char_count(text);
    out.reserve(n * PASSWORD_BULLET.size());
    for (std::size_t i = 0; i < n; ++i) out.append(PASSWORD_BULLET);
    return out;
}

namespace {

std::size_t floor_boundary(std::string_view text, std::size_t index) {
    index = std::min(index, text.size());
    while (index > 0 && index < text.size() && (static_cast<unsigned char>(text[index]) & 0xC0) == 0x80) --index;
    return index;
}

}  // namespace

float TextEdit::scroll_offset(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret, bool masked,
                              float font_size) {
    caret = floor_boundary(text, caret);
    const float total = canvas.measure_text(edit_display_text(text, masked), font_size);
    const float before = canvas.measure_text(edit_display_text(text.substr(0, caret), masked), font_size);
    const float visible = std::max(rect.w - 2.0f * EDIT_INSET_X, font_size);
    if (visible >= total) return 0.0f;
    const float half = visible * 0.5f;
    if (before <= half) return 0.0f;
    if (half >= std::max(total - before, 0.0f)) return std::max(total - visible + 4.0f, 0.0f);
    return before - half;
}

float TextEdit::align_offset(Canvas& canvas, const Rect& rect, std::string_view text, bool masked, std::uint8_t align,
                             float font_size) {
    if (align == 0) return 0.0f;
    const float total = canvas.measure_text(edit_display_text(text, masked), font_size);
    const float visible = std::max(rect.w - 2.0f * EDIT_INSET_X, font_size);
    if (total >= visible) return 0.0f;
    if (align == 2) return visible - total;
    return (visible - total) * 0.5f;
}

std::vector<std::pair<std::size_t, std::size_t>> wrap_edit_lines(Canvas& canvas, std::string_view text, float max_width,
                                                                 float font_size) {
    const float w_max = std::max(max_width, 1.0f);
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    if (text.empty()) {
        lines.emplace_back(0, 0);
        return lines;
    }
    std::size_t piece_start = 0;
    while (piece_start <= text.size()) {
        std::size_t piece_end = text.find('\n', piece_start);
        const bool last = piece_end == std::string_view::npos;
        if (last) piece_end = text.size();
        if (piece_end == piece_start) {
            lines.emplace_back(piece_start, piece_start);
        } else {
            std::size_t p = piece_start;
            while (p < piece_end) {
                float sum = 0.0f;
                std::size_t after_space = 0;  // 0: none seen since p
                std::size_t i = p;
                std::size_t line_end = piece_end;
                while (i < piece_end) {
                    const std::size_t n = utf8::char_len(text, i);
                    const float cw = canvas.measure_text(text.substr(i, n), font_size);
                    if (i != p && sum + cw > w_max) {
                        line_end = after_space != 0 ? after_space : i;
                        break;
                    }
                    sum += cw;
                    if (text[i] == ' ' || text[i] == '\t') after_space = i + n;
                    i += n;
                }
                lines.emplace_back(p, line_end);
                p = line_end;
            }
        }
        if (last) break;
        piece_start = piece_end + 1;
    }
    return lines;
}

EditLineView edit_line_view(const std::vector<std::pair<std::size_t, std::size_t>>& lines, std::size_t rows,
                            std::size_t caret) {
    EditLineView view;
    view.caret_line = lines.empty() ? 0 : lines.size() - 1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].first <= caret && caret <= lines[i].second) {
            view.caret_line = i;
            break;
        }
    }
    rows = std::max<std::size_t>(rows, 1);
    if (view.caret_line >= rows) {
        const std::size_t max_first = lines.size() > rows ? lines.size() - rows : 0;
        view.first = std::min(view.caret_line - rows + 1, max_first);
    }
    return view;
}

Rect toggle_icon_rect(const Rect& rect) {
    const float width = std::min(rect.w, EDIT_ICON_WIDTH);
    return Rect{rect.x + rect.w - width, rect.y, width, rect.h};
}

}  // namespace zem

#include <zem/widgets/text_edit.hpp>

#include <zem/text/graphemes.hpp>

// TextEdit: where its text sits, size, painting and what the frame records
// for it.

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/theme/assets.hpp>
#include <zem/theme/color.hpp>
#include <zem/widgets/hit_action.hpp>
#include <zem/widgets/text_metrics.hpp>
#include <zem/text/utf8.hpp>

namespace zem {

float text_edit_font_size(const Canvas& canvas, const std::optional<Length>& size) {
    if (!size) return canvas.responsive_text_px(16.0f);
    return canvas.resolve_text_length(*size);
}

std::string edit_display_text(std::string_view text, bool masked) {
    if (!masked) return std::string(text);
    std::string out;
    const std::size_t n = utf8::char_count(text);
    out.reserve(n * PASSWORD_BULLET.size());
    for (std::size_t i = 0; i < n; ++i) out.append(PASSWORD_BULLET);
    return out;
}

namespace {

// A caret never stands inside a character a reader sees as one, even when it
// was measured on another text.
std::size_t floor_boundary(std::string_view text, std::size_t index) { return floor_grapheme(text, index); }

}  // namespace

namespace {

// The horizontal scroll for a text of width `total` whose caret sits `before`
// from its start. A window cut from a longer text says which of its ends are
// cut: there the text goes on beyond the field, so that end never pins the
// scroll.
float scroll_for(float total, float before, float visible, float inset_end, bool cut_left, bool cut_right) {
    if (!cut_left && !cut_right && visible >= total) return 0.0f;
    const float half = visible * 0.5f;
    if (!cut_left && before <= half) return 0.0f;
    if (!cut_right && half >= std::max(total - before, 0.0f)) return std::max(total - visible + inset_end, 0.0f);
    return before - half;
}

float align_for(float total, float visible, std::uint8_t align) {
    if (align == 0 || total >= visible) return 0.0f;
    if (align == 2) return visible - total;
    return (visible - total) * 0.5f;
}

float visible_width(Canvas& canvas, const Rect& rect, float font_size) {
    return std::max(rect.w - 2.0f * canvas.px(EDIT_INSET_X), canvas.px(font_size));
}

}  // namespace

float TextEdit::scroll_offset(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret, bool masked,
                              float font_size) {
    caret = floor_boundary(text, caret);
    const float total = canvas.measure_text(edit_display_text(text, masked), font_size);
    const float before = canvas.measure_text(edit_display_text(text.substr(0, caret), masked), font_size);
    return scroll_for(total, before, visible_width(canvas, rect, font_size), canvas.px(4.0f), false, false);
}

float TextEdit::align_offset(Canvas& canvas, const Rect& rect, std::string_view text, bool masked, std::uint8_t align,
                             float font_size) {
    if (align == 0) return 0.0f;
    const float total = canvas.measure_text(edit_display_text(text, masked), font_size);
    return align_for(total, visible_width(canvas, rect, font_size), align);
}

std::pair<std::size_t, std::size_t> edit_text_window(Canvas& canvas, std::string_view text, std::size_t caret,
                                                     bool masked, float reach, float font_size) {
    caret = floor_boundary(text, caret);
    if (text.size() <= EDIT_WHOLE_TEXT_BYTES) return {0, text.size()};
    // Clusters measured alone, as the hit test measures them; a bullet each
    // when masked.
    auto width = [&](std::size_t from, std::size_t to) {
        return masked ? canvas.measure_text(PASSWORD_BULLET, font_size) * static_cast<float>(utf8::char_count(text.substr(from, to - from)))
                      : canvas.measure_text(text.substr(from, to - from), font_size);
    };
    std::size_t start = caret;
    float sum = 0.0f;
    for (std::size_t n = 0; start > 0 && sum < reach && n < EDIT_WINDOW_CLUSTERS; ++n) {
        const std::size_t p = prev_grapheme(text, start);
        sum += width(p, start);
        start = p;
    }
    std::size_t end = caret;
    sum = 0.0f;
    for (std::size_t n = 0; end < text.size() && sum < reach && n < EDIT_WINDOW_CLUSTERS; ++n) {
        const std::size_t q = next_grapheme(text, end);
        sum += width(end, q);
        end = q;
    }
    return {start, end};
}

SingleLineView single_line_view(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret,
                                bool masked, std::uint8_t align, float font_size) {
    caret = floor_boundary(text, caret);
    const float visible = visible_width(canvas, rect, font_size);
    // Twice the field's width on each side: the window's cut ends stay well
    // outside the field whatever the scroll, and kerning or the inset's few
    // pixels cannot bring them in.
    const auto [start, end] = edit_text_window(canvas, text, caret, masked, 2.0f * visible, font_size);
    const std::string_view part = text.substr(start, end - start);
    const float total = canvas.measure_text(edit_display_text(part, masked), font_size);
    const float before = canvas.measure_text(edit_display_text(part.substr(0, caret - start), masked), font_size);
    const bool cut_left = start > 0;
    const bool cut_right = end < text.size();
    SingleLineView view;
    view.start = start;
    view.end = end;
    const float scroll = scroll_for(total, before, visible, canvas.px(4.0f), cut_left, cut_right);
    const float shift = cut_left || cut_right ? 0.0f : align_for(total, visible, align);
    view.origin = shift - scroll;
    return view;
}

float single_line_x(Canvas& canvas, const SingleLineView& view, std::string_view text, std::size_t index, bool masked,
                    float font_size) {
    index = std::clamp(index, view.start, view.end);
    return view.origin +
           canvas.measure_text(edit_display_text(text.substr(view.start, index - view.start), masked), font_size);
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
                    // A line never splits what a reader sees as one character.
                    const std::size_t n = std::min(next_grapheme(text, i), piece_end) - i;
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

std::size_t index_at_x(Canvas& canvas, std::string_view text, std::size_t start, std::size_t end, bool masked,
                       float x, float font_size) {
    if (x <= 0.0f) return start;
    float sum = 0.0f;
    for (std::size_t i = start; i < end;) {
        const std::size_t next = std::min(next_grapheme(text, i), end);
        const float w = canvas.measure_text(edit_display_text(text.substr(i, next - i), masked), font_size);
        if (x < sum + w / 2.0f) return i;
        sum += w;
        i = next;
    }
    return end;
}

namespace {

std::vector<std::pair<std::size_t, std::size_t>> field_lines(Canvas& canvas, const Rect& rect, std::string_view text) {
    return wrap_edit_lines(canvas, text, std::max(rect.w - 2.0f * canvas.px(EDIT_INSET_X), canvas.px(16.0f)), 16.0f);
}

}  // namespace

std::size_t edit_hit_test(Canvas& canvas, const Rect& rect, std::string_view text, bool multiline, bool masked,
                          bool has_toggle, std::size_t caret, std::uint8_t align, float px, float py, float font_size) {
    caret = floor_boundary(text, caret);
    if (!multiline || masked) {
        // The same geometry the painter uses.
        const Rect narrowed{rect.x, rect.y, std::max(rect.w - (has_toggle ? canvas.px(28.0f) : 0.0f), canvas.px(40.0f)),
                            rect.h};
        const SingleLineView view = single_line_view(canvas, narrowed, text, caret, masked, align, font_size);
        return index_at_x(canvas, text, view.start, view.end, masked, px - rect.x - canvas.px(EDIT_INSET_X) - view.origin,
                          font_size);
    }
    constexpr float size = 16.0f;
    // The painter's geometry: logical lengths times the scale.
    const float line_h = canvas.px(EDIT_LINE_HEIGHT);
    const auto lines = field_lines(canvas, rect, text);
    const auto rows =
        static_cast<std::size_t>(std::max(std::floor(std::max(rect.h - canvas.px(24.0f), line_h) / line_h), 1.0f));
    const EditLineView view = edit_line_view(lines, rows, caret);
    const auto down = static_cast<std::size_t>(std::max((py - rect.y - canvas.px(EDIT_INSET_TOP)) / line_h, 0.0f));
    const std::size_t row = std::min(view.first + down, lines.size() - 1);
    return index_at_x(canvas, text, lines[row].first, lines[row].second, false, px - rect.x - canvas.px(EDIT_INSET_X),
                      size);
}

namespace {

std::optional<std::size_t> visual_line_step(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret,
                                            bool down) {
    caret = floor_boundary(text, caret);
    const auto lines = field_lines(canvas, rect, text);
    const std::size_t i = edit_line_view(lines, 1, caret).caret_line;
    if ((!down && i == 0) || (down && i + 1 >= lines.size())) return std::nullopt;
    const float x = canvas.measure_text(text.substr(lines[i].first, caret - lines[i].first), 16.0f);
    const auto& target = lines[down ? i + 1 : i - 1];
    return index_at_x(canvas, text, target.first, target.second, false, x, 16.0f);
}

}  // namespace

std::optional<std::size_t> visual_line_up(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret) {
    return visual_line_step(canvas, rect, text, caret, false);
}

std::optional<std::size_t> visual_line_down(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret) {
    return visual_line_step(canvas, rect, text, caret, true);
}

std::pair<std::size_t, std::size_t> visual_line_bounds(Canvas& canvas, const Rect& rect, std::string_view text,
                                                       std::size_t caret) {
    caret = floor_boundary(text, caret);
    const auto lines = field_lines(canvas, rect, text);
    return lines[edit_line_view(lines, 1, caret).caret_line];
}

Rect toggle_icon_rect(const Rect& rect) { return toggle_icon_rect(rect, 1.0f); }

Rect toggle_icon_rect(const Rect& rect, float scale) {
    const float width = std::min(rect.w, EDIT_ICON_WIDTH * scale);
    return Rect{rect.x + rect.w - width, rect.y, width, rect.h};
}

// ---------------------------------------------------------------- painting

namespace {

// Multi-line fields use a fixed 22.4 px line pitch and 24 px of vertical
// inset, shared with their drawing and hit testing.
constexpr float edit_vertical_inset = 24.0f;

std::size_t clamp_index(std::string_view text, std::size_t index) { return floor_grapheme(text, index); }

void draw_reveal_icon(const TextEdit& t, Canvas& canvas, const Rect& rect) {
    const auto side = static_cast<std::uint32_t>(std::lround(canvas.px(20.0f)));
    const PicturePtr icon = theme::icon(t.reveal->revealed ? "actions/invisible" : "actions/visible", side);
    if (!icon) return;
    const std::vector<std::uint8_t> tinted = theme::tint_rgba(icon->rgba, theme::palette_text_secondary());
    const Rect slot = toggle_icon_rect(rect, canvas.px(1.0f));
    const float w = static_cast<float>(icon->width);
    const float h = static_cast<float>(icon->height);
    const float x = std::round(slot.x + (slot.w - w) / 2.0f);
    const float y = std::round(rect.y + (rect.h - h) / 2.0f);
    canvas.draw_image_data(tinted, icon->width, icon->height, Rect{x, y, w, h}, 1.0f);
}

void paint_single_line_edit(const TextEdit& t, Canvas& canvas, const Rect& rect, bool focused, std::size_t caret,
                            std::size_t anchor) {
    if (!t.bare) {
        canvas.fill_rect_radius(rect, theme::palette_surface_alt(), canvas.px(100.0f));
        if (focused) {
            canvas.stroke_rect_radius(rect, theme::palette_text_primary(), canvas.px(2.0f), canvas.px(100.0f));
        } else {
            canvas.stroke_rect_radius(rect, theme::palette_divider(), canvas.px(1.5f), canvas.px(100.0f));
        }
    }
    const bool masked = t.masked();
    const float fs = text_edit_font_size(canvas, t.font_size);
    const float icon_space = t.reveal ? canvas.px(28.0f) : 0.0f;
    const std::string_view value = t.value;
    const Rect narrowed{rect.x, rect.y, std::max(rect.w - icon_space, canvas.px(40.0f)), rect.h};
    // Only the part of a long text around the caret is measured and drawn:
    // the rest lies beyond the field's edges.
    const SingleLineView view =
        single_line_view(canvas, narrowed, value, caret, masked, static_cast<std::uint8_t>(t.align), fs);
    const float text_x = rect.x + canvas.px(EDIT_INSET_X);
    const float baseline = rect.y + (canvas.px(fs) + rect.h) / 2.0f - canvas.px(2.0f);
    const Rect inner{rect.x + canvas.px(10.0f), rect.y, std::max(rect.w - canvas.px(20.0f) - icon_space, 0.0f), rect.h};

    with_clip(canvas, inner, [&] {
        const std::size_t lo = std::clamp(std::min(caret, anchor), view.start, view.end);
        const std::size_t hi = std::clamp(std::max(caret, anchor), view.start, view.end);
        if (focused && caret != anchor) {
            const float sx = text_x + single_line_x(canvas, view, value, lo, masked, fs);
            const float sw = canvas.measure_text(edit_display_text(value.substr(lo, hi - lo), masked), fs);
            canvas.fill_rect_radius(Rect{sx, rect.y + canvas.px(6.0f), sw, rect.h - canvas.px(12.0f)}, theme::accent_a35(),
                                    canvas.px(2.0f));
        }
        if (!value.empty()) {
            const std::string shown = edit_display_text(value.substr(view.start, view.end - view.start), masked);
            canvas.draw_text(shown, text_x + view.origin, baseline, fs, theme::palette_text_primary());
        } else {
            const float pa = TextEdit::align_offset(canvas, rect, t.placeholder, false, static_cast<std::uint8_t>(t.align), fs);
            canvas.draw_text(t.placeholder, rect.x + canvas.px(EDIT_INSET_X) + pa, baseline, fs, theme::palette_text_secondary());
        }
        if (focused) {
            const float cx = text_x + single_line_x(canvas, view, value, caret, masked, fs);
            const float ch = canvas.px(fs + 4.0f);
            canvas.fill_rounded_rect(Rect{cx, rect.y + (rect.h - ch) / 2.0f, canvas.px(2.0f), ch},
                                     theme::palette_text_primary(), Radii{});
        }
    });
    if (t.reveal) draw_reveal_icon(t, canvas, rect);
}

void paint_multi_line_edit(const TextEdit& t, Canvas& canvas, const Rect& rect, bool focused, std::size_t caret,
                           std::size_t anchor) {
    constexpr float size = 16.0f;  // logical, like every text size
    // Insets, strokes and line pitch are logical lengths: times the scale.
    const float u = canvas.px(1.0f);
    const float line_h = EDIT_LINE_HEIGHT * u;
    canvas.fill_rect_radius(rect, theme::palette_surface_alt(), 12.0f * u);
    if (focused) {
        canvas.stroke_rect_radius(rect, theme::palette_text_primary(), 2.0f * u, 12.0f * u);
    } else {
        canvas.stroke_rect_radius(rect, theme::palette_divider(), 1.5f * u, 12.0f * u);
    }
    const std::string_view text = t.value;
    const auto lines = wrap_edit_lines(canvas, text, std::max(rect.w - 40.0f * u, 16.0f * u), size);
    const std::size_t rows =
        std::max<std::size_t>(static_cast<std::size_t>(std::floor(std::max(rect.h - 24.0f * u, line_h) /
                                                                  line_h)),
                              1);
    const EditLineView view = edit_line_view(lines, rows, caret);
    const std::size_t q = view.caret_line;
    const std::size_t first = view.first;

    const Rect inner{rect.x + 10.0f * u, rect.y + 6.0f * u, std::max(rect.w - 20.0f * u, 0.0f), std::max(rect.h - 12.0f * u, 0.0f)};
    with_clip(canvas, inner, [&] {
        const std::size_t lo = std::min(caret, anchor);
        const std::size_t hi = std::max(caret, anchor);
        if (focused && caret != anchor) {
            for (std::size_t i = first; i < lines.size(); ++i) {
                const float top = rect.y + 12.0f * u + static_cast<float>(i - first) * line_h;
                if (top > rect.y + rect.h - 12.0f * u) break;
                const auto [ls, le] = lines[i];
                const std::size_t a = std::clamp(lo, ls, le);
                const std::size_t b = std::clamp(hi, ls, le);
                if (a >= b) continue;
                const float x = rect.x + 20.0f * u + canvas.measure_text(text.substr(ls, a - ls), size);
                const float w = std::max(canvas.measure_text(text.substr(a, b - a), size), 4.0f * u);
                canvas.fill_rect_radius(Rect{x, top, w, line_h}, theme::accent_a35(), 2.0f * u);
            }
        }
        if (text.empty()) {
            canvas.draw_text(t.placeholder, rect.x + 20.0f * u, rect.y + 28.0f * u, size, theme::palette_text_secondary());
        } else {
            for (std::size_t i = first; i < lines.size(); ++i) {
                const float baseline = rect.y + 28.0f * u + static_cast<float>(i - first) * line_h;
                if (baseline > rect.y + rect.h - 12.0f * u + line_h) break;
                const auto [ls, le] = lines[i];
                canvas.draw_text(text.substr(ls, le - ls), rect.x + 20.0f * u, baseline, size,
                                 theme::palette_text_primary());
            }
        }
        if (focused && !lines.empty()) {
            const std::size_t ls = lines[q].first;
            const std::size_t c = std::max(caret, ls);
            const float x = rect.x + 20.0f * u + canvas.measure_text(text.substr(ls, c - ls), size);
            const float y = rect.y + 12.0f * u + static_cast<float>(q >= first ? q - first : 0) * line_h + 2.0f * u;
            canvas.fill_rounded_rect(Rect{x, y, 2.0f * u, 20.0f * u}, theme::palette_text_primary(), Radii{});
        }
    });
}

void paint_text_edit(const TextEdit& t, Canvas& canvas, const Rect& rect, bool focused, std::size_t caret,
                     std::size_t anchor) {
    caret = clamp_index(t.value, caret);
    anchor = clamp_index(t.value, anchor);
    if (t.shows_multiline()) {
        paint_multi_line_edit(t, canvas, rect, focused, caret, anchor);
    } else {
        paint_single_line_edit(t, canvas, rect, focused, caret, anchor);
    }
}

}  // namespace

std::pair<float, float> TextEdit::measure(Canvas& canvas, float avail) const {
    if (shows_multiline()) {
        return {avail, canvas.px(static_cast<float>(rows) * EDIT_LINE_HEIGHT + edit_vertical_inset)};
    }
    const float w = width ? std::min(canvas.resolve_length(*width), avail) : avail;
    const float h = height ? canvas.resolve_length(*height) : canvas.responsive_px(48.0f);
    return {w, h};
}

// A field without a width of its own takes none in a hugging container; a
// multi-line one takes all there is.
float TextEdit::intrinsic_width(Canvas& canvas, float available) const {
    if (!width) return 0.0f;
    if (shows_multiline()) return available;
    return std::min(canvas.resolve_length(*width), available);
}

void TextEdit::paint(Canvas& canvas, const Rect& rect, const PaintState& state) const {
    paint_text_edit(*this, canvas, rect, state.focused, state.caret, state.anchor);
}

Traits TextEdit::traits() const {
    Traits t;
    t.region = !disabled;
    t.focusable = !disabled;
    t.cursor = cursor.value_or(cursor_text);
    t.key = key;
    t.painted_inset = 2.0f;
    return t;
}

HitAction TextEdit::hit_action() const {
    HitAction::TextEdit a;
    a.align = static_cast<std::uint8_t>(align);
    a.password = reveal ? true : password;
    a.revealed = reveal && reveal->revealed;
    a.multiline = multiline && (reveal ? reveal->revealed : !password);
    a.caret_to_end = caret_to_end;
    a.font_size = font_size;
    a.on_change = on_change;
    a.on_submit = on_submit;
    if (reveal) a.reveal_toggle = reveal->toggle;
    a.text = value.str();
    return HitAction{std::move(a)};
}

std::optional<std::string> TextEdit::access_text() const { return std::nullopt; }

}  // namespace zem

// The Text widget: face choice, measuring, word wrap, drawing and truncation.

#include <algorithm>
#include <optional>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/hit_action.hpp>
#include <zem/widgets/text.hpp>
#include <zem/text/line_break.hpp>
#include <zem/widgets/text_metrics.hpp>
#include <zem/text/utf8.hpp>

namespace zem {

Text& Text::font_weight(std::uint16_t weight) & {
    font = TextFont{"sora", weight, FontStyle::Normal};
    return *this;
}

Text Text::font_weight(std::uint16_t weight) && {
    font_weight(weight);
    return std::move(*this);
}

namespace {

std::optional<FontFace> chosen_face(const Text& t, Canvas& canvas) {
    if (!t.font) return std::nullopt;
    return canvas.resolve_font(t.font->family, t.font->weight, static_cast<std::uint8_t>(t.font->style));
}

const FontFace* face_ptr(const std::optional<FontFace>& f) { return f ? &*f : nullptr; }

// Words of `s`: runs of non-white-space characters.
std::vector<std::string_view> split_words(std::string_view s) {
    std::vector<std::string_view> words;
    constexpr std::size_t none = std::string_view::npos;
    std::size_t start = none;
    for (std::size_t i = 0; i < s.size(); i += utf8::char_len(s, i)) {
        if (utf8::is_space(utf8::decode(s, i))) {
            if (start != none) words.push_back(s.substr(start, i - start));
            start = none;
        } else if (start == none) {
            start = i;
        }
    }
    if (start != none) words.push_back(s.substr(start));
    return words;
}

}  // namespace

std::vector<std::string> Text::wrap_lines(const std::string& s, const TextFont* font, float size, float max_width,
                                          Canvas& canvas) {
    if (s.empty() || max_width <= 0.0f) return {s};
    std::optional<FontFace> face;
    if (font != nullptr) face = canvas.resolve_font(font->family, font->weight, static_cast<std::uint8_t>(font->style));
    auto width_of = [&](std::string_view text) { return canvas.measure_text(text, size, face_ptr(face)); };

    const float space = width_of(" ");
    std::vector<std::string> lines;
    std::string line;
    float w = 0.0f;
    auto place = [&](std::string_view word, float ww, bool glued) {
        if (line.empty()) {
            line.assign(word);
            w = ww;
            return;
        }
        const float joint = glued ? 0.0f : space;
        if (max_width >= w + joint + ww) {
            if (!glued) line.push_back(' ');
            line.append(word);
            w += joint + ww;
            return;
        }
        lines.push_back(std::move(line));
        line.assign(word);
        w = ww;
    };
    for (std::string_view word : split_words(s)) {
        const float ww = width_of(word);
        // Scripts without spaces would otherwise run off the line as one
        // word: such a word is broken between its characters where the
        // line-breaking rules allow it.
        if (ww > max_width && holds_cjk(word)) {
            bool first = true;
            for (std::string_view piece : break_pieces(word)) {
                place(piece, width_of(piece), !first);
                first = false;
            }
            continue;
        }
        // A word too wide for any line ("Ende-zu-Ende-verschlüsselt.") may
        // still break after its hyphens, as hyphenated words do in print.
        if (ww > max_width && word.find('-') != std::string_view::npos) {
            std::size_t from = 0;
            while (from < word.size()) {
                std::size_t dash = word.find('-', from);
                std::size_t to = dash == std::string_view::npos ? word.size() : dash + 1;
                std::string_view piece = word.substr(from, to - from);
                place(piece, width_of(piece), from != 0);
                from = to;
            }
            continue;
        }
        place(word, ww, false);
    }
    if (!line.empty()) lines.push_back(std::move(line));
    if (lines.empty()) lines.emplace_back();
    return lines;
}

std::pair<float, float> Text::measure(Canvas& canvas, float available) const {
    const float size_px = canvas.resolve_text_length(size);
    const LineBox box = text_line_box(canvas, size_px);
    const float line_h = box.advance * line_height;
    if (wrap) {
        const auto lines = wrap_lines(text, font ? &*font : nullptr, size_px, available, canvas);
        return {available, line_h * static_cast<float>(std::max<std::size_t>(lines.size(), 1))};
    }
    const std::optional<FontFace> face = chosen_face(*this, canvas);
    return {std::min(canvas.measure_text(text, size_px, face_ptr(face)) + canvas.px(8.0f), available), line_h};
}

void Text::paint(Canvas& canvas, const Rect& r, const PaintState&) const {
    const std::optional<FontFace> face = chosen_face(*this, canvas);
    const float size_px = canvas.resolve_text_length(size);
    const LineBox box = text_line_box(canvas, size_px);
    auto width_of = [&](std::string_view s) { return canvas.measure_text(s, size_px, face_ptr(face)); };

    auto draw_line = [&](std::string_view line, float baseline) {
        const float lw = width_of(line);
        const float slack = std::max(r.w - lw, 0.0f);
        const float inset = std::min(slack, canvas.px(4.0f));
        float x = r.x + inset;
        if (align == TextAlign::Center) {
            x = r.x + slack / 2.0f;
        } else if (align == TextAlign::End) {
            x = r.x + r.w - lw - inset;
        }
        canvas.draw_text(line, x, baseline, size_px, color, face_ptr(face));
    };

    if (wrap) {
        const auto lines = wrap_lines(text, font ? &*font : nullptr, size_px, r.w, canvas);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            draw_line(lines[i], r.y + box.ascent + box.advance * line_height * static_cast<float>(i));
        }
        return;
    }
    // Only a truncated line needs text of its own; the whole one is drawn
    // from the element, so a steady frame copies nothing.
    if (truncate && r.w > 0.0f && width_of(text) > r.w) {
        // What is cut off still counts where the text's box is recorded: the
        // whole line would run past the rectangle.
        canvas.note_text_extent(Rect{r.x, r.y, width_of(text), box.advance * line_height});
        const float e = width_of("...");
        if (r.w - e <= 0.0f) {
            draw_line("...", r.y + box.ascent);
        } else {
            draw_line(prefix_fitting(canvas, text, size_px, face_ptr(face), r.w - e) + "...", r.y + box.ascent);
        }
        return;
    }
    draw_line(text, r.y + box.ascent);
}

Traits Text::traits() const {
    Traits t;
    if (!text.empty()) t.node = AccessNodeKind::Text;
    t.live = live;
    return t;
}

HitAction Text::hit_action() const { return {}; }

std::optional<std::string> Text::access_text() const {
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace zem

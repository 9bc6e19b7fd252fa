#include <zem/widgets/rich_text.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/hit_action.hpp>
#include <zem/text/line_break.hpp>
#include <zem/widgets/text_metrics.hpp>
#include <zem/text/utf8.hpp>

namespace zem {

void push_line(const std::string& text, std::vector<std::pair<std::size_t, std::size_t>>& words,
               std::vector<RichLine>& lines) {
    RichLine line;
    for (std::size_t w = 0; w < words.size(); ++w) {
        const auto [start, end] = words[w];
        // Pieces of one word broken across lines touch each other and are
        // joined without a space.
        if (w > 0 && words[w - 1].second != start) {
            line.text.push_back(' ');
            line.offsets.push_back(start);
        }
        for (std::size_t i = start; i < end; i += utf8::char_len(text, i)) line.offsets.push_back(i);
        line.text.append(text, start, end - start);
    }
    line.offsets.push_back(words.empty() ? 0 : words.back().second);
    lines.push_back(std::move(line));
    words.clear();
}

std::vector<RichLine> wrap_lines(const std::string& text, Canvas& canvas, const FontFace* font, float size,
                                 float max_width) {
    struct Word {
        std::size_t start;
        std::size_t end;
    };
    std::vector<Word> words;
    std::vector<std::size_t> breaks_after;  // forced break after this many words
    constexpr std::size_t none = std::string::npos;
    std::size_t start = none;
    for (std::size_t i = 0; i < text.size(); i += utf8::char_len(text, i)) {
        const char32_t c = utf8::decode(text, i);
        if (utf8::is_space(c)) {
            if (start != none) words.push_back({start, i});
            start = none;
            if (c == U'\n') breaks_after.push_back(words.size());
        } else if (start == none) {
            start = i;
        }
    }
    if (start != none) words.push_back({start, text.size()});

    const float space = canvas.measure_text(" ", size, font);
    std::vector<RichLine> lines;
    std::vector<std::pair<std::size_t, std::size_t>> current;
    float line_w = 0.0f;
    std::size_t next_break = 0;
    for (std::size_t k = 0; k < words.size(); ++k) {
        const Word& word = words[k];
        const std::string_view whole = std::string_view(text).substr(word.start, word.end - word.start);
        const float ww = canvas.measure_text(whole, size, font);
        auto place = [&](std::size_t s, std::size_t e, float w, bool glued) {
            const float joint = glued ? 0.0f : space;
            if (!current.empty() && max_width > 0.0f && line_w + joint + w > max_width) {
                push_line(text, current, lines);
                current.emplace_back(s, e);
                line_w = w;
            } else {
                line_w = current.empty() ? w : line_w + joint + w;
                current.emplace_back(s, e);
            }
        };
        if (max_width > 0.0f && ww > max_width && holds_cjk(whole)) {
            // Scripts without spaces break between characters where the
            // line-breaking rules allow it instead of running off the line.
            std::size_t at = word.start;
            for (std::string_view piece : break_pieces(whole)) {
                place(at, at + piece.size(), canvas.measure_text(piece, size, font), at != word.start);
                at += piece.size();
            }
        } else {
            place(word.start, word.end, ww, false);
        }
        // A line feed ends only a line that has words: several in a row, or
        // one before the first word, make no empty lines.
        while (next_break < breaks_after.size() && breaks_after[next_break] < k + 1) ++next_break;
        if (next_break < breaks_after.size() && breaks_after[next_break] == k + 1) {
            if (!current.empty()) push_line(text, current, lines);
            line_w = 0.0f;
            while (next_break < breaks_after.size() && breaks_after[next_break] == k + 1) ++next_break;
        }
    }
    if (!current.empty()) push_line(text, current, lines);
    if (lines.empty()) lines.push_back(RichLine{"", {0}});
    return lines;
}

std::optional<std::pair<std::size_t, std::string>> span_text(const RichLine& line, std::size_t start,
                                                             std::size_t end) {
    std::optional<std::size_t> first;
    std::size_t last_end = 0;
    std::size_t index = 0;
    for (std::size_t pos = 0; pos < line.text.size(); ++index) {
        const std::size_t n = utf8::char_len(line.text, pos);
        const std::size_t offset = index < line.offsets.size() ? line.offsets[index] : line.offsets.back();
        if (start <= offset && offset < end) {
            if (!first) first = pos;
            last_end = pos + n;
        }
        pos += n;
    }
    if (!first) return std::nullopt;
    return std::make_pair(*first, line.text.substr(*first, last_end - *first));
}

RichTextMetrics rich_text_metrics(const RichText& rich, Canvas& canvas) {
    RichTextMetrics m;
    m.size = canvas.resolve_text_length(rich.size);
    if (rich.family) {
        m.font = canvas.resolve_font(*rich.family, rich.weight, static_cast<std::uint8_t>(rich.style));
    }
    const LineBox box = text_line_box(canvas, m.size);
    m.ascent = box.ascent;
    m.line_height = box.advance;
    return m;
}

std::pair<float, float> RichText::measure(Canvas& canvas, float available) const {
    const RichTextMetrics m = rich_text_metrics(*this, canvas);
    const auto lines = wrap_lines(text, canvas, m.font_ptr(), m.size, available);
    return {available, m.line_height * static_cast<float>(std::max<std::size_t>(lines.size(), 1))};
}

void RichText::paint(Canvas& canvas, const Rect& r, const PaintState&) const {
    const RichTextMetrics m = rich_text_metrics(*this, canvas);
    const auto lines = wrap_lines(text, canvas, m.font_ptr(), m.size, r.w);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const RichLine& line = lines[k];
        const float baseline = r.y + m.ascent + static_cast<float>(k) * m.line_height;
        canvas.draw_text(line.text, r.x, baseline, m.size, color, m.font_ptr());
        for (const RichTextLink& link : links) {
            auto part = span_text(line, link.start, link.end);
            if (!part) continue;
            const float x = r.x + canvas.measure_text(std::string_view(line.text).substr(0, part->first), m.size, m.font_ptr());
            const float pw = canvas.measure_text(part->second, m.size, m.font_ptr());
            canvas.draw_text(part->second, x, baseline, m.size, link_color, m.font_ptr());
            canvas.draw_line(link_color, x, baseline + 2.0f, x + pw, baseline + 2.0f, 1.0f);
        }
    }
}

// The links' regions are the frame's to record, line by line.
Traits RichText::traits() const { return {}; }

HitAction RichText::hit_action() const { return {}; }

std::optional<std::string> RichText::access_text() const {
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace zem

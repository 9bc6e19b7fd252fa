#pragma once
// One run of text, optionally wrapped or cut with "...".

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/text/font_registry.hpp>
#include <zem/widgets/kind.hpp>

namespace zem {

struct TextFont {
    std::string family;
    std::uint16_t weight = 400;
    FontStyle style = FontStyle::Normal;
};

struct Text {
    std::string text;
    std::optional<TextFont> font;
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    Length size = Length::px(16.0f);
    float line_height = 1.0f;
    bool wrap = false;
    bool truncate = true;
    TextAlign align = TextAlign::Start;
    // A status that changes by itself (a percentage, a step): assistive
    // technologies announce each new text politely.
    bool live = false;

    // Sets the family "sora" with the given weight, upright.
    Text& font_weight(std::uint16_t weight) &;
    Text font_weight(std::uint16_t weight) &&;

    // Greedy word wrap of `s` into lines no wider than `max_width` where the
    // words allow it.
    static std::vector<std::string> wrap_lines(const std::string& s, const TextFont* font, float size,
                                               float max_width, Canvas& canvas);

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

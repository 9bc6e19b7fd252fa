#pragma once
// One child inside insets over a filled, bordered or themed box.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Container {
    std::optional<std::string> surface;
    std::optional<Paint> fill = Paint{Color{0.933f, 0.933f, 0.933f, 1.0f}};
    std::optional<std::pair<Color, float>> border;
    std::optional<float> max_width;
    Box<Element> child;
    Radii radii{};
    Length top = Length::px(0.0f);
    Length right = Length::px(0.0f);
    Length bottom = Length::px(0.0f);
    Length left = Length::px(0.0f);
    float opacity = 1.0f;
    bool modal = false;

    Container();
    explicit Container(Element child);
    // All four insets at once.
    Container& insets(Length all) &;
    Container insets(Length all) &&;

    // The box it paints: the rectangle narrowed to `max_width`.
    Rect box(const Rect& rect) const;
    // Where its child goes: the box within the insets.
    Rect content_rect(const Rect& rect, Canvas& canvas) const;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

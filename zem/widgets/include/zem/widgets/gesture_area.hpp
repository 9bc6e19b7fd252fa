#pragma once
// A child that taps, long presses, drags and Escape reach.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct GestureArea {
    std::optional<Message> on_tap;
    std::optional<Message> on_long_press;
    std::optional<Message> on_drag;
    std::optional<Message> on_escape;
    std::optional<WidgetKey> key;
    Box<Element> child;
    std::optional<CursorShape> cursor;
    bool capture = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

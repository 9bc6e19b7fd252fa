#pragma once
// A child placed just below the widget with a given key in the last frame.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Anchored {
    Box<Element> child;
    WidgetKey anchor;
    float gap = 0.0f;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

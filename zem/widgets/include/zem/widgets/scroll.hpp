#pragma once
// A viewport over a child larger than itself.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Scroll {
    Box<Element> child;
    ScrollAxis axis = ScrollAxis::Vertical;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    float intrinsic_width(Canvas& canvas, float available) const;
};

}  // namespace zem

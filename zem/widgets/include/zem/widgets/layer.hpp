#pragma once
// A child drawn into a canvas of its own and blitted back, optionally faded.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Layer {
    std::optional<float> width;
    std::optional<float> height;
    Box<Element> child;
    float fade_bottom = 0.0f;
    bool own_viewport = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

#pragma once
// A horizontal rule.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Divider {
    std::optional<Length> thickness;
    std::optional<Length> margin;
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    float intrinsic_width(Canvas& canvas, float available) const;
};

}  // namespace zem

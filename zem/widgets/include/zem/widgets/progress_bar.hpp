#pragma once
// A bar filled to its value.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct ProgressBar {
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    float value = 0.0f;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    float intrinsic_width(Canvas& canvas, float available) const;
};

}  // namespace zem

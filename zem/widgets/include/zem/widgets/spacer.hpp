#pragma once
// Empty space, fixed or sharing the free room by weight.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Spacer {
    std::optional<Length> height;
    std::optional<Length> width;
    std::uint32_t weight = 1;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    float intrinsic_width(Canvas& canvas, float available) const;
};

}  // namespace zem

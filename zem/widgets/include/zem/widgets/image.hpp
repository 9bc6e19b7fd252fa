#pragma once
// A picture scaled into its rectangle.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Image {
    std::optional<Length> width;
    std::optional<Length> height;
    std::optional<Length> size;
    ImageData image;
    float opacity = 1.0f;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

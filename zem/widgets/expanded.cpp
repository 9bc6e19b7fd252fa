// Expanded: size, painting and what the frame records for it.

#include <zem/widgets/expanded.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

// An expanded child's width is its container's to give.
std::pair<float, float> Expanded::measure(Canvas& canvas, float available) const {
    return {0.0f, child->measure(canvas, available).second};
}

void Expanded::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Expanded::traits() const { return {}; }

HitAction Expanded::hit_action() const { return {}; }

std::optional<std::string> Expanded::access_text() const { return std::nullopt; }

}  // namespace zem

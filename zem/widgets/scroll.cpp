// Scroll: size, painting and what the frame records for it.

#include <zem/widgets/scroll.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

// A vertical or two-way scroll has no natural height, so that a column
// treats it as flexible.
std::pair<float, float> Scroll::measure(Canvas& canvas, float available) const {
    if (axis == ScrollAxis::Horizontal) return {available, child->measure(canvas, available).second};
    return {available, 0.0f};
}

// A scroll asks for no width in a hugging container.
float Scroll::intrinsic_width(Canvas&, float) const { return 0.0f; }

// The viewport, offsets and clipping are the frame's.
void Scroll::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Scroll::traits() const { return {}; }

HitAction Scroll::hit_action() const { return {}; }

std::optional<std::string> Scroll::access_text() const { return std::nullopt; }

}  // namespace zem

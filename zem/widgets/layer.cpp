// Layer: size, painting and what the frame records for it.

#include <zem/widgets/layer.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

std::pair<float, float> Layer::measure(Canvas& canvas, float available) const {
    const float w = width.value_or(available);
    const float h = height ? *height : child->measure(canvas, w).second;
    return {w, h};
}

// The layer's own canvas and its fade are the frame's.
void Layer::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Layer::traits() const { return {}; }

HitAction Layer::hit_action() const { return {}; }

std::optional<std::string> Layer::access_text() const { return std::nullopt; }

}  // namespace zem

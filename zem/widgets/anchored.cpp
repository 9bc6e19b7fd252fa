// Anchored: size, painting and what the frame records for it.

#include <zem/widgets/anchored.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

std::pair<float, float> Anchored::measure(Canvas& canvas, float available) const {
    return child->measure(canvas, available);
}

// Where the anchor was is the frame's to know.
void Anchored::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Anchored::traits() const { return {}; }

HitAction Anchored::hit_action() const { return {}; }

std::optional<std::string> Anchored::access_text() const { return std::nullopt; }

}  // namespace zem

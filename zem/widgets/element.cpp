// The one dispatch from an element to its kind.

#include <zem/widgets/element.hpp>

namespace zem {

std::pair<float, float> Element::measure(Canvas& canvas, float available) const {
    return std::visit([&](const auto& k) { return k.measure(canvas, available); }, node);
}

float Element::intrinsic_width(Canvas& canvas, float available) const {
    return std::visit(
        [&](const auto& k) {
            if constexpr (requires { k.intrinsic_width(canvas, available); }) {
                return k.intrinsic_width(canvas, available);
            } else {
                return k.measure(canvas, available).first;
            }
        },
        node);
}

void Element::paint(Canvas& canvas, const Rect& rect, const PaintState& state) const {
    std::visit([&](const auto& k) { k.paint(canvas, rect, state); }, node);
}

Traits Element::traits() const {
    return std::visit([](const auto& k) { return k.traits(); }, node);
}

HitAction Element::hit_action() const {
    return std::visit([](const auto& k) { return k.hit_action(); }, node);
}

std::optional<std::string> Element::text() const {
    return std::visit([](const auto& k) { return k.access_text(); }, node);
}

Rect painted_bounds(const Element& element, const Rect& rect) {
    const float d = element.traits().painted_inset;
    return Rect{rect.x - d, rect.y - d, rect.w + 2.0f * d, rect.h + 2.0f * d};
}

}  // namespace zem

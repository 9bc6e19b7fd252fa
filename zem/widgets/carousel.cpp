// Carousel: size, placing, painting and what the frame records for it.

#include <zem/widgets/carousel.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

std::pair<float, float> Carousel::measure(Canvas& canvas, float available) const {
    if (children.empty()) return {available, 0.0f};
    const float item = std::max(available * item_fraction, 1.0f);
    float tallest = 0.0f;
    for (const Element& child : children) tallest = std::max(tallest, child.measure(canvas, item).second);
    return {available, tallest};
}

// Pages of `item_fraction` of the width, the first centred, all shifted by
// `offset`.
void Carousel::arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const {
    if (children.empty()) return;
    slots.reserve(children.size());
    const float pw = std::max(rect.w * item_fraction, 1.0f);
    const float stride = pw + canvas.px(gap);
    for (std::size_t i = 0; i < children.size(); ++i) {
        const float x = rect.x + (rect.w - pw) / 2.0f + offset + static_cast<float>(i) * stride;
        slots.push_back(ChildSlot{x, rect.y, pw, rect.h, i});
    }
}

std::vector<ChildSlot> Carousel::arrange(const Rect& rect, Canvas& canvas) const {
    std::vector<ChildSlot> slots;
    slots.reserve(children.size());
    arrange_into(rect, canvas, slots);
    return slots;
}

void Carousel::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Carousel::traits() const { return {}; }

HitAction Carousel::hit_action() const { return {}; }

std::optional<std::string> Carousel::access_text() const { return std::nullopt; }

}  // namespace zem

// Stack: size, placing and what the frame records for it.

#include <zem/widgets/stack.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>
#include <zem/widgets/flex.hpp>

namespace zem {

Stack& Stack::push(Element element, Align h, Align v, float margin) & {
    StackChild child;
    child.element = std::move(element);
    child.h_align = h;
    child.v_align = v;
    child.margin = margin;
    children.push_back(std::move(child));
    return *this;
}

Stack Stack::push(Element element, Align h, Align v, float margin) && {
    push(std::move(element), h, v, margin);
    return std::move(*this);
}

std::pair<float, float> Stack::measure(Canvas& canvas, float available) const {
    float tallest = 0.0f;
    float widest = 0.0f;
    for (const StackChild& child : children) {
        tallest = std::max(tallest, child.element.measure(canvas, available).second);
        if (hug) widest = std::max(widest, child.element.intrinsic_width(canvas, available));
    }
    if (!hug) return {available, tallest};
    return {std::min(widest, available), tallest};
}

void Stack::arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const {
    slots.reserve(children.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        const StackChild& child = children[i];
        if (child.placement) {
            const Rect& p = *child.placement;
            slots.push_back(ChildSlot{rect.x + p.x, rect.y + p.y, p.w, p.h, i});
            continue;
        }
        // Margin and offsets are logical, like every length.
        const float m = canvas.px(child.margin);
        const float avail = std::max(rect.w - 2.0f * m, 0.0f);
        auto [cw, ch] = child.element.measure(canvas, avail);
        float x = rect.x + m;
        switch (child.h_align) {
        case Align::Start: x = rect.x + m; break;
        case Align::Center: x = rect.x + (rect.w - cw) / 2.0f; break;
        case Align::End: x = rect.x + rect.w - cw - m; break;
        case Align::Stretch:
            x = rect.x + m;
            cw = avail;
            break;
        }
        float y = rect.y + m;
        switch (child.v_align) {
        case Align::Start: y = rect.y + m; break;
        case Align::Center: y = rect.y + (rect.h - ch) / 2.0f; break;
        case Align::End: y = rect.y + rect.h - ch - m; break;
        case Align::Stretch:
            y = rect.y + m;
            ch = std::max(rect.h - 2.0f * m, 0.0f);
            break;
        }
        slots.push_back(ChildSlot{x + canvas.px(child.offset_x), y + canvas.px(child.offset_y), cw, ch, i});
    }
}

std::vector<ChildSlot> Stack::arrange(const Rect& rect, Canvas& canvas) const {
    std::vector<ChildSlot> slots;
    slots.reserve(children.size());
    arrange_into(rect, canvas, slots);
    return slots;
}

void Stack::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Stack::traits() const { return {}; }

HitAction Stack::hit_action() const { return {}; }

std::optional<std::string> Stack::access_text() const { return std::nullopt; }

}  // namespace zem

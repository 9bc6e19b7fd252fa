// Column: size, placing and what the frame records for it.

#include <zem/widgets/column.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>
#include <zem/widgets/flex.hpp>

namespace zem {

namespace {

// A vertical or two-way scroll has no height of its own and shares the free
// height of a column like a flexible child of weight 1.
bool is_flexible_scroll(const Element& e) {
    const Scroll* s = e.as<Scroll>();
    return s != nullptr && s->axis != ScrollAxis::Horizontal;
}

float column_inner(const Column& c, Canvas& canvas, float width) {
    float inner = width - 2.0f * canvas.resolve_length(c.padding);
    if (c.max_width) inner = std::min(inner, canvas.resolve_length(*c.max_width));
    return inner;
}

}  // namespace

std::pair<float, float> Column::measure(Canvas& canvas, float available) const {
    const float pad = canvas.resolve_length(padding);
    const float gap = canvas.resolve_length(spacing);
    const float inner = column_inner(*this, canvas, available);
    float sum = 0.0f;
    for (const Element& child : children) {
        if (const Spacer* s = child.as<Spacer>()) {
            sum += spacer_is_fixed(*s, canvas).value_or(0.0f);
        } else if (child.kind() != ElementKind::Expanded) {
            sum += child.measure(canvas, inner).second;
        }
    }
    const float height = 2.0f * pad + sum + spacing_total(gap, children.size());
    if (!hug) return {available, height};
    float widest = 0.0f;
    for (const Element& child : children) widest = std::max(widest, child.intrinsic_width(canvas, inner));
    return {std::min(2.0f * pad + widest, available), height};
}

void Column::arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const {
    const float pad = canvas.resolve_length(padding);
    const float gap = canvas.resolve_length(spacing);
    const float inner = column_inner(*this, canvas, rect.w);

    std::uint64_t weights = 0;
    float fixed = 0.0f;
    for (const Element& child : children) {
        if (const Expanded* e = child.as<Expanded>()) {
            weights += e->weight;
        } else if (is_flexible_scroll(child)) {
            weights += 1;
        } else if (const Spacer* s = child.as<Spacer>()) {
            if (auto size = spacer_is_fixed(*s, canvas)) {
                fixed += *size;
            } else {
                weights += s->weight;
            }
        } else {
            fixed += child.measure(canvas, inner).second;
        }
    }
    const float total_weight = static_cast<float>(weights);
    const float remaining =
        std::max(rect.h - 2.0f * pad - (spacing_total(gap, children.size()) + fixed), 0.0f);

    float y = rect.y + pad;
    if (weights == 0 && center_y) y += remaining / 2.0f;
    const float x0 = rect.x + (rect.w - inner) / 2.0f;

    auto share = [&](std::uint32_t weight) {
        return weights == 0 ? 0.0f : remaining * static_cast<float>(weight) / total_weight;
    };

    slots.reserve(children.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        const Element& child = children[i];
        float w = 0.0f;
        float h = 0.0f;
        if (const Spacer* s = child.as<Spacer>()) {
            w = inner;
            h = spacer_is_fixed(*s, canvas).value_or(share(s->weight));
        } else if (const Expanded* e = child.as<Expanded>()) {
            w = inner;
            h = share(e->weight);
        } else if (const Scroll* sc = child.as<Scroll>(); sc && sc->axis != ScrollAxis::Horizontal) {
            w = inner;
            h = weights == 0 ? 0.0f : remaining / total_weight;
        } else {
            std::tie(w, h) = child.measure(canvas, inner);
        }
        float x = x0;
        if (center_x && child.kind() != ElementKind::Spacer) x = x0 + (inner - w) / 2.0f;
        slots.push_back(ChildSlot{x, y, w, h, i});
        y += h + gap;
    }
}

std::vector<ChildSlot> Column::arrange(const Rect& rect, Canvas& canvas) const {
    std::vector<ChildSlot> slots;
    slots.reserve(children.size());
    arrange_into(rect, canvas, slots);
    return slots;
}

void Column::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Column::traits() const { return {}; }

HitAction Column::hit_action() const { return {}; }

std::optional<std::string> Column::access_text() const { return std::nullopt; }

}  // namespace zem

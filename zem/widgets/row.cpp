// Row: size, placing and what the frame records for it.

#include <zem/widgets/row.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>
#include <zem/widgets/flex.hpp>

namespace zem {

namespace {

bool is_flexible_row_spacer(const Element& e, Canvas& canvas) {
    const Spacer* s = e.as<Spacer>();
    return s != nullptr && !row_spacer_is_fixed(*s, canvas);
}

}  // namespace

std::pair<float, float> Row::measure(Canvas& canvas, float available) const {
    const float pad = canvas.resolve_length(padding);
    const float gap = canvas.resolve_length(spacing);
    const float gaps = spacing_total(gap, children.size());

    float fixed = 0.0f;
    bool flexible = false;
    float all_widths = 0.0f;
    for (const Element& child : children) {
        const bool flex = child.kind() == ElementKind::Expanded || is_flexible_row_spacer(child, canvas);
        flexible = flexible || flex;
        const float w = child.measure(canvas, available).first;
        all_widths += w;
        if (!flex) fixed += w;
    }
    const float flex_avail = std::max(std::max(available - 2.0f * pad, 0.0f) - fixed - gaps, 0.0f);

    float tallest = 0.0f;
    for (const Element& child : children) {
        const float at = child.kind() == ElementKind::Expanded ? flex_avail : available;
        tallest = std::max(tallest, child.measure(canvas, at).second);
    }
    const float height = 2.0f * pad + tallest;
    if (flexible || align_end) return {available, height};
    return {std::min(2.0f * pad + gaps + all_widths, available), height};
}

void Row::arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const {
    const float pad = canvas.resolve_length(padding);
    const float gap = canvas.resolve_length(spacing);
    const float gaps = spacing_total(gap, children.size());
    const std::size_t n = children.size();

    std::vector<std::pair<float, float>> sizes;
    sizes.reserve(n);
    for (const Element& child : children) sizes.push_back(child.measure(canvas, rect.w));

    float fixed = 0.0f;
    std::uint64_t weights = 0;
    std::vector<float> ordinary;
    float ordinary_sum = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const Element& child = children[i];
        if (const Expanded* e = child.as<Expanded>()) {
            weights += e->weight;
        } else if (const Spacer* s = child.as<Spacer>(); s && !row_spacer_is_fixed(*s, canvas)) {
            weights += s->weight;
        } else {
            fixed += sizes[i].first;
        }
        if (child.kind() != ElementKind::Spacer && child.kind() != ElementKind::Expanded) {
            ordinary.push_back(sizes[i].first);
            ordinary_sum += sizes[i].first;
        }
    }
    const float inner = std::max(rect.w - 2.0f * pad, 0.0f);
    const float fixed_spacers = std::max(fixed - ordinary_sum, 0.0f);
    const float cap = shrink ? fit_cap(ordinary, std::max(inner - gaps - fixed_spacers, 0.0f)) : unbounded;
    float used = fixed_spacers;
    for (float w : ordinary) used += std::min(w, cap);

    float x = 0.0f;
    float unit = 0.0f;
    if (weights > 0) {
        x = rect.x + pad;
        unit = std::max(inner - used - gaps, 0.0f) / static_cast<float>(weights);
    } else if (align_end) {
        x = rect.x + rect.w - (gaps + used) - pad;
    } else {
        x = rect.x + (rect.w - used - gaps) / 2.0f;
    }
    const float inner_h = rect.h - 2.0f * pad;
    const float top = rect.y + pad;

    for (std::size_t i = 0; i < n; ++i) {
        const Element& child = children[i];
        const auto [wi, hi] = sizes[i];
        float w = 0.0f;
        if (const Spacer* s = child.as<Spacer>()) {
            if (auto size = row_spacer_is_fixed(*s, canvas)) {
                w = *size;
            } else {
                w = unit * static_cast<float>(s->weight);
            }
        } else if (const Expanded* e = child.as<Expanded>()) {
            w = unit * static_cast<float>(e->weight);
        } else {
            w = std::min(wi, cap);
        }
        float y = 0.0f;
        float h = 0.0f;
        if (stretch && child.kind() != ElementKind::Spacer) {
            y = top;
            h = inner_h;
        } else {
            h = hi;
            // An Expanded's height is the one it has at the width it gets:
            // measured at the whole row's width, a wrapping text inside
            // counts fewer lines than it draws and runs out of its slot.
            if (child.kind() == ElementKind::Expanded) h = child.measure(canvas, w).second;
            y = align_top ? top : top + (inner_h - h) / 2.0f;
        }
        slots.push_back(ChildSlot{x, y, w, h, i});
        x += w + gap;
    }
}

std::vector<ChildSlot> Row::arrange(const Rect& rect, Canvas& canvas) const {
    std::vector<ChildSlot> slots;
    slots.reserve(children.size());
    arrange_into(rect, canvas, slots);
    return slots;
}

void Row::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Row::traits() const { return {}; }

HitAction Row::hit_action() const { return {}; }

std::optional<std::string> Row::access_text() const { return std::nullopt; }

}  // namespace zem

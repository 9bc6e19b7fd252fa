// Measure and arrange rules of Column, Row, Stack and WrapGrid.

#include <zem/layout/containers.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <zem/draw/canvas.hpp>

namespace zem {
namespace {

constexpr float unbounded = std::numeric_limits<float>::infinity();

bool is_flexible_row_spacer(const Element& e, Canvas& canvas) {
    const Spacer* s = e.as<Spacer>();
    return s != nullptr && !row_spacer_is_fixed(*s, canvas);
}

// A vertical or two-way scroll has no height of its own and shares the free
// height of a column like a flexible child of weight 1.
bool is_flexible_scroll(const Element& e) {
    const Scroll* s = e.as<Scroll>();
    return s != nullptr && s->axis != ScrollAxis::Horizontal;
}

float spacing_total(float gap, std::size_t n) { return gap * static_cast<float>(n > 0 ? n - 1 : 0); }

float column_inner(const Column& c, Canvas& canvas, float width) {
    float inner = width - 2.0f * canvas.resolve_length(c.padding);
    if (c.max_width) inner = std::min(inner, canvas.resolve_length(*c.max_width));
    return inner;
}

// The width a child of a hugging column or stack asks for, before the
// container takes the widest.
float intrinsic_width(const Element& child, Canvas& canvas, float inner) {
    switch (child.kind()) {
    case ElementKind::Spacer:
    case ElementKind::Scroll:
    case ElementKind::Slider:
    case ElementKind::Divider:
    case ElementKind::ProgressBar:
        return 0.0f;
    case ElementKind::TextEdit: {
        const TextEdit& t = *child.as<TextEdit>();
        if (!t.width) return 0.0f;
        if (t.shows_multiline()) return inner;
        return std::min(canvas.resolve_length(*t.width), inner);
    }
    default:
        return child.measure(canvas, inner).first;
    }
}

}  // namespace

std::optional<float> spacer_is_fixed(const Spacer& spacer, Canvas& canvas) {
    if (!spacer.height) return std::nullopt;
    return canvas.resolve_length(*spacer.height);
}

std::optional<float> row_spacer_is_fixed(const Spacer& spacer, Canvas& canvas) {
    if (!spacer.width) return std::nullopt;
    return canvas.resolve_length(*spacer.width);
}

float fit_cap(std::span<const float> widths, float available) {
    if (widths.empty()) return available >= 0.0f ? unbounded : 0.0f;
    float sum = 0.0f;
    for (float w : widths) sum += w;
    if (sum <= available) return unbounded;
    std::vector<float> sorted(widths.begin(), widths.end());
    std::sort(sorted.begin(), sorted.end());
    float sum_prev = 0.0f;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const float k = static_cast<float>(sorted.size() - i);
        const float c = (available - sum_prev) / k;
        if (c <= sorted[i]) return std::max(c, 0.0f);
        sum_prev += sorted[i];
    }
    return 0.0f;
}

// ---------------------------------------------------------------- Column

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
    for (const Element& child : children) widest = std::max(widest, intrinsic_width(child, canvas, inner));
    return {std::min(2.0f * pad + widest, available), height};
}

std::vector<ChildSlot> Column::arrange(const Rect& rect, Canvas& canvas) const {
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

    std::vector<ChildSlot> slots;
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
    return slots;
}

// ---------------------------------------------------------------- Row

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

std::vector<ChildSlot> Row::arrange(const Rect& rect, Canvas& canvas) const {
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

    std::vector<ChildSlot> slots;
    slots.reserve(n);
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
            y = align_top ? top : top + (inner_h - hi) / 2.0f;
        }
        slots.push_back(ChildSlot{x, y, w, h, i});
        x += w + gap;
    }
    return slots;
}

// ---------------------------------------------------------------- Stack

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
        if (hug) widest = std::max(widest, intrinsic_width(child.element, canvas, available));
    }
    if (!hug) return {available, tallest};
    return {std::min(widest, available), tallest};
}

std::vector<ChildSlot> Stack::arrange(const Rect& rect, Canvas& canvas) const {
    std::vector<ChildSlot> slots;
    slots.reserve(children.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        const StackChild& child = children[i];
        if (child.placement) {
            const Rect& p = *child.placement;
            slots.push_back(ChildSlot{rect.x + p.x, rect.y + p.y, p.w, p.h, i});
            continue;
        }
        const float m = child.margin;
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
        slots.push_back(ChildSlot{x + child.offset_x, y + child.offset_y, cw, ch, i});
    }
    return slots;
}

// ---------------------------------------------------------------- WrapGrid

namespace {

struct GridMetrics {
    std::size_t cols = 0;
    float pad = 0.0f;
    float cgap = 0.0f;
    float rgap = 0.0f;
    float cell = 0.0f;
};

GridMetrics grid_metrics(const WrapGrid& g, Canvas& canvas, float width) {
    GridMetrics m;
    m.pad = canvas.resolve_length(g.padding);
    m.cgap = canvas.resolve_length(g.column_gap);
    m.rgap = canvas.resolve_length(g.row_gap);
    const float inner = std::max(width - 2.0f * m.pad, 0.0f);
    if (g.min_cell_width) {
        const float min_cell = std::max(canvas.resolve_length(*g.min_cell_width), 1.0f);
        const float fit = std::floor((inner + m.cgap) / (m.cgap + min_cell));
        std::size_t cols = fit >= 1.0f && std::isfinite(fit) ? static_cast<std::size_t>(fit) : 1;
        if (g.max_columns) cols = std::min(cols, std::max<std::size_t>(*g.max_columns, 1));
        m.cols = cols;
    } else {
        m.cols = g.columns;
    }
    if (m.cols > 0) {
        m.cell = std::max(inner - m.cgap * static_cast<float>(m.cols - 1), 0.0f) / static_cast<float>(m.cols);
    }
    return m;
}

float grid_row_height(const WrapGrid& g, Canvas& canvas, std::size_t first, std::size_t end, float cell) {
    float tallest = 0.0f;
    for (std::size_t i = first; i < end; ++i) tallest = std::max(tallest, g.children[i].measure(canvas, cell).second);
    return tallest;
}

}  // namespace

std::pair<float, float> WrapGrid::measure(Canvas& canvas, float available) const {
    const GridMetrics m = grid_metrics(*this, canvas, available);
    if (m.cols == 0 || children.empty()) return {available, 0.0f};
    float height = 2.0f * m.pad;
    for (std::size_t first = 0; first < children.size(); first += m.cols) {
        const std::size_t end = std::min(first + m.cols, children.size());
        height += grid_row_height(*this, canvas, first, end, m.cell) + m.rgap;
    }
    return {available, height};
}

std::vector<ChildSlot> WrapGrid::arrange(const Rect& rect, Canvas& canvas) const {
    const GridMetrics m = grid_metrics(*this, canvas, rect.w);
    std::vector<ChildSlot> slots;
    if (m.cols == 0 || children.empty()) return slots;
    slots.reserve(children.size());
    const float step = m.cgap + m.cell;
    const float x0 = rect.x + m.pad;
    float y = rect.y + m.pad;
    for (std::size_t first = 0; first < children.size(); first += m.cols) {
        const std::size_t end = std::min(first + m.cols, children.size());
        const std::size_t k = end - first;
        const float row_h = grid_row_height(*this, canvas, first, end, m.cell);
        float shift = 0.0f;
        if (center_last_row && k < m.cols) shift = step * static_cast<float>(m.cols - k) / 2.0f;
        for (std::size_t j = 0; j < k; ++j) {
            slots.push_back(ChildSlot{x0 + shift + step * static_cast<float>(j), y, m.cell, row_h, first + j});
        }
        y += row_h + m.rgap;
    }
    return slots;
}

}  // namespace zem

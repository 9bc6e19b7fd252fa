// WrapGrid: size, placing and what the frame records for it.

#include <zem/widgets/wrap_grid.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>
#include <zem/widgets/flex.hpp>

namespace zem {

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

void WrapGrid::arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const {
    const GridMetrics m = grid_metrics(*this, canvas, rect.w);
    if (m.cols == 0 || children.empty()) return;
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
}

std::vector<ChildSlot> WrapGrid::arrange(const Rect& rect, Canvas& canvas) const {
    std::vector<ChildSlot> slots;
    slots.reserve(children.size());
    arrange_into(rect, canvas, slots);
    return slots;
}

void WrapGrid::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits WrapGrid::traits() const { return {}; }

HitAction WrapGrid::hit_action() const { return {}; }

std::optional<std::string> WrapGrid::access_text() const { return std::nullopt; }

}  // namespace zem

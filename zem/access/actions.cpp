#include <zem/access/actions.hpp>

#include <algorithm>

namespace zem::access {
namespace {

bool inside(const Rect& inner, const Rect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

}  // namespace

float clamp_slider(double value) { return static_cast<float>(std::clamp(value, 0.0, 1.0)); }

float step_slider(float value, bool up) { return clamp_slider(double(value) + (up ? slider_step : -slider_step)); }

std::optional<std::size_t> area_for_step(std::span<const ScrollArea> areas) {
    if (areas.empty()) return std::nullopt;
    // Inner areas come before the one around them, so the entry just before
    // an area, when it lies inside it, is its last inner area.
    std::size_t i = areas.size() - 1;
    while (i > 0 && inside(areas[i - 1].rect, areas[i].rect)) --i;
    return i;
}

std::optional<std::size_t> area_around(std::span<const ScrollArea> areas, float x, float y) {
    for (std::size_t i = 0; i < areas.size(); ++i) {
        const Rect& r = areas[i].rect;
        if (x + 1 >= r.x && x + 1 <= r.x + r.w && y + 1 >= r.y && y + 1 <= r.y + r.h) return i;
    }
    return std::nullopt;
}

Offset scroll_by_step(Offset offset, A11yAction action, std::int32_t scale) {
    float step = scroll_step_logical * float(scale < 1 ? 1 : scale);
    auto [x, y] = offset;
    switch (action) {
        case A11yAction::ScrollDown: y += step; break;
        case A11yAction::ScrollUp: y -= step; break;
        case A11yAction::ScrollRight: x += step; break;
        case A11yAction::ScrollLeft: x -= step; break;
        default: break;
    }
    return {std::max(x, 0.0f), std::max(y, 0.0f)};
}

Offset scroll_into_view(const Rect& area, Offset offset, const Rect& w) {
    auto [ox, oy] = offset;
    if (w.y < area.y) oy -= area.y - w.y;
    if (w.y + w.h > area.y + area.h) oy += w.y + w.h - area.y - area.h;
    if (w.x < area.x) ox -= area.x - w.x;
    if (w.x + w.w > area.x + area.w) ox += w.x + w.w - area.x - area.w;
    return {std::max(ox, 0.0f), std::max(oy, 0.0f)};
}

}  // namespace zem::access

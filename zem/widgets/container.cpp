// Container: size, placing, painting and what the frame records for it.

#include <zem/widgets/container.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

Container::Container() = default;

Container::Container(Element child_element) : child(std::move(child_element)) {}

Container& Container::insets(Length all) & {
    top = right = bottom = left = all;
    return *this;
}

Container Container::insets(Length all) && {
    insets(all);
    return std::move(*this);
}

std::pair<float, float> Container::measure(Canvas& canvas, float available) const {
    const float l = canvas.resolve_length(left);
    const float r = canvas.resolve_length(right);
    const float t = canvas.resolve_length(top);
    const float b = canvas.resolve_length(bottom);
    const float outer = max_width ? std::min(available, *max_width) : available;
    const auto [cw, ch] = child->measure(canvas, std::max(outer - l - r, 0.0f));
    return {l + r + cw, t + b + ch};
}

Rect Container::box(const Rect& rect) const {
    return Rect{rect.x, rect.y, max_width ? std::min(rect.w, *max_width) : rect.w, rect.h};
}

Rect Container::content_rect(const Rect& rect, Canvas& canvas) const {
    const Rect outer = box(rect);
    const float l = canvas.resolve_length(left);
    const float r = canvas.resolve_length(right);
    const float t = canvas.resolve_length(top);
    const float b = canvas.resolve_length(bottom);
    return Rect{outer.x + l, outer.y + t, std::max(outer.w - l - r, 0.0f), std::max(outer.h - t - b, 0.0f)};
}

// The theme surface (with its shadows where the canvas draws them), else the
// fill; then the border.
void Container::paint(Canvas& canvas, const Rect& rect, const PaintState&) const {
    const Rect outer = box(rect);
    std::optional<Surface> themed;
    if (surface) themed = theme::surface(*surface);
    if (themed) {
        GlesCanvas* gl = canvas.gles();
        if (gl != nullptr) {
            for (const Shadow& s : themed->shadows) gl->drop_shadow(outer, s, radii);
        }
        canvas.fill_paint(outer, themed->fill, radii);
        if (gl != nullptr) {
            for (const Shadow& s : themed->inset_shadows) gl->inset_shadow(outer, s, radii);
        }
    } else if (fill) {
        canvas.fill_paint(outer, *fill, radii);
    }
    if (border) canvas.stroke_rounded_rect(outer, border->first, radii, border->second);
}

Traits Container::traits() const { return {}; }

HitAction Container::hit_action() const { return {}; }

std::optional<std::string> Container::access_text() const { return std::nullopt; }

}  // namespace zem

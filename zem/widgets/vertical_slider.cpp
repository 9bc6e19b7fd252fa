// VerticalSlider: size, painting and what the frame records for it.

#include <zem/widgets/vertical_slider.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> VerticalSlider::measure(Canvas& canvas, float) const {
    return {std::max(canvas.resolve_length(width), 2.0f), std::max(canvas.resolve_length(height), 2.0f)};
}

void VerticalSlider::paint(Canvas& canvas, const Rect& rect, const PaintState&) const {
    const VerticalSlider& slider = *this;
    const float r = std::min(rect.w, rect.h) / 2.0f;
    const std::optional<Surface> track = theme::surface(slider.track_surface);
    const std::optional<Surface> fill = theme::surface(slider.fill_surface);
    if (track) {
        // Only the drop shadows belong to the whole track; they exist on GL.
        if (!canvas.is_software()) canvas.draw_surface(rect, Paint{Color{0, 0, 0, 0}}, track->shadows, {}, r);
    } else {
        canvas.fill_rect_radius(rect, theme::palette_surface_alt(), r);
    }
    const float fh = std::clamp(rect.h * slider.value, 0.0f, rect.h);
    if (fh > 0.5f) {
        with_clip(canvas, Rect{rect.x, rect.y + rect.h - fh, rect.w, fh}, [&] {
            if (fill) {
                std::vector<Shadow> lower;
                for (const Shadow& s : fill->inset_shadows) {
                    if (s.offset_y >= 0.0f) lower.push_back(s);
                }
                canvas.draw_surface(rect, fill->fill, {}, lower, r);
            } else {
                canvas.fill_rect_radius(rect, theme::palette_accent(), r);
            }
        });
    }
    const float u = std::floor(rect.h - fh);
    if (u > 0.5f && track) {
        with_clip(canvas, Rect{rect.x, rect.y, rect.w, u},
                [&] { canvas.draw_surface(rect, track->fill, {}, track->inset_shadows, r); });
    }
}

Traits VerticalSlider::traits() const { return control_traits(std::nullopt, true, 0.0f); }

HitAction VerticalSlider::hit_action() const {
    return HitAction{HitAction::Slider{true, value, 0.0f, on_change, on_release}};
}

std::optional<std::string> VerticalSlider::access_text() const { return std::nullopt; }

}  // namespace zem

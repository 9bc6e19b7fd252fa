// Slider: size, painting and what the frame records for it.

#include <zem/widgets/slider.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> Slider::measure(Canvas& canvas, float available) const {
    return {available, canvas.responsive_px(36.0f)};
}

void Slider::paint(Canvas& canvas, const Rect& r, const PaintState&) const {
    const float ks = canvas.responsive_px(24.0f);
    const float th = canvas.responsive_px(10.0f);
    const Rect track{r.x + ks / 2.0f, r.y + (r.h - th) / 2.0f, r.w - ks, th};
    const float fw = track.w * value;
    const std::optional<Surface> fill_surf = theme::surface(fill_surface);
    if (track_fill) {
        canvas.fill_paint_radius(track, *track_fill, th / 2.0f);
    } else {
        if (auto ts = theme::surface(track_surface)) {
            canvas.draw_surface(track, ts->fill, ts->shadows, ts->inset_shadows, th / 2.0f);
        } else {
            canvas.fill_rect_radius(track, theme::palette_divider(), th / 2.0f);
        }
        if (fw > 0.5f) {
            with_clip(canvas, Rect{track.x, track.y, fw, th}, [&] {
                if (fill_surf) {
                    std::vector<Shadow> lower;
                    for (const Shadow& s : fill_surf->inset_shadows) {
                        if (s.offset_y >= 0.0f) lower.push_back(s);
                    }
                    canvas.draw_surface(track, fill_surf->fill, {}, lower, th / 2.0f);
                } else {
                    canvas.fill_rect_radius(Rect{track.x, track.y, fw, th}, theme::palette_accent(), th / 2.0f);
                }
            });
        }
    }
    const float cx = track.x + fw;
    const float cy = r.y + r.h / 2.0f;
    if (large_knob) {
        canvas.fill_rect_radius(Rect{cx - 10.0f, cy - 10.0f, 20.0f, 20.0f}, theme::palette_bg_page(), 10.0f);
        const Rect inner{cx - 6.0f, cy - 6.0f, 12.0f, 12.0f};
        if (fill_surf) {
            canvas.fill_paint_radius(inner, fill_surf->fill, 6.0f);
        } else {
            canvas.fill_rect_radius(inner, theme::palette_accent(), 6.0f);
        }
    } else {
        const Rect knob{cx - ks / 2.0f, cy - ks / 2.0f, ks, ks};
        canvas.fill_rect_radius(knob, theme::palette_bg_page(), ks / 2.0f);
        canvas.stroke_rect_radius(knob, theme::palette_text_primary(), 2.0f, ks / 2.0f);
    }
}

// A slider has no width of its own in a hugging container.
float Slider::intrinsic_width(Canvas&, float) const { return 0.0f; }

Traits Slider::traits() const {
    return control_traits(std::nullopt, true, std::max(large_knob ? 3.0f : 2.0f, surface_shadow_reach(track_surface)));
}

HitAction Slider::hit_action() const {
    return HitAction{HitAction::Slider{false, value, 24.0f, on_change, on_release}};
}

std::optional<std::string> Slider::access_text() const { return std::nullopt; }

}  // namespace zem

// Switch: size, painting and what the frame records for it.

#include <zem/widgets/switch.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> Switch::measure(Canvas& canvas, float available) const {
    const float h = height ? canvas.resolve_length(*height) : canvas.responsive_px(48.0f);
    const float k = std::min(h / canvas.responsive_px(48.0f), 1.0f);
    float w = canvas.responsive_px(52.0f) * k;
    if (label) w += canvas.responsive_px(12.0f) + label_width(canvas, label);
    return {std::min(w, available), h};
}

void Switch::paint(Canvas& canvas, const Rect& r, const PaintState& state) const {
    const bool focused = state.focused;
    const float k = std::min(r.h / canvas.responsive_px(48.0f), 1.0f);
    const float tw = canvas.responsive_px(52.0f) * k;
    const float th = canvas.responsive_px(30.0f) * k;
    const float ks = canvas.responsive_px(24.0f) * k;
    float tx = r.x + (r.w - tw) / 2.0f;
    if (label) {
        const float size = canvas.responsive_text_px(16.0f);
        canvas.draw_text(*label, r.x, label_baseline(r, size), size, theme::palette_text_primary());
        tx = r.x + r.w - tw;
    }
    const float ty = r.y + (r.h - th) / 2.0f;
    canvas.fill_rect_radius(Rect{tx, ty, tw, th}, on ? theme::palette_accent() : theme::palette_divider(), th / 2.0f);
    const float inset = (th - ks) / 2.0f;
    const float kx = on ? tx + tw - inset - ks : tx + inset;
    const Rect knob{kx, ty + th / 2.0f - ks / 2.0f, ks, ks};
    canvas.fill_rect_radius(knob, theme::palette_bg_page(), ks / 2.0f);
    canvas.stroke_rect_radius(knob, theme::palette_text_primary(), 1.0f, ks / 2.0f);
    if (focused) {
        canvas.stroke_rect_radius(Rect{tx - 5.0f, ty - 5.0f, tw + 10.0f, th + 10.0f}, theme::palette_accent(), 3.0f,
                                  th / 2.0f + 5.0f);
    }
}

Traits Switch::traits() const { return control_traits(key, true, 7.5f); }

HitAction Switch::hit_action() const { return HitAction{HitAction::Switch{on, on_toggle}}; }

std::optional<std::string> Switch::access_text() const { return label; }

}  // namespace zem

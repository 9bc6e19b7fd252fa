// Checkbox: size, painting and what the frame records for it.

#include <zem/widgets/checkbox.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> Checkbox::measure(Canvas& canvas, float available) const {
    float w = canvas.responsive_px(24.0f);
    if (label) w += canvas.responsive_px(12.0f) + label_width(canvas, label);
    return {std::min(w, available), canvas.responsive_px(48.0f)};
}

void Checkbox::paint(Canvas& canvas, const Rect& r, const PaintState& state) const {
    const bool focused = state.focused;
    const float s = canvas.responsive_px(24.0f);
    const Rect box{r.x, r.y + (r.h - s) / 2.0f, s, s};
    if (checked) {
        canvas.fill_rect_radius(box, theme::palette_accent(), 4.0f);
        const float cx = box.x + s / 2.0f;
        const float cy = box.y + s / 2.0f;
        const float o = 0.3f * s;
        const Color mark = theme::palette_bg_page();
        canvas.draw_line(mark, cx - o, cy, cx - 0.3f * o, cy + 0.7f * o, 2.5f);
        canvas.draw_line(mark, cx - 0.3f * o, cy + 0.7f * o, cx + o, cy - 0.5f * o, 2.5f);
    } else {
        canvas.stroke_rect_radius(box, theme::palette_divider(), 2.0f, 4.0f);
    }
    if (focused) canvas.stroke_rect_radius(grow(box, 5.0f), theme::palette_accent(), 3.0f, 9.0f);
    if (label) draw_label_after_mark(canvas, *label, r, s);
}

Traits Checkbox::traits() const { return control_traits(key, true, 7.5f); }

HitAction Checkbox::hit_action() const { return HitAction{HitAction::Checkbox{checked, on_toggle}}; }

std::optional<std::string> Checkbox::access_text() const { return label; }

}  // namespace zem

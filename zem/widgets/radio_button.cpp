// RadioButton: size, painting and what the frame records for it.

#include <zem/widgets/radio_button.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> RadioButton::measure(Canvas& canvas, float available) const {
    const float d = canvas.responsive_px(24.0f);
    float w = d;
    if (label) w += canvas.responsive_px(12.0f) + label_width(canvas, label);
    const float h = height ? std::max(canvas.resolve_length(*height), d) : canvas.responsive_px(48.0f);
    return {std::min(w, available), h};
}

void RadioButton::paint(Canvas& canvas, const Rect& r, const PaintState& state) const {
    const bool focused = state.focused;
    const float d = canvas.responsive_px(24.0f);
    const Rect circle{r.x, r.y + (r.h - d) / 2.0f, d, d};
    if (selected) {
        canvas.fill_rect_radius(circle, theme::palette_accent(), d / 2.0f);
        const float dot = canvas.responsive_px(12.0f);
        canvas.fill_rect_radius(Rect{circle.x + (d - dot) / 2.0f, circle.y + (d - dot) / 2.0f, dot, dot},
                                theme::palette_bg_page(), dot / 2.0f);
    } else {
        canvas.stroke_rect_radius(circle, theme::palette_divider(), 2.0f, d / 2.0f);
    }
    if (focused) canvas.stroke_rect_radius(grow(circle, 5.0f), theme::palette_accent(), 3.0f, d / 2.0f + 5.0f);
    if (label) draw_label_after_mark(canvas, *label, r, d);
}

Traits RadioButton::traits() const { return control_traits(key, true, 7.5f); }

HitAction RadioButton::hit_action() const { return HitAction{HitAction::RadioButton{selected, on_select}}; }

std::optional<std::string> RadioButton::access_text() const { return label; }

}  // namespace zem

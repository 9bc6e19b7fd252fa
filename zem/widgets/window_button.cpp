// WindowButton: size, painting and what the frame records for it.

#include <zem/widgets/window_button.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> WindowButton::measure(Canvas& canvas, float available) const {
    const float s = size > 0.0f ? size : canvas.responsive_px(36.0f);
    const float side = std::min(s, available);
    return {side, side};
}

void WindowButton::paint(Canvas& canvas, const Rect& r, const PaintState& state) const {
    const bool focused = state.focused;
    const bool hovered = state.hovered;
    const bool pressed = state.pressed;
    const WindowControls wc = theme::window_controls();
    const bool enabled = on_press.has_value();
    if (enabled) {
        std::optional<Color> bg;
        if (pressed) {
            bg = wc.pressed_bg;
        } else if (hovered) {
            bg = control == WindowControl::Close ? wc.close_hover_bg : wc.hover_bg;
        }
        if (bg && bg->a != 0.0f) canvas.fill_rect_radius(r, *bg, 10.0f);
    }
    if (focused) {
        canvas.stroke_rect_radius(Rect{r.x - 3.0f, r.y - 3.0f, r.w + 6.0f, r.h + 6.0f}, wc.focus_ring, 2.0f, 13.0f);
    }
    Color icon = hovered && control == WindowControl::Close && enabled ? wc.close_icon : wc.icon;
    if (!enabled) icon.a *= 0.35f;
    draw_window_control_icon(canvas, control, r, icon);
}

Traits WindowButton::traits() const { return control_traits(key, focusable, 5.0f); }

HitAction WindowButton::hit_action() const { return HitAction{HitAction::WindowButton{on_press}}; }

std::optional<std::string> WindowButton::access_text() const { return std::nullopt; }

}  // namespace zem

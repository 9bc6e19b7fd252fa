// Button: size, painting and what the frame records for it.

#include <zem/widgets/button.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/theme/color.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

namespace {

void paint_label_button(const Button& b, const std::string& label, Canvas& canvas, const Rect& rect, bool focused) {
    const float fs = b.font_size ? canvas.resolve_text_length(*b.font_size) : canvas.responsive_text_px(16.0f);
    const float baseline = rect.y + (fs + rect.h) / 2.0f - 2.0f;
    const float pad = canvas.responsive_px(24.0f);
    const std::string shown = truncate_to_width(canvas, label, fs, rect.w - 2.0f * pad);
    const bool enabled = b.on_press.has_value();
    const float radius = 100.0f;
    Color text_color = enabled ? theme::palette_text_primary() : theme::palette_text_secondary();
    switch (b.style) {
    case ButtonStyle::Filled:
        if (enabled) {
            canvas.fill_rect_radius(rect, theme::palette_accent(), radius);
            canvas.stroke_rect_radius(rect, theme::accent_dimmed(), 1.0f, radius);
        } else {
            canvas.fill_rect_radius(rect, theme::palette_divider(), radius);
        }
        break;
    case ButtonStyle::Outlined:
        canvas.fill_rect_radius(rect, theme::palette_surface_alt(), radius);
        canvas.stroke_rect_radius(rect, enabled ? theme::palette_text_primary() : theme::palette_divider(), 2.0f,
                                  radius);
        break;
    case ButtonStyle::Plain: break;
    }
    if (focused) {
        if (b.style == ButtonStyle::Plain) {
            canvas.stroke_rect_radius(grow(rect, 2.0f), theme::palette_accent(), 3.0f, 100.0f);
        } else {
            canvas.stroke_rect_radius(grow(rect, 5.0f), theme::palette_accent(), 3.0f, 105.0f);
        }
    }
    const float tw = canvas.measure_text(shown, fs);
    canvas.draw_text(shown, rect.x + (rect.w - tw) / 2.0f, baseline, fs, text_color);
}

void paint_icon_button(const ImageData& icon, Canvas& canvas, const Rect& rect, bool focused, bool hovered,
                       bool pressed) {
    const float r = std::min(rect.w, rect.h) / 2.0f + 8.0f;
    const Rect circle{rect.x + rect.w / 2.0f - r, rect.y + rect.h / 2.0f - r, 2.0f * r, 2.0f * r};
    if (pressed) {
        canvas.fill_rect_radius(circle, theme::with_alpha(theme::palette_text_primary(), 0.18f), r);
    } else if (hovered) {
        canvas.fill_rect_radius(circle, theme::with_alpha(theme::palette_text_primary(), 0.10f), r);
    }
    if (focused) canvas.stroke_rect_radius(grow(circle, 4.0f), theme::palette_accent(), 3.0f, r + 4.0f);
    draw_image(canvas, icon, rect, 1.0f);
}

}  // namespace

std::pair<float, float> Button::measure(Canvas& canvas, float avail) const {
    if (icon() != nullptr) {
        const float nominal = icon_size ? canvas.resolve_length(*icon_size) : canvas.responsive_px(48.0f);
        const float side = std::min(nominal, avail);
        return {side, side};
    }
    float w = 0.0f;
    if (width) {
        w = std::min(canvas.resolve_length(*width), avail);
    } else {
        const float fs = font_size ? canvas.resolve_text_length(*font_size) : canvas.responsive_text_px(16.0f);
        w = std::min(canvas.measure_text(*label(), fs) + 2.0f * canvas.responsive_px(24.0f), avail);
    }
    const float h = height ? canvas.resolve_length(*height) : canvas.responsive_px(48.0f);
    return {w, h};
}

void Button::paint(Canvas& canvas, const Rect& rect, const PaintState& state) const {
    if (const std::string* text = label()) {
        paint_label_button(*this, *text, canvas, rect, state.focused);
    } else {
        paint_icon_button(*icon(), canvas, rect, state.focused, state.hovered, state.pressed);
    }
}

Traits Button::traits() const {
    Traits t;
    t.region = true;
    t.focusable = focusable;
    t.cursor = cursor.value_or(cursor_pointer);
    t.key = key;
    if (icon() != nullptr) {
        t.painted_inset = 14.5f;
    } else {
        t.painted_inset = style == ButtonStyle::Plain ? 4.5f : 7.5f;
    }
    if (tooltip) t.tooltip = &*tooltip;
    return t;
}

HitAction Button::hit_action() const {
    return HitAction{HitAction::Press{auto_repeat, on_press, on_long_press, on_drag, std::nullopt}};
}

std::optional<std::string> Button::access_text() const {
    if (const std::string* text = label()) return *text;
    return tooltip;
}

}  // namespace zem

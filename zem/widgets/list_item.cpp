// ListItem: size, painting and what the frame records for it.

#include <zem/widgets/list_item.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> ListItem::measure(Canvas& canvas, float available) const {
    if (height) {
        const float size = font_size ? canvas.resolve_text_length(*font_size) : canvas.responsive_text_px(16.0f);
        return {available, std::max(canvas.resolve_length(*height), size * canvas.scale() + 4.0f)};
    }
    return {available, canvas.responsive_px(subtitle ? 68.0f : 56.0f)};
}

void ListItem::paint(Canvas& canvas, const Rect& r, const PaintState& state) const {
    const bool focused = state.focused;
    const bool hovered = state.hovered;
    const bool pressed = state.pressed;
    const float size = font_size ? canvas.resolve_text_length(*font_size) : canvas.responsive_text_px(16.0f);
    const float pad = padding ? canvas.resolve_length(*padding) : canvas.responsive_px(16.0f);
    const float gap = canvas.responsive_px(12.0f);
    const Color primary = theme::palette_text_primary();
    if (selected) {
        canvas.fill_rect_radius(r, primary, 12.0f);
    } else if (pressed) {
        canvas.fill_rect_radius(r, theme::text_primary_a12(), 12.0f);
    } else if (hovered) {
        canvas.fill_rect_radius(r, theme::text_primary_a06(), 12.0f);
    }
    const Color title_color = selected ? theme::palette_bg_page() : primary;
    const Color second_color = selected ? theme::palette_bg_page() : theme::palette_text_secondary();
    if (focused) canvas.stroke_rect_radius(r, theme::palette_accent(), 2.0f, 12.0f);

    float tx = r.x + pad;
    if (leading_image) {
        const float side = canvas.responsive_px(24.0f);
        canvas.draw_image_data(std::span(leading_image->data(), leading_image->size()), leading_image->width,
                               leading_image->height, Rect{r.x + pad, r.y + (r.h - side) / 2.0f, side, side}, 1.0f);
        tx = r.x + pad + side + gap;
    }
    float e = r.x + r.w - pad;
    if (trailing_image) {
        const float side = canvas.responsive_px(21.0f);
        canvas.draw_image_data(std::span(trailing_image->data(), trailing_image->size()), trailing_image->width,
                               trailing_image->height, Rect{e - side, r.y + (r.h - side) / 2.0f, side, side}, 1.0f);
        e -= side + gap;
    }
    if (trailing_text) {
        const float ts = canvas.responsive_text_px(14.0f);
        const float tw = canvas.measure_text(*trailing_text, ts);
        canvas.draw_text(*trailing_text, e - tw, label_baseline(r, ts), ts, second_color);
        e -= tw + gap;
    }
    const float aw = std::max(e - tx, 0.0f);
    const std::string shown = truncate_to_width(canvas, title, size, aw);
    if (subtitle) {
        canvas.draw_text(shown, tx, r.y + 0.35f * r.h + 0.3f * size, size, title_color);
        const float ss = canvas.responsive_text_px(13.0f);
        canvas.draw_text(truncate_to_width(canvas, *subtitle, ss, aw), tx, r.y + 0.62f * r.h + 0.3f * ss, ss,
                         second_color);
    } else {
        canvas.draw_text(shown, tx, label_baseline(r, size), size, title_color);
    }
}

Traits ListItem::traits() const { return control_traits(key, true, 2.0f); }

HitAction ListItem::hit_action() const { return HitAction{HitAction::ListItem{on_tap}}; }

std::optional<std::string> ListItem::access_text() const {
    if (title.empty()) return std::nullopt;
    return title;
}

}  // namespace zem

// Size rules and painters of Switch, Checkbox, RadioButton, Slider, ListItem,
// WindowButton, Divider, ProgressBar and CustomPaint.

#include <zem/widget/controls.hpp>

#include <algorithm>
#include <cmath>

#include <zem/draw/canvas.hpp>
#include <zem/draw/clip.hpp>
#include <zem/draw/leaf.hpp>
#include <zem/theme/active.hpp>
#include <zem/widget/element.hpp>
#include <zem/widget/text_metrics.hpp>

namespace zem {

namespace {

// Baseline of one label of `size` in a box: a little above its centre.
float label_baseline(const Rect& r, float size) { return r.y + (r.h + size) / 2.0f - 2.0f; }

float label_width(Canvas& canvas, const std::optional<std::string>& label) {
    return label ? canvas.measure_text(*label, canvas.responsive_text_px(16.0f)) : 0.0f;
}

}  // namespace

float knob_metric(const Canvas& canvas) { return canvas.resolve_length(Length::responsive(24.0f)); }

std::pair<Color, float> accent_with_opacity(float opacity) {
    const float held = std::isnan(opacity) ? opacity : std::clamp(opacity, 0.0f, 1.0f);
    return {theme::palette_accent(), held};
}

float surface_shadow_reach(std::string_view surface_name) {
    const std::optional<Surface> s = theme::surface(surface_name);
    if (!s || s->shadows.empty()) return 0.0f;
    float reach = 0.0f;
    for (const Shadow& sh : s->shadows) {
        const float r = std::max(std::abs(sh.offset_x), std::abs(sh.offset_y)) + std::max(sh.blur, 0.0f) +
                        std::max(sh.spread, 0.0f) + 1.0f;
        reach = std::max(reach, r);
    }
    return reach;
}

// ---------------------------------------------------------------- Switch

std::pair<float, float> Switch::measure(Canvas& canvas, float available) const {
    const float h = height ? canvas.resolve_length(*height) : canvas.responsive_px(48.0f);
    const float k = std::min(h / canvas.responsive_px(48.0f), 1.0f);
    float w = canvas.responsive_px(52.0f) * k;
    if (label) w += canvas.responsive_px(12.0f) + label_width(canvas, label);
    return {std::min(w, available), h};
}

void Switch::paint(Canvas& canvas, const Rect& r, bool focused, bool, bool) const {
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

// ---------------------------------------------------------------- Checkbox

std::pair<float, float> Checkbox::measure(Canvas& canvas, float available) const {
    float w = canvas.responsive_px(24.0f);
    if (label) w += canvas.responsive_px(12.0f) + label_width(canvas, label);
    return {std::min(w, available), canvas.responsive_px(48.0f)};
}

void Checkbox::paint(Canvas& canvas, const Rect& r, bool focused, bool, bool) const {
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
    if (label) {
        const float size = canvas.responsive_text_px(16.0f);
        canvas.draw_text(*label, r.x + s + canvas.responsive_px(12.0f), label_baseline(r, size), size,
                         theme::palette_text_primary());
    }
}

// ---------------------------------------------------------------- RadioButton

std::pair<float, float> RadioButton::measure(Canvas& canvas, float available) const {
    const float d = canvas.responsive_px(24.0f);
    float w = d;
    if (label) w += canvas.responsive_px(12.0f) + label_width(canvas, label);
    const float h = height ? std::max(canvas.resolve_length(*height), d) : canvas.responsive_px(48.0f);
    return {std::min(w, available), h};
}

void RadioButton::paint(Canvas& canvas, const Rect& r, bool focused, bool, bool) const {
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
    if (label) {
        const float size = canvas.responsive_text_px(16.0f);
        canvas.draw_text(*label, r.x + d + canvas.responsive_px(12.0f), label_baseline(r, size), size,
                         theme::palette_text_primary());
    }
}

// ---------------------------------------------------------------- Slider

std::pair<float, float> Slider::measure(Canvas& canvas, float available) const {
    return {available, canvas.responsive_px(36.0f)};
}

void Slider::paint(Canvas& canvas, const Rect& r, bool, bool, bool) const {
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

// ---------------------------------------------------------------- ListItem

std::pair<float, float> ListItem::measure(Canvas& canvas, float available) const {
    if (height) {
        const float size = font_size ? canvas.resolve_text_length(*font_size) : canvas.responsive_text_px(16.0f);
        return {available, std::max(canvas.resolve_length(*height), size * canvas.scale() + 4.0f)};
    }
    return {available, canvas.responsive_px(subtitle ? 68.0f : 56.0f)};
}

void ListItem::paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const {
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

// ---------------------------------------------------------------- WindowButton

std::pair<float, float> WindowButton::measure(Canvas& canvas, float available) const {
    const float s = size > 0.0f ? size : canvas.responsive_px(36.0f);
    const float side = std::min(s, available);
    return {side, side};
}

void WindowButton::paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const {
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

// ---------------------------------------------------------------- Divider

namespace {

std::pair<float, float> divider_metrics(const Divider& d, Canvas& canvas) {
    const float t = d.thickness ? canvas.resolve_length(*d.thickness) : canvas.resolve_length(Length::responsive(1.0f));
    const float m = d.margin ? canvas.resolve_length(*d.margin) : canvas.resolve_length(Length::responsive(8.0f));
    return {t, m};
}

}  // namespace

std::pair<float, float> Divider::measure(Canvas& canvas, float available) const {
    const auto [t, m] = divider_metrics(*this, canvas);
    return {available, t + 2.0f * m};
}

void Divider::paint(Canvas& canvas, const Rect& r, bool, bool, bool) const {
    const float t = divider_metrics(*this, canvas).first;
    const float y = r.y + r.h / 2.0f;
    canvas.draw_line(color, r.x, y, r.x + r.w, y, t);
}

// ---------------------------------------------------------------- ProgressBar

std::pair<float, float> ProgressBar::measure(Canvas& canvas, float available) const {
    return {available, canvas.resolve_length(Length::responsive(20.0f))};
}

void ProgressBar::paint(Canvas& canvas, const Rect& r, bool, bool, bool) const {
    const float b = canvas.resolve_length(Length::responsive(6.0f));
    const Rect bar{r.x, r.y + (r.h - b) / 2.0f, r.w, b};
    canvas.fill_rect_radius(bar, theme::palette_divider(), b / 2.0f);
    // Not clamped: a value above 1 paints past the end.
    const float filled = r.w * value;
    if (filled > 0.0f) canvas.fill_rect_radius(Rect{bar.x, bar.y, filled, b}, color, b / 2.0f);
}

// ---------------------------------------------------------------- CustomPaint

void CustomPaint::paint(Canvas& canvas, const Rect& r, bool, bool, bool) const {
    if (const Draw* d = std::get_if<Draw>(&painter)) {
        if (d->callback) (*d->callback)(canvas, r);
        return;
    }
    // Textures come from a GL context; a software canvas has none to give.
    if (canvas.is_software()) return;
    const Texture& t = std::get<Texture>(painter);
    if (!t.callback) return;
    if (GlesCanvas* gl = canvas.gles()) {
        const std::uint32_t texture = (*t.callback)(*gl, r);
        if (texture != 0) gl->draw_texture(texture, r, opacity);
    }
}

}  // namespace zem

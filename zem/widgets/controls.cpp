// Pieces the ready-made widget painters share.

#include <zem/widgets/controls.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/assets.hpp>
#include <zem/theme/color.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/text_metrics.hpp>

namespace zem {

float label_baseline(const Rect& r, float size) { return r.y + (r.h + size) / 2.0f - 2.0f; }

float label_width(Canvas& canvas, const std::optional<std::string>& label) {
    return label ? canvas.measure_text(*label, canvas.responsive_text_px(16.0f)) : 0.0f;
}

Traits control_traits(std::optional<WidgetKey> key, bool focusable, float painted_inset) {
    Traits t;
    t.region = true;
    t.focusable = focusable;
    t.cursor = cursor_pointer;
    t.key = key;
    t.painted_inset = painted_inset;
    return t;
}

void draw_label_after_mark(Canvas& canvas, const std::string& label, const Rect& r, float mark) {
    const float size = canvas.responsive_text_px(16.0f);
    canvas.draw_text(label, r.x + mark + canvas.responsive_px(12.0f), label_baseline(r, size), size,
                     theme::palette_text_primary());
}

void draw_image(Canvas& canvas, const ImageData& image, const Rect& dst, float opacity) {
    canvas.draw_image_data(std::span(image.data(), image.size()), image.width, image.height, dst, opacity);
}

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

// ---------------------------------------------------------------- window controls

void draw_window_control_icon(Canvas& canvas, WindowControl control, const Rect& rect, const Color& color) {
    static constexpr const char* names[] = {"window/minimize", "window/maximize", "window/restore", "window/close"};
    const auto index = static_cast<std::size_t>(control);
    const float side = std::max(std::round(std::min(rect.w, rect.h) * 0.44f), 8.0f);
    if (index < 4) {
        if (PicturePtr icon = theme::icon(names[index], static_cast<std::uint32_t>(side))) {
            const std::vector<std::uint8_t> tinted = theme::tint_rgba(icon->rgba, color);
            const float w = static_cast<float>(icon->width);
            const float h = static_cast<float>(icon->height);
            const float x = std::round(rect.x + (rect.w - w) / 2.0f);
            const float y = std::round(rect.y + (rect.h - h) / 2.0f);
            canvas.draw_image_data(tinted, icon->width, icon->height, Rect{x, y, w, h}, 1.0f);
            return;
        }
    }
    const float cx = rect.x + rect.w / 2.0f;
    const float cy = rect.y + rect.h / 2.0f;
    const float f = std::min(rect.w, rect.h) * 0.22f;
    switch (control) {
    case WindowControl::Minimize: canvas.draw_line(color, cx - f, cy + 0.65f * f, cx + f, cy + 0.65f * f, 2.0f); break;
    case WindowControl::Maximize: canvas.stroke_rect_radius(Rect{cx - f, cy - f, 2.0f * f, 2.0f * f}, color, 2.0f, 2.0f); break;
    case WindowControl::Restore: {
        const float s = 1.55f * f;
        canvas.stroke_rect_radius(Rect{cx - 0.45f * f, cy - f, s, s}, color, 2.0f, 2.0f);
        canvas.stroke_rect_radius(Rect{cx - f, cy - 0.45f * f, s, s}, color, 2.0f, 2.0f);
        break;
    }
    case WindowControl::Close:
        canvas.draw_line(color, cx - f, cy - f, cx + f, cy + f, 2.0f);
        canvas.draw_line(color, cx + f, cy - f, cx - f, cy + f, 2.0f);
        break;
    }
}

// ---------------------------------------------------------------- truncation

std::string truncate_to_width(Canvas& canvas, std::string_view text, float size, float max_width) {
    if (max_width <= 0.0f) return {};
    if (canvas.measure_text(text, size) <= max_width + 0.5f) return std::string(text);
    const float budget = max_width - canvas.measure_text("...", size);
    if (budget <= 0.0f) return "...";
    return prefix_fitting(canvas, text, size, nullptr, budget) + "...";
}

}  // namespace zem

#include <zem/frame/context_menu_paint.hpp>

#include <zem/theme/active.hpp>
#include <zem/widgets/builtin_strings.hpp>

#include <base/i18n.hpp>

#include <algorithm>
#include <cmath>

namespace zem {

namespace {

constexpr const char* kKeys[4] = {"context_menu.copy", "context_menu.cut", "context_menu.paste",
                                  "context_menu.delete"};

// The scale a menu box was made for: its geometry is logical lengths times
// the surface's buffer scale, so the box itself carries it.
float box_scale(const Rect& rect) { return std::max(rect.w / CONTEXT_MENU_WIDTH, 0.01f); }

}  // namespace

Rect context_menu_rect(float x, float y, float w, float h, int scale) {
    const float s = static_cast<float>(std::max(scale, 1));
    const float mw = CONTEXT_MENU_WIDTH * s, mh = CONTEXT_MENU_HEIGHT * s, margin = 4.0f * s;
    const float left = std::max(std::min(x, w * s - mw - margin), margin);
    const float top = std::max(std::min(y, h * s - mh - margin), margin);
    return Rect{left, top, mw, mh};
}

std::optional<MenuEntry> context_menu_item_at(const Rect& rect, float x, float y) {
    if (x < rect.x || x > rect.x + rect.w || y < rect.y || y > rect.y + rect.h) return std::nullopt;
    const auto row = static_cast<int>(std::floor((y - rect.y) / (rect.h / 4.0f)));
    if (row < 0 || row > 3) return std::nullopt;
    return static_cast<MenuEntry>(row);
}

void context_menu_draw(Canvas& canvas, const Rect& rect, bool has_selection, bool can_paste) {
    const auto p = theme::palette();
    const float k = box_scale(rect);
    const float row = rect.h / 4.0f;
    const Radii radii{8 * k, 8 * k, 8 * k, 8 * k};
    canvas.fill_rounded_rect(rect, p.surface, radii);
    canvas.stroke_rounded_rect(rect, p.divider, radii, k);
    const float highlight_top = rect.y + (has_selection ? 0.0f : 2.0f * row);
    canvas.fill_rounded_rect(Rect{rect.x + 4 * k, highlight_top + 2 * k, rect.w - 8 * k, row - 4 * k}, p.surface_alt,
                             Radii{6 * k, 6 * k, 6 * k, 6 * k});
    // The canvas multiplies text sizes by its own scale; the labels follow
    // the box's.
    const float label_size = 14.0f * k / std::max(canvas.scale(), 0.01f);
    const auto locale = base::i18n::current_locale();
    for (int i = 0; i < 4; ++i) {
        const float top = rect.y + static_cast<float>(i) * row;
        const bool enabled = i == 2 ? can_paste : has_selection;
        const std::string_view label = builtin_string(*locale, kKeys[i]).value_or(kKeys[i]);
        canvas.draw_text(label, rect.x + 16 * k, top + row / 2 + 5 * k, label_size,
                         enabled ? p.text_primary : p.text_secondary);
        if (i > 0) canvas.draw_line(p.divider, rect.x + 8 * k, top, rect.x + rect.w - 8 * k, top, k);
    }
}

}  // namespace zem

#include <zem/frame/context_menu_paint.hpp>

#include <zem/theme/active.hpp>
#include <zem/widgets/builtin_strings.hpp>

#include <base/i18n.hpp>

#include <algorithm>
#include <cmath>

namespace zem {

namespace {

constexpr float kRow = CONTEXT_MENU_HEIGHT / 4.0f;
constexpr const char* kKeys[4] = {"context_menu.copy", "context_menu.cut", "context_menu.paste",
                                  "context_menu.delete"};

}  // namespace

Rect context_menu_rect(float x, float y, float w, float h, int scale) {
    const float s = static_cast<float>(std::max(scale, 1));
    const float left = std::max(std::min(x, w * s - CONTEXT_MENU_WIDTH - 4.0f), 4.0f);
    const float top = std::max(std::min(y, h * s - CONTEXT_MENU_HEIGHT - 4.0f), 4.0f);
    return Rect{left, top, CONTEXT_MENU_WIDTH, CONTEXT_MENU_HEIGHT};
}

std::optional<MenuEntry> context_menu_item_at(const Rect& rect, float x, float y) {
    if (x < rect.x || x > rect.x + rect.w || y < rect.y || y > rect.y + rect.h) return std::nullopt;
    const auto row = static_cast<int>(std::floor((y - rect.y) / kRow));
    if (row < 0 || row > 3) return std::nullopt;
    return static_cast<MenuEntry>(row);
}

void context_menu_draw(Canvas& canvas, const Rect& rect, bool has_selection, bool can_paste) {
    const auto p = theme::palette();
    const Radii radii{8, 8, 8, 8};
    canvas.fill_rounded_rect(rect, p.surface, radii);
    canvas.stroke_rounded_rect(rect, p.divider, radii, 1.0f);
    const float highlight_top = rect.y + (has_selection ? 0.0f : 2.0f * kRow);
    canvas.fill_rounded_rect(Rect{rect.x + 4, highlight_top + 2, 172, kRow - 4}, p.surface_alt, Radii{6, 6, 6, 6});
    const auto locale = base::i18n::current_locale();
    for (int i = 0; i < 4; ++i) {
        const float top = rect.y + static_cast<float>(i) * kRow;
        const bool enabled = i == 2 ? can_paste : has_selection;
        const std::string_view label = builtin_string(*locale, kKeys[i]).value_or(kKeys[i]);
        canvas.draw_text(label, rect.x + 16, top + kRow / 2 + 5, 14, enabled ? p.text_primary : p.text_secondary);
        if (i > 0) canvas.draw_line(p.divider, rect.x + 8, top, rect.x + 172, top, 1.0f);
    }
}

}  // namespace zem

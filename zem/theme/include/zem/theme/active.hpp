#pragma once
// The process-wide active theme, the built-in fallback theme, and what painters
// ask of the current mode: palette, window controls and surfaces.

#include <optional>
#include <string_view>

#include <zem/core/geometry.hpp>
#include <zem/theme/color.hpp>
#include <zem/theme/surface.hpp>
#include <zem/theme/theme.hpp>

namespace zem {

// The ten named colours of one mode.
struct Palette {
    Color bg_page;
    Color surface;
    Color surface_alt;
    Color text_primary;
    Color text_secondary;
    Color accent;
    Color divider;
    Color icon;
    Color danger;
    Color danger_bg;

    // Each entry is the colour slot of the same name ("bg-page", "surface",
    // "surface-alt", "text-primary", "text-secondary", "accent", "divider",
    // "icon", "danger", "danger-bg"), or its default.
    static Palette from_slots(const theme::SlotTable& slots);

    friend bool operator==(const Palette&, const Palette&) = default;
};

namespace theme {

struct ActiveTheme {
    ThemePtr theme;
    bool dark = false;
    // Set when "default" could not be loaded and the built-in theme stands in.
    bool fallback = false;

    const Mode& mode() const { return theme->mode(dark); }
};

// The active theme and its flags; the first call loads "default", or installs
// the fallback theme with one warning line when that fails.
ActiveTheme active();

// Installs a theme, keeping the current light/dark choice; clears the fallback
// flag and the rendered-icon cache.
void set_active(Theme theme);
void set_active(ThemePtr theme);

// Selects the dark (true) or light (false) mode of the active theme.
void set_dark_mode(bool dark);

// The built-in black-and-white theme.
Theme fallback_theme();

Palette palette();
WindowControls window_controls();
inline WindowControls window_controls_copy() { return window_controls(); }

// The named surface of the current mode with its drop shadows resolved; none
// when the slot is missing or is a shadows or typography slot.
std::optional<Surface> surface(std::string_view name);

// Derived colours for painters.
Color palette_bg_page();
Color palette_surface_alt();
Color palette_text_primary();
Color palette_text_secondary();
Color palette_accent();
Color palette_divider();
Color accent_dimmed();
Color accent_a35();
Color text_primary_a06();
Color text_primary_a12();

// The warning bar every frame shows while the fallback theme stands in.
inline constexpr Color fallback_banner_colour{0.75f, 0.1f, 0.1f, 1.0f};
inline constexpr std::string_view fallback_banner_text = "zem: fallback theme — install `zem-theme-default`";

// Draws the warning bar across the top of a surface when the fallback theme is
// active: width in physical pixels, scale the buffer scale. Any canvas with
// fill_rounded_rect(Rect, Color, Radii), measure_text(text, size) and
// draw_text(text, x, baseline, size, Color) serves (zem::Canvas and both of
// its backends).
template <class CanvasT>
void draw_fallback_banner(CanvasT& canvas, float width, float scale) {
    if (!active().fallback) return;
    const float height = 24.0f * scale;
    canvas.fill_rounded_rect(Rect{0.0f, 0.0f, width, height}, fallback_banner_colour, Radii{});
    const float text_width = canvas.measure_text(fallback_banner_text, 12.0f);
    float x = (width - text_width) / 2.0f;
    if (x < 6.0f * scale) x = 6.0f * scale;
    // The text is 12 px high and the bar 24: a baseline 16 px down centres its
    // capitals in the bar.
    canvas.draw_text(fallback_banner_text, x, 16.0f * scale, 12.0f, white);
}

}  // namespace theme
}  // namespace zem

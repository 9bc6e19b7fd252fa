#pragma once
// A loaded theme: identity, font families and the light and dark modes.
// Immutable once built and shared by reference count.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <zem/text/font_registry.hpp>
#include <zem/theme/color.hpp>
#include <zem/theme/error.hpp>
#include <zem/theme/schema/raw.hpp>
#include <zem/theme/slot.hpp>

namespace zem {

// The colours of the client-side window controls.
struct WindowControls {
    Color bar_bg;
    Color icon;
    Color hover_bg;
    Color pressed_bg;
    Color close_hover_bg;
    Color close_icon;
    Color focus_ring;

    friend bool operator==(const WindowControls&, const WindowControls&) = default;
};

namespace theme {

struct FontSource {
    std::filesystem::path path;
    std::uint16_t weight = 400;
    FontStyle style = FontStyle::Normal;
};

struct FontFamily {
    std::string name;
    std::vector<std::string> fallbacks;
    std::vector<FontSource> sources;
};

using FontFamilies = std::map<std::string, FontFamily, std::less<>>;

struct Wallpaper {
    std::filesystem::path path;
    RawFit fit = RawFit::Cover;
};

struct Launcher {
    Color background;
    float border_radius = 0.0f;
};

struct Mode {
    SlotTable slots;
    std::optional<Wallpaper> wallpaper;
    std::optional<Wallpaper> lockscreen;
    std::optional<Launcher> launcher;
    // Present exactly when the document's mode has a "window_controls" object.
    std::optional<WindowControls> window_controls;

    [[nodiscard]] static std::expected<Mode, ThemeError> resolve(RawMode raw, const std::optional<std::filesystem::path>& dir);
};

struct Theme {
    std::string id;
    std::string name;
    // Absent only for the built-in fallback theme, which has no assets.
    std::optional<std::filesystem::path> dir;
    FontFamilies fonts;
    Mode light;
    Mode dark;

    const Mode& mode(bool dark_mode) const { return dark_mode ? dark : light; }
};

using ThemePtr = std::shared_ptr<const Theme>;

// Wallpaper and font paths: kept when absolute or without a theme directory,
// else joined to the directory.
std::filesystem::path resolve_theme_path(const std::string& path, const std::optional<std::filesystem::path>& dir);

FontSource resolve_font_source(const RawFontSource& raw, const std::optional<std::filesystem::path>& dir);

// The families in the form FontRegistry::build takes.
std::vector<FontFamilySources> font_family_sources(const FontFamilies& families);

// ---- search and loading ----

// ZEM_THEMES_DIR, then XDG_DATA_HOME/zem/themes (else
// HOME/.local/share/zem/themes), then /usr/share/zem/themes.
std::vector<std::filesystem::path> theme_search_paths();

// The theme of that name from the first search directory holding
// "<name>/theme.json".
[[nodiscard]] std::expected<Theme, ThemeError> load_theme(std::string_view name);

// The theme whose "theme.json" lies in dir.
[[nodiscard]] std::expected<Theme, ThemeError> load_theme_file(const std::filesystem::path& dir);

}  // namespace theme
}  // namespace zem

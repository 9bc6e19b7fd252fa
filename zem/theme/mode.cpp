#include <zem/theme/theme.hpp>

namespace zem::theme {

std::filesystem::path resolve_theme_path(const std::string& path, const std::optional<std::filesystem::path>& dir) {
    if (!dir || (!path.empty() && path.front() == '/')) return std::filesystem::path(path);
    return *dir / path;
}

FontSource resolve_font_source(const RawFontSource& raw, const std::optional<std::filesystem::path>& dir) {
    return FontSource{resolve_theme_path(raw.path, dir), raw.weight, raw.style};
}

std::vector<FontFamilySources> font_family_sources(const FontFamilies& families) {
    std::vector<FontFamilySources> out;
    out.reserve(families.size());
    for (const auto& [key, family] : families) {
        FontFamilySources f;
        f.key = key;
        f.fallbacks = family.fallbacks;
        for (const FontSource& s : family.sources) f.sources.push_back(FontFileSource{s.path.string(), s.weight, s.style});
        out.push_back(std::move(f));
    }
    return out;
}

namespace {

std::expected<Color, ThemeError> control_colour(const std::optional<std::string>& text, Color fallback) {
    if (!text) return fallback;
    auto parsed = parse_colour(*text);
    if (!parsed) return std::unexpected(ThemeError::invalid_color(parsed.error()));
    return *parsed;
}

}  // namespace

std::expected<Mode, ThemeError> Mode::resolve(RawMode raw, const std::optional<std::filesystem::path>& dir) {
    Mode mode;
    for (auto& [name, slot] : raw.slots) mode.slots.emplace(name, Slot::from_raw(std::move(slot)));

    auto wallpaper = [&](const std::optional<RawWallpaper>& w) -> std::optional<Wallpaper> {
        if (!w) return std::nullopt;
        return Wallpaper{resolve_theme_path(w->path, dir), w->fit};
    };
    mode.wallpaper = wallpaper(raw.wallpaper);
    mode.lockscreen = wallpaper(raw.lockscreen);

    if (raw.launcher) {
        auto bg = parse_colour(raw.launcher->background);
        if (!bg) return std::unexpected(ThemeError::invalid_color(bg.error()));
        mode.launcher = Launcher{*bg, raw.launcher->border_radius};
    }

    if (raw.window_controls) {
        const RawWindowControls& wc = *raw.window_controls;
        WindowControls out;
        struct Entry {
            const std::optional<std::string>& text;
            Color fallback;
            Color& target;
        };
        // Checked in this order, so the first bad key is the one reported.
        const Entry entries[] = {
            {wc.bar_bg, white, out.bar_bg},
            {wc.icon, black, out.icon},
            {wc.hover_bg, Color{0.0f, 0.0f, 0.0f, 0.08f}, out.hover_bg},
            {wc.pressed_bg, Color{0.0f, 0.0f, 0.0f, 0.12f}, out.pressed_bg},
            {wc.close_hover_bg, Color{0.92f, 0.18f, 0.18f, 0.9f}, out.close_hover_bg},
            {wc.close_icon, white, out.close_icon},
            {wc.focus_ring, Color{4.0f / 255.0f, 217.0f / 255.0f, 254.0f / 255.0f, 1.0f}, out.focus_ring},
        };
        for (const Entry& e : entries) {
            auto c = control_colour(e.text, e.fallback);
            if (!c) return std::unexpected(c.error());
            e.target = *c;
        }
        mode.window_controls = out;
    }
    return mode;
}

}  // namespace zem::theme

#include <zem/theme/active.hpp>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>

#include <zem/theme/assets.hpp>

namespace zem {

using theme::black;
using theme::white;
using theme::with_alpha;

Palette Palette::from_slots(const theme::SlotTable& slots) {
    auto get = [&](std::string_view name, Color fallback) {
        return theme::colour_slot(slots, name).value_or(fallback);
    };
    Palette p;
    p.bg_page = get("bg-page", white);
    p.surface = get("surface", white);
    p.surface_alt = get("surface-alt", white);
    p.text_primary = get("text-primary", black);
    p.text_secondary = get("text-secondary", Color{0.0f, 0.0f, 0.0f, 0.6f});
    p.accent = get("accent", Color{0.0f, 206.0f / 255.0f, 177.0f / 255.0f, 1.0f});
    p.divider = get("divider", Color{0.0f, 0.0f, 0.0f, 0.08f});
    p.icon = get("icon", black);
    p.danger = get("danger", Color{168.0f / 255.0f, 0.0f, 16.0f / 255.0f, 1.0f});
    p.danger_bg = get("danger-bg", Color{1.0f, 0.85f, 0.88f, 1.0f});
    return p;
}

namespace theme {

namespace {

struct ActiveSlot {
    std::shared_mutex lock;
    std::optional<ActiveTheme> state;
    bool poisoned = false;  // written only under the write lock
};

ActiveSlot& slot() {
    static ActiveSlot s;
    return s;
}

[[noreturn]] void stop_poisoned() {
    std::fputs("theme: ACTIVE poisoned\n", stderr);
    std::fflush(stderr);
    std::_Exit(101);
}

// Runs f under the write lock; a failure escaping f poisons the slot.
template <class F>
auto with_write_lock(F&& f) {
    ActiveSlot& s = slot();
    std::unique_lock guard(s.lock);
    if (s.poisoned) stop_poisoned();
    try {
        return f(s);
    } catch (...) {
        s.poisoned = true;
        throw;
    }
}

void write_line(const std::string& line) {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
}

Mode fallback_mode(bool dark) {
    const Color fg = dark ? white : black;
    const Color bg = dark ? black : white;
    const float alt = dark ? 0.1f : 0.95f;
    const float ink = dark ? 1.0f : 0.0f;
    Mode mode;
    auto put = [&](const char* name, Color c) { mode.slots.emplace(name, Slot{c, {}}); };
    put("bg-page", bg);
    put("surface", bg);
    put("surface-alt", Color{alt, alt, alt, 1.0f});
    put("text-primary", fg);
    put("text-secondary", Color{ink, ink, ink, 0.6f});
    put("accent", fg);
    put("divider", Color{ink, ink, ink, 0.1f});
    put("icon", fg);
    return mode;
}

}  // namespace

Theme fallback_theme() {
    Theme t;
    t.id = "fallback";
    t.name = "Fallback (B/W)";
    t.light = fallback_mode(false);
    t.dark = fallback_mode(true);
    return t;
}

ActiveTheme active() {
    ActiveSlot& s = slot();
    {
        std::shared_lock guard(s.lock);
        if (s.poisoned) stop_poisoned();
        if (s.state) return *s.state;
    }
    return with_write_lock([](ActiveSlot& s) -> ActiveTheme {
        if (s.state) return *s.state;
        // Loaded under the write lock so that "default" is loaded once however
        // many threads ask at the same time.
        auto loaded = load_theme("default");
        if (loaded) {
            s.state = ActiveTheme{std::make_shared<const Theme>(std::move(*loaded)), false, false};
        } else {
            write_line("[zem] default theme not found (" + loaded.error().display() +
                       "); using embedded B/W fallback. Install the `zem-theme-default` Debian package "
                       "(Provides: zem-theme) or set `ZEM_THEMES_DIR` to a directory containing "
                       "`default/theme.json` to get the real theme back.");
            s.state = ActiveTheme{std::make_shared<const Theme>(fallback_theme()), false, true};
        }
        return *s.state;
    });
}

void set_active(ThemePtr theme) {
    ThemePtr previous;  // released after the lock, outside the critical section
    with_write_lock([&](ActiveSlot& s) {
        const bool dark = s.state ? s.state->dark : false;
        if (s.state) previous = std::move(s.state->theme);
        s.state = ActiveTheme{std::move(theme), dark, false};
        // Lock order: the slot first, then the icon cache.
        clear_icon_cache();
        return 0;
    });
}

void set_active(Theme theme) { set_active(std::make_shared<const Theme>(std::move(theme))); }

void set_dark_mode(bool dark) {
    (void)active();
    with_write_lock([&](ActiveSlot& s) {
        s.state->dark = dark;
        return 0;
    });
}

Palette palette() {
    ActiveTheme a = active();
    return Palette::from_slots(a.mode().slots);
}

WindowControls window_controls() {
    ActiveTheme a = active();
    const Mode& mode = a.mode();
    if (mode.window_controls) return *mode.window_controls;
    const Palette p = Palette::from_slots(mode.slots);
    return WindowControls{
        with_alpha(p.surface, 1.0f),
        p.icon,
        p.surface_alt,
        p.divider,
        Color{0.92f, 0.18f, 0.18f, 0.9f},
        white,
        p.accent,
    };
}

std::optional<Surface> surface(std::string_view name) {
    ActiveTheme a = active();
    const Mode& mode = a.mode();
    auto found = surface_from_slot(mode.slots, name);
    if (!found) return std::nullopt;
    Surface out;
    out.fill = std::move(found->fill);
    out.inset_shadows = std::move(found->inset_shadows);
    if (const auto* list = found->shadows.list()) {
        out.shadows = *list;
    } else if (const auto* ref = found->shadows.name()) {
        auto it = mode.slots.find(*ref);
        if (it != mode.slots.end()) {
            if (const auto* shadows = it->second.shadows()) out.shadows = *shadows;
        }
    }
    return out;
}

Color palette_bg_page() { return palette().bg_page; }
Color palette_surface_alt() { return palette().surface_alt; }
Color palette_text_primary() { return palette().text_primary; }
Color palette_text_secondary() { return palette().text_secondary; }
Color palette_accent() { return palette().accent; }
Color palette_divider() { return palette().divider; }

Color accent_dimmed() {
    Color a = palette().accent;
    return Color{a.r * 0.55f, a.g * 0.55f, a.b * 0.55f, a.a};
}

Color accent_a35() { return with_alpha(palette().accent, 0.35f); }
Color text_primary_a06() { return with_alpha(palette().text_primary, 0.06f); }
Color text_primary_a12() { return with_alpha(palette().text_primary, 0.12f); }

}  // namespace theme
}  // namespace zem

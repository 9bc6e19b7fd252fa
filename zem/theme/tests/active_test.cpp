#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <zem/canvas/canvas.hpp>
#include <zem/theme/active.hpp>
#include <zem/theme/assets.hpp>

#include "theme_test_util.hpp"

using namespace zem::theme;
using theme_test::ScopedEnv;
using theme_test::TempDir;
using theme_test::write_file;
using zem::Color;

namespace {

// Records what the banner asks of a canvas; text is 7 px per byte.
struct RecordingCanvas {
    struct Fill {
        zem::Rect rect;
        Color colour;
        zem::Radii radii;
    };
    struct Text {
        std::string text;
        float x, baseline, size;
        Color colour;
    };
    std::vector<Fill> fills;
    std::vector<Text> texts;

    void fill_rounded_rect(const zem::Rect& r, const Color& c, const zem::Radii& radii) { fills.push_back({r, c, radii}); }
    float measure_text(std::string_view text, float) { return 7.0f * static_cast<float>(text.size()); }
    void draw_text(std::string_view text, float x, float baseline, float size, const Color& c) {
        texts.push_back({std::string(text), x, baseline, size, c});
    }
};

// The banner also compiles against the toolkit's own canvas.
[[maybe_unused]] const auto banner_on_canvas = &draw_fallback_banner<zem::Canvas>;

Mode mode_with(std::initializer_list<std::pair<const char*, Slot>> slots) {
    Mode m;
    for (const auto& [name, slot] : slots) m.slots.emplace(name, slot);
    return m;
}

Slot colour(Color c) { return Slot{c, {}}; }

std::string escape_regex(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

const std::string fallback_warning =
    "[zem] default theme not found (theme `default` not found in any search path); using embedded B/W fallback. "
    "Install the `zem-theme-default` Debian package (Provides: zem-theme) or set `ZEM_THEMES_DIR` to a directory "
    "containing `default/theme.json` to get the real theme back.\n";

bool system_default_installed() {
    std::error_code ec;
    return std::filesystem::exists("/usr/share/zem/themes/default/theme.json", ec);
}

class ActiveThemeFirstUse : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    TempDir tmp;
};

}  // namespace

TEST_F(ActiveThemeFirstUse, MissingDefaultInstallsTheFallbackWithOneWarningAndABanner) {
    if (system_default_installed()) GTEST_SKIP() << "a system-wide default theme is installed";
    ScopedEnv a("ZEM_THEMES_DIR", (tmp / "none").string());
    ScopedEnv b("XDG_DATA_HOME", (tmp / "none").string());
    EXPECT_EXIT(
        {
            int bad = 0;
            ActiveTheme first = active();
            ActiveTheme again = active();  // no second load, no second line
            bad |= !(first.fallback && !first.dark && first.theme->id == "fallback" && again.theme == first.theme);
            bad |= (palette().danger != Color{168.0f / 255.0f, 0.0f, 16.0f / 255.0f, 1.0f}) << 1;

            RecordingCanvas wide;
            draw_fallback_banner(wide, 800.0f, 2.0f);
            const float text_w = 7.0f * static_cast<float>(fallback_banner_text.size());
            bad |= !(wide.fills.size() == 1 && wide.fills[0].rect == zem::Rect{0, 0, 800, 48} &&
                     wide.fills[0].colour == Color{0.75f, 0.1f, 0.1f, 1.0f} && wide.fills[0].radii == zem::Radii{})
                   << 2;
            bad |= !(wide.texts.size() == 1 && wide.texts[0].text == fallback_banner_text &&
                     wide.texts[0].x == (800.0f - text_w) / 2.0f && wide.texts[0].size == 12.0f &&
                     wide.texts[0].colour == Color{1, 1, 1, 1} && wide.texts[0].baseline > 12.0f &&
                     wide.texts[0].baseline < 48.0f)
                   << 3;
            RecordingCanvas narrow;
            draw_fallback_banner(narrow, 100.0f, 2.0f);
            bad |= !(narrow.texts.size() == 1 && narrow.texts[0].x == 12.0f) << 4;

            // On the software canvas: a red bar 24 px high with white text inside it.
            zem::Canvas canvas = zem::Canvas::new_software(600, 40);
            draw_fallback_banner(canvas, 600.0f, 1.0f);
            const zem::SoftwareCanvas& sw = *canvas.software();
            const auto bar = sw.pixel(1, 1);
            bad |= !(bar[0] == 191 && bar[1] == 26 && bar[2] == 26 && bar[3] == 255) << 8;
            bad |= (sw.pixel(1, 30)[3] != 0) << 9;
            int white = 0;
            for (std::uint32_t y = 0; y < 24; ++y)
                for (std::uint32_t x = 0; x < 600; ++x) white += sw.pixel(x, y)[1] > 200;
            int below = 0;
            for (std::uint32_t y = 24; y < 40; ++y)
                for (std::uint32_t x = 0; x < 600; ++x) below += sw.pixel(x, y)[3] != 0;
            bad |= !(white > 50 && below == 0) << 10;

            // Dark mode keeps the fallback; installing a theme clears it.
            set_dark_mode(true);
            bad |= !(active().fallback && active().dark) << 5;
            Theme real = fallback_theme();
            real.id = "real";
            set_active(std::move(real));
            ActiveTheme now = active();
            bad |= !(!now.fallback && now.dark && now.theme->id == "real") << 6;
            RecordingCanvas after;
            draw_fallback_banner(after, 800.0f, 1.0f);
            bad |= !(after.fills.empty() && after.texts.empty()) << 7;
            std::exit(bad);
        },
        ::testing::ExitedWithCode(0), "^" + escape_regex(fallback_warning) + "$");
}

TEST_F(ActiveThemeFirstUse, WorkingDefaultLoadsSilently) {
    write_file(tmp / "themes/default/theme.json",
               R"J({"theme":{"id":"default","name":"D"},"modes":{"light":{},"dark":{}}})J");
    ScopedEnv a("ZEM_THEMES_DIR", (tmp / "themes").string());
    EXPECT_EXIT(
        {
            ActiveTheme a = active();
            RecordingCanvas c;
            draw_fallback_banner(c, 800.0f, 1.0f);
            std::exit(a.fallback || a.dark || a.theme->id != "default" || !c.fills.empty() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "^$");
}

TEST_F(ActiveThemeFirstUse, DarkModeBeforeAnythingElseLoadsFirst) {
    write_file(tmp / "themes/default/theme.json",
               R"J({"theme":{"id":"default","name":"D"},"modes":{"light":{},"dark":{}}})J");
    ScopedEnv a("ZEM_THEMES_DIR", (tmp / "themes").string());
    EXPECT_EXIT(
        {
            set_dark_mode(true);
            ActiveTheme a = active();
            std::exit(a.dark && !a.fallback && a.theme->id == "default" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

TEST(ActiveTheme, PaletteDefaultsAndDerivedColours) {
    Theme t = fallback_theme();
    t.light = mode_with({
        {"surface", colour(Color{0.2f, 0.2f, 0.2f, 0.5f})},
        {"accent", colour(Color{0.2f, 0.4f, 0.6f, 0.8f})},
        {"text-primary", colour(Color{0.1f, 0.1f, 0.1f, 1.0f})},
        {"danger", Slot{zem::Paint(zem::LinearGradient{}), {}}},
    });
    set_active(std::move(t));
    set_dark_mode(false);

    const zem::Palette p = palette();
    EXPECT_EQ(p.bg_page, (Color{1, 1, 1, 1}));
    EXPECT_EQ(p.text_secondary, (Color{0, 0, 0, 0.6f}));
    EXPECT_EQ(p.accent, (Color{0.2f, 0.4f, 0.6f, 0.8f}));
    EXPECT_EQ(p.divider, (Color{0, 0, 0, 0.08f}));
    // A "danger" slot that is not a colour is ignored.
    EXPECT_EQ(p.danger, (Color{168.0f / 255.0f, 0.0f, 16.0f / 255.0f, 1.0f}));
    EXPECT_EQ(p.danger_bg, (Color{1.0f, 0.85f, 0.88f, 1.0f}));

    // No window controls in the mode: they follow the palette.
    const zem::WindowControls wc = window_controls();
    EXPECT_EQ(wc.bar_bg, (Color{0.2f, 0.2f, 0.2f, 1.0f}));
    EXPECT_EQ(wc.icon, p.icon);
    EXPECT_EQ(wc.hover_bg, p.surface_alt);
    EXPECT_EQ(wc.pressed_bg, p.divider);
    EXPECT_EQ(wc.close_hover_bg, (Color{0.92f, 0.18f, 0.18f, 0.9f}));
    EXPECT_EQ(wc.close_icon, (Color{1, 1, 1, 1}));
    EXPECT_EQ(wc.focus_ring, p.accent);

    EXPECT_EQ(accent_dimmed(), (Color{0.2f * 0.55f, 0.4f * 0.55f, 0.6f * 0.55f, 0.8f}));
    EXPECT_EQ(accent_a35(), (Color{0.2f, 0.4f, 0.6f, 0.35f}));
    EXPECT_EQ(text_primary_a06(), (Color{0.1f, 0.1f, 0.1f, 0.06f}));
    EXPECT_EQ(text_primary_a12(), (Color{0.1f, 0.1f, 0.1f, 0.12f}));

    // The fallback theme's dark mode.
    set_active(fallback_theme());
    set_dark_mode(true);
    EXPECT_EQ(palette().bg_page, (Color{0, 0, 0, 1}));
    EXPECT_EQ(palette().surface_alt, (Color{0.1f, 0.1f, 0.1f, 1}));
    EXPECT_EQ(palette().divider, (Color{1, 1, 1, 0.1f}));
    set_dark_mode(false);
}

TEST(ActiveTheme, SurfacesResolveTheirDropShadows) {
    const zem::Shadow lift{0, 2, 8, 0, Color{0, 0, 0, 0.3f}, zem::BlendMode::Normal};
    const zem::Shadow well{0, 1, 2, 0, Color{0, 0, 0, 0.2f}, zem::BlendMode::Multiply};
    const zem::Paint fill(Color{1, 1, 1, 1});
    Theme t = fallback_theme();
    t.light = mode_with({
        {"lift", Slot{Slot::Shadows{lift}, {}}},
        {"plain", colour(Color{0.5f, 0.5f, 0.5f, 1})},
        {"card", Slot{SlotSurface{fill, ShadowsRef{std::string("lift")}, {well}}, {}}},
        {"card-own", Slot{SlotSurface{fill, ShadowsRef{std::vector<zem::Shadow>{well, lift}}, {}}, {}}},
        {"card-bad-ref", Slot{SlotSurface{fill, ShadowsRef{std::string("plain")}, {}}, {}}},
        {"card-no-ref", Slot{SlotSurface{fill, ShadowsRef{std::string("absent")}, {}}, {}}},
        {"grad", Slot{zem::Paint(zem::LinearGradient{{}, 45.0f, zem::GradientSpace::Srgb}), {}}},
        {"type", Slot{Typography{}, {}}},
    });
    set_active(std::move(t));
    set_dark_mode(false);

    struct Case {
        const char* name;
        std::optional<zem::Surface> want;
    };
    const std::vector<Case> cases = {
        {"card", zem::Surface{fill, {lift}, {well}}},
        {"card-own", zem::Surface{fill, {well, lift}, {}}},
        {"card-bad-ref", zem::Surface{fill, {}, {}}},
        {"card-no-ref", zem::Surface{fill, {}, {}}},
        {"plain", zem::Surface{zem::Paint(Color{0.5f, 0.5f, 0.5f, 1}), {}, {}}},
        {"grad", zem::Surface{zem::Paint(zem::LinearGradient{{}, 45.0f, zem::GradientSpace::Srgb}), {}, {}}},
        {"lift", std::nullopt},
        {"type", std::nullopt},
        {"absent", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(surface(c.name), c.want) << c.name;
}

TEST(ActiveTheme, ModeAndThemeSwitchesFromManyThreadsStayConsistent) {
    auto themed = [](const char* id, float light_grey, float dark_grey) {
        Theme t = fallback_theme();
        t.id = id;
        t.light = mode_with({{"surface", colour(Color{light_grey, light_grey, light_grey, 1})},
                             {"accent", colour(Color{light_grey, 0, 0, 1})}});
        t.dark = mode_with({{"surface", colour(Color{dark_grey, dark_grey, dark_grey, 1})},
                            {"accent", colour(Color{dark_grey, 0, 0, 1})}});
        return std::make_shared<const Theme>(std::move(t));
    };
    const ThemePtr a = themed("a", 0.9f, 0.1f);
    const ThemePtr b = themed("b", 0.8f, 0.2f);
    set_active(a);
    ActiveTheme held = active();

    std::atomic<bool> stop{false};
    std::atomic<int> inconsistent{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < 2000; ++i) {
                if (w == 0) set_dark_mode(i % 2 == 0);
                else set_active(i % 2 == 0 ? a : b);
            }
        });
    }
    for (int r = 0; r < 4; ++r) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                // Every palette comes from one mode of one theme, never a mix.
                const zem::Palette p = palette();
                if (p.surface.r != p.accent.r) inconsistent.fetch_add(1);
                const float g = p.surface.r;
                if (g != 0.9f && g != 0.1f && g != 0.8f && g != 0.2f) inconsistent.fetch_add(1);
            }
        });
    }
    threads[0].join();
    threads[1].join();
    stop = true;
    for (std::size_t i = 2; i < threads.size(); ++i) threads[i].join();
    EXPECT_EQ(inconsistent.load(), 0);
    // A theme replaced meanwhile stays valid for whoever still holds it.
    EXPECT_EQ(held.theme->id, "a");
    EXPECT_EQ(colour_slot(held.theme->light.slots, "surface"), (Color{0.9f, 0.9f, 0.9f, 1}));
    set_dark_mode(false);
}

// The project's shipped theme: it loads, meets contrast for text, and carries
// every asset the wizard and the toolkit ask for.

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/theme/active.hpp>
#include <zem/theme/assets.hpp>
#include <zem/text/font_registry.hpp>

#include "theme_test_util.hpp"

using namespace zem::theme;
using theme_test::ScopedEnv;
using theme_test::TempDir;

namespace {

const std::filesystem::path shipped_themes = std::filesystem::path(TAVIX_SOURCE_DIR) / "themes";

double luminance(zem::Color c) {
    auto lin = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
}

// Contrast of an opaque or translucent foreground laid over an opaque background.
double contrast(zem::Color fg, zem::Color bg) {
    const zem::Color over{fg.r * fg.a + bg.r * (1 - fg.a), fg.g * fg.a + bg.g * (1 - fg.a),
                          fg.b * fg.a + bg.b * (1 - fg.a), 1};
    double a = luminance(over), b = luminance(bg);
    if (a < b) std::swap(a, b);
    return (a + 0.05) / (b + 0.05);
}

const std::vector<std::string> wanted_icons = {
    "window/close",      "window/restore",     "window/minimize",   "window/maximize",  "general/left",
    "general/right",     "actions/visible",    "actions/invisible", "actions/delete",   "actions/add",
    "hardware/harddisk", "hardware/harddrive", "hardware/sdcard",   "hardware/usb",     "hardware/chip",
    "safety/padlock",    "safety/fingerprint", "feedback/success",  "feedback/ok",      "features/clock",
    "navigation/full-screen-expand",
};

}  // namespace

TEST(ShippedDefaultTheme, LoadsWithLegibleTextAndEveryAsset) {
    ScopedEnv themes("ZEM_THEMES_DIR", shipped_themes.string());
    auto loaded = load_theme("default");
    ASSERT_TRUE(loaded.has_value()) << loaded.error().display();
    EXPECT_EQ(loaded->id, "default");
    EXPECT_EQ(loaded->dir, shipped_themes / "default");
    set_active(std::move(*loaded));

    for (bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        set_dark_mode(dark);
        const zem::Palette p = palette();
        // Every palette entry is the theme's own, none a built-in default.
        const Mode& mode = active().mode();
        for (const char* name : {"bg-page", "surface", "surface-alt", "text-primary", "text-secondary", "accent",
                                 "divider", "icon", "danger", "danger-bg"})
            EXPECT_TRUE(colour_slot(mode.slots, name).has_value()) << name;
        for (zem::Color bg : {p.bg_page, p.surface, p.surface_alt}) {
            EXPECT_GE(contrast(p.text_primary, bg), 4.5);
            EXPECT_GE(contrast(p.text_secondary, bg), 4.5);
        }
        // Filled buttons put text-primary on accent; check marks put bg-page on it.
        EXPECT_GE(contrast(p.text_primary, p.accent), 4.5);
        EXPECT_GE(contrast(p.bg_page, p.accent), 3.0);
        EXPECT_GE(contrast(p.danger, p.danger_bg), 4.5);
        EXPECT_TRUE(surface("surface-slider-track").has_value());
        EXPECT_TRUE(surface("surface-slider-fill").has_value());

        EXPECT_TRUE(logo_path().has_value());
        EXPECT_TRUE(logo_square_path().has_value());
        for (const std::string& name : wanted_icons) {
            zem::PicturePtr picture = icon(name, 48);
            ASSERT_NE(picture, nullptr) << name;
            EXPECT_EQ(std::max(picture->width, picture->height), 48u) << name;
        }
        for (auto path : {*logo_path(), *logo_square_path()}) {
            std::ifstream in(path, std::ios::binary);
            std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_NE(rasterize_svg(bytes, 128), nullptr) << path;
        }
    }
    set_dark_mode(false);

    // The wizard asks for the family keyed "sora".
    const ThemePtr theme = active().theme;
    ASSERT_TRUE(theme->fonts.contains("sora"));
    const FontFamily& sora = theme->fonts.at("sora");
    ASSERT_FALSE(sora.sources.empty());
    bool has_regular = false, has_bold = false;
    for (const FontSource& s : sora.sources) {
        has_regular |= s.weight == 400;
        has_bold |= s.weight == 700;
    }
    EXPECT_TRUE(has_regular && has_bold);
    if (!std::filesystem::exists("/usr/share/fonts/opentype/sora")) GTEST_SKIP() << "fonts-sora is not installed";
    for (const FontSource& s : sora.sources) EXPECT_TRUE(std::filesystem::is_regular_file(s.path)) << s.path;
}

TEST(ShippedDefaultTheme, InstallPutsItUnderTheSystemThemeDirectory) {
    TempDir dest;
    const std::string command = "DESTDIR='" + dest.path().string() + "' cmake --install '" TAVIX_BINARY_DIR
                                "' --component zem-theme-default >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto installed = dest / "usr/share/zem/themes/default";
    ASSERT_TRUE(std::filesystem::is_regular_file(installed / "theme.json"));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(shipped_themes / "default")) {
        if (!entry.is_regular_file()) continue;
        const auto rel = std::filesystem::relative(entry.path(), shipped_themes / "default");
        EXPECT_TRUE(std::filesystem::is_regular_file(installed / rel)) << rel;
    }
    ScopedEnv themes("ZEM_THEMES_DIR", (dest / "usr/share/zem/themes").string());
    auto loaded = load_theme("default");
    EXPECT_TRUE(loaded.has_value()) << loaded.error().display();
}

TEST(ShippedDefaultTheme, SoraFamilyBuildsIntoTheFontRegistry) {
    if (!std::filesystem::exists("/usr/share/fonts/opentype/sora/Sora-Regular.otf"))
        GTEST_SKIP() << "fonts-sora is not installed";
    ScopedEnv themes("ZEM_THEMES_DIR", shipped_themes.string());
    auto loaded = load_theme("default");
    ASSERT_TRUE(loaded.has_value()) << loaded.error().display();

    // A missing file is skipped with one line; the family's other files load.
    FontFamilies families = loaded->fonts;
    families.at("sora").sources.insert(families.at("sora").sources.begin(),
                                       FontSource{"/nonexistent/Sora-Medium.otf", 500, zem::FontStyle::Italic});
    testing::internal::CaptureStderr();
    const zem::FontRegistry registry = zem::FontRegistry::build(font_family_sources(families));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[zem] skipping font /nonexistent/Sora-Medium.otf (weight 500, Italic): No such file or directory\n");
    for (std::uint16_t weight : {400, 700}) {
        auto face = registry.lookup("sora", weight, zem::FontStyle::Normal);
        ASSERT_TRUE(face.has_value()) << weight;
        EXPECT_EQ(face->face->family_name(), "Sora");
    }
}

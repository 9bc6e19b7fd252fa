#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include <zem/theme/active.hpp>
#include <zem/theme/assets.hpp>

#include "theme_test_util.hpp"

using namespace zem::theme;
using theme_test::svg_rect;
using theme_test::TempDir;
using theme_test::write_file;

namespace {

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> gzip(const std::string& s) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> out(compressBound(s.size()) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data()));
    z.avail_in = static_cast<uInt>(s.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Installs a theme whose directory is dir.
void install_theme_at(const std::filesystem::path& dir) {
    Theme t = fallback_theme();
    t.id = "assets";
    t.dir = dir;
    set_active(std::move(t));
}

}  // namespace

TEST(ThemeAssets, RasterisedSizeFollowsTheLargerSide) {
    struct Case {
        std::string name;
        std::vector<std::uint8_t> svg;
        std::uint32_t size;
        std::uint32_t w, h;  // 0 × 0: refused
    };
    const std::string viewbox_only =
        R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 20 10"><rect width="20" height="10"/></svg>)";
    const std::string no_size = R"(<svg xmlns="http://www.w3.org/2000/svg"><rect width="5" height="5"/></svg>)";
    const std::vector<Case> cases = {
        {"wide", bytes_of(svg_rect(200, 100)), 48, 48, 24},
        {"tall", bytes_of(svg_rect(100, 300)), 48, 16, 48},
        {"rounding up", bytes_of(svg_rect(30, 20)), 16, 16, 11},
        {"viewBox only", bytes_of(viewbox_only), 40, 40, 20},
        {"no size at all", bytes_of(no_size), 32, 32, 32},
        {"gzip", gzip(svg_rect(200, 100)), 48, 48, 24},
        {"thin line keeps one row", bytes_of(svg_rect(1000, 1)), 100, 100, 1},
        {"size zero", bytes_of(svg_rect(10, 10)), 0, 0, 0},
        {"not svg", bytes_of("plain text"), 48, 0, 0},
        {"empty", {}, 48, 0, 0},
        // The buffer, not the size, is bounded: 4097 × 4097 × 4 bytes is above
        // 64 MiB, 8000 × 80 × 4 is far below.
        {"buffer above bound", bytes_of(svg_rect(10, 10)), 4097, 0, 0},
        {"long thin icon", bytes_of(svg_rect(100, 1)), 8000, 8000, 80},
    };
    for (const Case& c : cases) {
        zem::PicturePtr p = rasterize_svg(c.svg, c.size);
        if (c.w == 0) {
            EXPECT_EQ(p, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(p->width, c.w) << c.name;
        EXPECT_EQ(p->height, c.h) << c.name;
        EXPECT_EQ(p->rgba.size(), std::size_t{c.w} * c.h * 4) << c.name;
    }
}

TEST(ThemeAssets, RasterisedPixelsAreStraightRgba) {
    // Half-transparent red: premultiplied it would read (128, 0, 0, 128).
    auto p = rasterize_svg(bytes_of(svg_rect(4, 4, "#ff0000", "0.5")), 4);
    ASSERT_NE(p, nullptr);
    const std::uint8_t* px = &p->rgba[(1 * 4 + 1) * 4];
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 0);
    EXPECT_EQ(px[2], 0);
    EXPECT_NEAR(px[3], 128, 1);

    auto blue = rasterize_svg(bytes_of(svg_rect(4, 4, "#0000ff")), 8);
    ASSERT_NE(blue, nullptr);
    EXPECT_EQ((std::vector<std::uint8_t>(blue->rgba.begin(), blue->rgba.begin() + 4)),
              (std::vector<std::uint8_t>{0, 0, 255, 255}));
}

TEST(ThemeAssets, TintKeepsOnlyTheSourceAlpha) {
    struct Case {
        std::vector<std::uint8_t> in;
        zem::Color tint;
        std::vector<std::uint8_t> want;
    };
    const std::vector<Case> cases = {
        {{9, 9, 9, 255}, {1, 0, 0, 0.5f}, {255, 0, 0, 127}},
        {{0, 0, 0, 128}, {2, -1, 0.5f, 1}, {255, 0, 127, 128}},
        {{1, 2, 3, 255, 4, 5, 6}, {0, 1, 0, 1}, {0, 255, 0, 255}},
        {{0, 0, 0, 0, 50, 50, 50, 51}, {1, 1, 1, 3}, {255, 255, 255, 0, 255, 255, 255, 51}},
        {{}, {1, 1, 1, 1}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(tint_rgba(c.in, c.tint), c.want);
}

TEST(ThemeAssets, IconLookupPrefersFilledAndReachesSubfolders) {
    TempDir tmp;
    write_file(tmp / "icons/catalogue/filled/both.svg", svg_rect(10, 10));
    write_file(tmp / "icons/catalogue/line/both.svg", svg_rect(20, 10));
    write_file(tmp / "icons/catalogue/line/only-line.svg", svg_rect(10, 10));
    write_file(tmp / "icons/catalogue/filled/actions/add.svg", svg_rect(10, 10));
    std::filesystem::create_directories(tmp / "icons/catalogue/filled/dir.svg");
    install_theme_at(tmp.path());

    EXPECT_EQ(icon_path("both"), tmp / "icons/catalogue/filled/both.svg");
    EXPECT_EQ(icon_path("only-line"), tmp / "icons/catalogue/line/only-line.svg");
    EXPECT_EQ(icon_path("actions/add"), tmp / "icons/catalogue/filled/actions/add.svg");
    EXPECT_EQ(icon_path("dir"), std::nullopt);
    EXPECT_EQ(icon_path("absent"), std::nullopt);

    // The filled icon is square, the line one is not.
    auto both = icon("both", 24);
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->height, 24u);

    set_active(fallback_theme());
    EXPECT_EQ(icon_path("both"), std::nullopt);
    EXPECT_EQ(icon("both", 24), nullptr);
}

TEST(ThemeAssets, IconsAreCachedPerSizeUntilTheThemeChanges) {
    TempDir tmp;
    write_file(tmp / "icons/catalogue/filled/a.svg", svg_rect(10, 10));
    write_file(tmp / "icons/catalogue/filled/broken.svg", "not an svg");
    install_theme_at(tmp.path());

    auto a24 = icon("a", 24);
    auto a48 = icon("a", 48);
    ASSERT_NE(a24, nullptr);
    ASSERT_NE(a48, nullptr);
    EXPECT_EQ(a24->width, 24u);
    EXPECT_EQ(a48->width, 48u);
    EXPECT_EQ(icon("a", 24), a24);  // shared, not rendered again
    EXPECT_EQ(icon("a", 48), a48);

    // Failures are not cached and leave the cache as it was.
    EXPECT_EQ(icon("a", 0), nullptr);
    EXPECT_EQ(icon("broken", 24), nullptr);
    EXPECT_EQ(icon("a", 24), a24);

    // A mode switch keeps the cache; installing a theme empties it.
    set_dark_mode(true);
    EXPECT_EQ(icon("a", 24), a24);
    set_dark_mode(false);
    install_theme_at(tmp.path());
    auto again = icon("a", 24);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, a24);
    EXPECT_NE(icon("a", 48), a48);

    // A file fixed after a failure is picked up on the next call.
    write_file(tmp / "icons/catalogue/filled/broken.svg", svg_rect(10, 10));
    EXPECT_NE(icon("broken", 24), nullptr);
}

TEST(ThemeAssets, BrandingPrefersTheCurrentModeThenTheOtherThenShared) {
    TempDir tmp;
    write_file(tmp / "branding/logo/logo.svg", svg_rect(10, 10));
    write_file(tmp / "branding/light/logo/square.svg", svg_rect(10, 10));
    write_file(tmp / "branding/light/wall.png", "x");
    write_file(tmp / "branding/dark/wall.png", "x");
    install_theme_at(tmp.path());

    struct Case {
        bool dark;
        std::optional<std::filesystem::path> logo, square, wall;
    };
    const std::vector<Case> cases = {
        {false, tmp / "branding/logo/logo.svg", tmp / "branding/light/logo/square.svg", tmp / "branding/light/wall.png"},
        {true, tmp / "branding/logo/logo.svg", tmp / "branding/light/logo/square.svg", tmp / "branding/dark/wall.png"},
    };
    for (const Case& c : cases) {
        set_dark_mode(c.dark);
        EXPECT_EQ(logo_path(), c.logo);
        EXPECT_EQ(logo_square_path(), c.square);
        EXPECT_EQ(branding_asset("wall", "png"), c.wall);
        EXPECT_EQ(branding_asset("wall", "jpg"), std::nullopt);
    }
    set_dark_mode(false);
    set_active(fallback_theme());
    EXPECT_EQ(logo_path(), std::nullopt);
}

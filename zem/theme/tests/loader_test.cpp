#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/theme/theme.hpp>

#include "theme_test_util.hpp"

using namespace zem::theme;
using theme_test::ScopedEnv;
using theme_test::TempDir;
using theme_test::write_file;

namespace {

// A document around the given light-mode slots (and extra top-level members).
std::string doc_with(const std::string& light_slots, const std::string& top = "", const std::string& dark_slots = "{}") {
    return "{" + top + R"J("theme":{"id":"t","name":"T"},"modes":{"light":{"slots":)J" + light_slots +
           R"J(},"dark":{"slots":)J" + dark_slots + "}}}";
}

std::string slot(const std::string& body) { return R"J({"a":)J" + body + "}"; }

const std::string colour_suffix = "` (expected #RRGGBB, #RRGGBBAA or rgb[a](…))";
const std::string parser_suffix = "` (expected `#RRGGBB`, `#RRGGBBAA` or `rgb[a](…)`)";

std::expected<Theme, ThemeError> load_text(const TempDir& tmp, const std::string& text) {
    write_file(tmp / "t/theme.json", text);
    return load_theme_file(tmp / "t");
}

}  // namespace

TEST(ThemeLoad, BrokenDocumentsFailWithTheirExactMessages) {
    struct Case {
        std::string name;
        std::string text;
        std::string display;  // "DIR" stands for the theme directory
    };
    const std::string shadow_ok = R"J("offset":[0,2],"blur":8,"color":"#000000")J";
    const std::vector<Case> cases = {
        {"unknown top-level key", R"J({"version":1,"theme":{"id":"t","name":"T"},"modes":{"light":{},"dark":{}}})J",
         "parsing DIR: unknown field `version`, expected one of `theme`, `fonts`, `modes`"},
        {"missing theme", R"J({"modes":{"light":{},"dark":{}}})J", "parsing DIR: missing field `theme`"},
        {"missing dark", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":{}}})J", "parsing DIR: missing field `dark`"},
        {"light null", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":null,"dark":{}}})J",
         "parsing DIR: invalid type: unit value, expected struct RawMode"},
        {"record as short array", R"J({"theme":["t"],"modes":{"light":{},"dark":{}}})J",
         "parsing DIR: invalid length 1, expected struct RawThemeMeta with 2 elements"},
        {"record as long array", R"J({"theme":["t","T","x"],"modes":{"light":{},"dark":{}}})J",
         "parsing DIR: invalid length 3, expected fewer elements in array"},
        {"bad slot colour", doc_with(slot(R"J({"type":"color","value":"#abc"})J")),
         "parsing DIR: invalid colour `#abc" + parser_suffix},
        {"bad stop colour", doc_with(slot(R"J({"type":"linear","angle_deg":0,"stops":[{"pos":0,"color":"#fff"}]})J")),
         "parsing DIR: invalid colour `#fff" + parser_suffix},
        {"pos and position", doc_with(slot(R"J({"type":"linear","angle_deg":0,"stops":[{"pos":0,"position":1,"color":"#000000"}]})J")),
         "parsing DIR: duplicate field `pos`"},
        {"unknown stop key", doc_with(slot(R"J({"type":"linear","angle_deg":0,"stops":[{"pos":0,"offset":1,"color":"#000000"}]})J")),
         "parsing DIR: unknown field `offset`, expected one of `pos`, `position`, `color`"},
        {"stop without position", doc_with(slot(R"J({"type":"linear","angle_deg":0,"stops":[{"color":"#000000"}]})J")),
         "parsing DIR: missing field `pos`"},
        {"linear without stops", doc_with(slot(R"J({"type":"linear","angle_deg":0})J")), "parsing DIR: missing field `stops`"},
        {"radial missing radius first", doc_with(slot(R"J({"type":"radial","center":[0.5,0.5]})J")),
         "parsing DIR: missing field `radius`"},
        {"slot as bare text", doc_with(slot(R"J("#ffffff")J")),
         "parsing DIR: invalid type: string \"#ffffff\", expected internally tagged enum RawSlot"},
        {"slot without type", doc_with(slot(R"J({"value":"#ffffff"})J")), "parsing DIR: missing field `type`"},
        {"unknown slot type", doc_with(slot(R"J({"type":"gradient"})J")),
         "parsing DIR: unknown variant `gradient`, expected one of `color`, `linear`, `radial`, `shadows`, `surface`, `typography`"},
        {"short slot array", doc_with(slot(R"J(["color"])J")),
         "parsing DIR: invalid length 0, expected struct variant RawSlot::Color with 2 elements"},
        {"meta null", doc_with(slot(R"J({"type":"color","value":"#ffffff","meta":null})J")),
         "parsing DIR: invalid type: unit value, expected struct RawMetadata"},
        {"space null", doc_with(slot(R"J({"type":"linear","angle_deg":0,"space":null,"stops":[]})J")),
         "parsing DIR: invalid type: unit value, expected string or map"},
        {"space unknown", doc_with(slot(R"J({"type":"linear","angle_deg":0,"space":"hsl","stops":[]})J")),
         "parsing DIR: unknown variant `hsl`, expected one of `srgb`, `linear-rgb`, `oklab`"},
        {"space map of two", doc_with(slot(R"J({"type":"linear","angle_deg":0,"space":{"srgb":null,"oklab":null},"stops":[]})J")),
         "parsing DIR: invalid value: map, expected map with a single key"},
        {"fill without type", doc_with(slot(R"J({"type":"surface","fill":{"color":"#000000"}})J")),
         "parsing DIR: missing field `type`"},
        {"fill with extra key", doc_with(slot(R"J({"type":"surface","fill":{"type":"solid","color":"#000000","extra":1}})J")),
         "parsing DIR: unknown field `extra`, expected `color`"},
        {"fill tag number too big", doc_with(slot(R"J({"type":"surface","fill":{"type":3}})J")),
         "parsing DIR: invalid value: integer `3`, expected variant index 0 <= i < 3"},
        {"fill not an object", doc_with(slot(R"J({"type":"surface","fill":"#000000"})J")),
         "parsing DIR: invalid type: string \"#000000\", expected internally tagged enum RawPaint"},
        {"surface without fill", doc_with(slot(R"J({"type":"surface","family":{"ref":"x"},"size":3})J")),
         "parsing DIR: missing field `fill`"},
        {"shadow without blur", doc_with(slot(R"J({"type":"shadows","shadows":[{"offset":[0,2],"color":"#000000"}]})J")),
         "parsing DIR: missing field `blur`"},
        {"shadow extra key", doc_with(slot(R"J({"type":"shadows","shadows":[{)J" + shadow_ok + R"J(,"extra":1}]})J")),
         "parsing DIR: unknown field `extra`, expected one of `offset`, `blur`, `spread`, `color`, `blend`"},
        {"offset a number", doc_with(slot(R"J({"type":"shadows","shadows":[{"offset":2,"blur":8,"color":"#000000"}]})J")),
         "parsing DIR: invalid type: integer `2`, expected an array of length 2"},
        {"offset of three", doc_with(slot(R"J({"type":"shadows","shadows":[{"offset":[0,2,3],"blur":8,"color":"#000000"}]})J")),
         "parsing DIR: invalid length 3, expected an array of length 2"},
        {"spread null", doc_with(slot(R"J({"type":"shadows","shadows":[{)J" + shadow_ok + R"J(,"spread":null}]})J")),
         "parsing DIR: invalid type: unit value, expected f32"},
        {"short shadow array", doc_with(slot(R"J({"type":"shadows","shadows":[[[0,2],8]]})J")),
         "parsing DIR: invalid length 2, expected struct RawShadow with 5 elements"},
        {"shadows neither text nor list", doc_with(slot(R"J({"type":"surface","fill":{"type":"solid","color":"#000000"},"shadows":3})J")),
         "parsing DIR: data did not match any variant of untagged enum RawShadowsRef"},
        {"inset shadows null", doc_with(slot(R"J({"type":"surface","fill":{"type":"solid","color":"#000000"},"inset_shadows":null})J")),
         "parsing DIR: invalid type: unit value, expected a sequence"},
        {"line height bare number", doc_with(slot(R"J({"type":"typography","family":{"ref":"sora"},"weight":400,"size":16,"line_height":1.4})J")),
         "parsing DIR: data did not match any variant of untagged enum RawLineHeight"},
        {"weight with a fraction", doc_with(slot(R"J({"type":"typography","family":{"ref":"sora"},"weight":400.0,"size":16,"line_height":{"mul":1.4}})J")),
         "parsing DIR: invalid type: floating point `400.0`, expected u16"},
        {"weight too big", doc_with(slot(R"J({"type":"typography","family":{"ref":"sora"},"weight":70000,"size":16,"line_height":{"mul":1.4}})J")),
         "parsing DIR: invalid value: integer `70000`, expected u16"},
        {"font ref extra key", doc_with(slot(R"J({"type":"typography","family":{"ref":"sora","x":1},"weight":4,"size":16,"line_height":{"mul":1}})J")),
         "parsing DIR: unknown field `x`, expected `ref`"},
        {"typography missing size", doc_with(slot(R"J({"type":"typography","family":{"ref":"sora"},"weight":400,"line_height":{"mul":1}})J")),
         "parsing DIR: missing field `size`"},
        {"fit with capital", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":{"wallpaper":{"path":"w.png","fit":"Tile"}},"dark":{}}})J",
         "parsing DIR: unknown variant `Tile`, expected one of `cover`, `contain`, `stretch`, `center`, `tile`"},
        {"fit with a value", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":{"wallpaper":{"path":"w.png","fit":{"tile":1}}},"dark":{}}})J",
         "parsing DIR: invalid type: integer `1`, expected unit variant"},
        {"fit of wrong type", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":{"wallpaper":{"path":"w.png","fit":2}},"dark":{}}})J",
         "parsing DIR: invalid type: integer `2`, expected string or map"},
        {"font weight with a fraction", R"J({"theme":{"id":"t","name":"T"},"fonts":{"s":{"name":"S","sources":[{"weight":400.0,"path":"a.otf"}]}},"modes":{"light":{},"dark":{}}})J",
         "parsing DIR: invalid type: floating point `400.0`, expected u16"},
        {"font source array of two", R"J({"theme":{"id":"t","name":"T"},"fonts":{"s":{"name":"S","sources":[[700,"a.otf"]]}},"modes":{"light":{},"dark":{}}})J",
         "parsing DIR: unknown variant `a.otf`, expected `normal` or `italic`"},
        {"fonts null", R"J({"theme":{"id":"t","name":"T"},"fonts":null,"modes":{"light":{},"dark":{}}})J",
         "parsing DIR: invalid type: unit value, expected a map"},
        {"syntax: trailing comma", R"J({"theme":{"id":"t","name":"T"},})J", "parsing DIR: "},
        // side tables and references
        {"colors not an object", doc_with("{}", R"J("colors":[],)J"), "invalid colour ``colors` must be an object" + colour_suffix},
        {"colors value not text", doc_with("{}", R"J("colors":{"x":1},)J"), "invalid colour ``colors.x` must be a hex string" + colour_suffix},
        {"colors value of seven digits", doc_with("{}", R"J("colors":{"x":"#1234567"},)J"),
         "invalid colour ``colors.x` = `#1234567` (expected #RRGGBB or #RRGGBBAA)" + colour_suffix},
        {"colors value a reference", doc_with("{}", R"J("colors":{"x":"#000000","y":"@x"},)J"),
         "invalid colour ``colors.y` = `@x` (expected #RRGGBB or #RRGGBBAA)" + colour_suffix},
        {"gradient not an object", doc_with("{}", R"J("gradients":{"g":[]},)J"),
         "invalid colour ``gradients.g` must be paint object" + colour_suffix},
        {"inset stack not an array", doc_with("{}", R"J("inset_stacks":{"i":{}},)J"),
         "invalid colour ``inset_stacks.i` must be array of inset-shadow definitions" + colour_suffix},
        {"name in both tables", doc_with("{}", R"J("gradients":{"g":{}},"inset_stacks":{"g":[]},)J"),
         "invalid colour `name `g` is defined in both `gradients` and `inset_stacks`" + colour_suffix},
        {"unknown reference", doc_with(slot(R"J({"type":"color","value":"@nope"})J")),
         "unknown reference `@nope` (not defined in top-level `colors`, `gradients` or `inset_stacks`)"},
        {"reference to nothing with a suffix", doc_with(slot(R"J({"type":"color","value":"@nope/80"})J")),
         "unknown reference `@nope` (not defined in top-level `colors`, `gradients` or `inset_stacks`)"},
        {"lone at sign", doc_with(slot(R"J({"type":"color","value":"@"})J")),
         "unknown reference `@` (not defined in top-level `colors`, `gradients` or `inset_stacks`)"},
        {"gradient with alpha suffix", doc_with(slot(R"J("@g/80")J"), R"J("gradients":{"g":{"type":"linear"}},)J"),
         "invalid colour `@g is a paint/inset token — alpha override `/80` is not applicable" + colour_suffix},
        {"colour alpha of one digit", doc_with(slot(R"J({"type":"color","value":"@c/8"})J"), R"J("colors":{"c":"#102030"},)J"),
         "invalid colour `@c/8 (alpha must be two hex digits)" + colour_suffix},
        {"colour with two slashes", doc_with(slot(R"J({"type":"color","value":"@c/80/1"})J"), R"J("colors":{"c":"#102030"},)J"),
         "invalid colour `@c/80/1 (alpha must be two hex digits)" + colour_suffix},
        {"gradient referring to a gradient", doc_with("{}", R"J("gradients":{"g":{"stops":"@h"},"h":{}},)J"),
         "unknown reference `@h` (not defined in top-level `colors`, `gradients` or `inset_stacks`)"},
        // colours checked during mode resolution
        {"launcher colour", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":{"launcher":{"background":"nope","border_radius":4}},"dark":{}}})J",
         "invalid colour `invalid colour `nope" + parser_suffix + colour_suffix},
        {"earlier window control reported", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":{"window_controls":{"focus_ring":"x","icon":"y"}},"dark":{}}})J",
         "invalid colour `invalid colour `y" + parser_suffix + colour_suffix},
        {"only dark mode broken", R"J({"theme":{"id":"t","name":"T"},"modes":{"light":{},"dark":{"window_controls":{"focus_ring":"#zzzzzz"}}}})J",
         "invalid colour `invalid colour `#zzzzzz" + parser_suffix + colour_suffix},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        auto got = load_text(tmp, c.text);
        ASSERT_FALSE(got.has_value()) << c.name;
        std::string want = c.display;
        if (auto p = want.find("DIR"); p != std::string::npos) want.replace(p, 3, (tmp / "t").string());
        if (c.name.starts_with("syntax")) {
            EXPECT_TRUE(got.error().display().starts_with(want)) << c.name << ": " << got.error().display();
            EXPECT_NE(got.error().display().find(" at line 1 column"), std::string::npos) << got.error().display();
        } else {
            EXPECT_EQ(got.error().display(), want) << c.name;
        }
    }
}

TEST(ThemeLoad, UnreadableFilesAreIoErrorsNamingTheFile) {
    TempDir tmp;
    write_file(tmp / "t/theme.json", std::string("{\"theme\":\"\xff\"}"));
    auto got = load_theme_file(tmp / "t");
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, ThemeError::Kind::Io);
    EXPECT_EQ(got.error().display(), "reading " + (tmp / "t/theme.json").string() + ": stream did not contain valid UTF-8");

    auto missing = load_theme_file(tmp / "absent");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().display(),
              "reading " + (tmp / "absent/theme.json").string() + ": No such file or directory");
}

TEST(ThemeLoad, ReferencesResolveIntoColoursGradientsAndInsetStacks) {
    TempDir tmp;
    const std::string text = R"J({
      "colors": {"plain": "102030", "one": "#A0b0C0", "many": "###405060", "eight": "#11223344"},
      "gradients": {"sky": {"type": "linear", "angle_deg": 90, "stops": [{"pos": 0, "color": "@plain"}, {"position": 1, "color": "@eight/ff"}]}},
      "inset_stacks": {"well": [{"offset": [0, 1], "blur": 2, "color": "@one/80", "blend": {"multiply": null}}]},
      "theme": {"id": "t", "name": "T"},
      "modes": {
        "light": {"slots": {
          "a": {"type": "color", "value": "@plain"},
          "b": {"type": "color", "value": "@one"},
          "c": {"type": "color", "value": "@many"},
          "d": {"type": "color", "value": "@eight/80"},
          "sky": "@sky",
          "card": {"type": "surface", "fill": "@sky", "inset_shadows": "@well", "shadows": "lift"},
          "lift": {"type": "shadows", "shadows": [{"offset": [0, 2], "blur": 8, "color": "#000000"}]},
          "dup": {"type": "color", "value": "#000000", "value": "#ffffff"}
        }},
        "dark": {}
      }
    })J";
    auto theme = load_text(tmp, text);
    ASSERT_TRUE(theme.has_value()) << theme.error().display();
    const SlotTable& s = theme->light.slots;
    auto colour = [&](const char* name) { return *colour_slot(s, name); };
    EXPECT_EQ(colour("a"), (zem::Color{0x10 / 255.0f, 0x20 / 255.0f, 0x30 / 255.0f, 1.0f}));
    EXPECT_EQ(colour("b"), (zem::Color{0xa0 / 255.0f, 0xb0 / 255.0f, 0xc0 / 255.0f, 1.0f}));
    EXPECT_EQ(colour("c"), (zem::Color{0x40 / 255.0f, 0x50 / 255.0f, 0x60 / 255.0f, 1.0f}));
    // The suffix replaces an eight-digit colour's own alpha.
    EXPECT_EQ(colour("d"), (zem::Color{0x11 / 255.0f, 0x22 / 255.0f, 0x33 / 255.0f, 0x80 / 255.0f}));
    // Of duplicate keys the last one wins.
    EXPECT_EQ(colour("dup"), (zem::Color{1, 1, 1, 1}));

    const zem::Paint* sky = s.at("sky").paint();
    ASSERT_NE(sky, nullptr);
    const auto* linear = std::get_if<zem::LinearGradient>(sky);
    ASSERT_NE(linear, nullptr);
    EXPECT_EQ(linear->angle_deg, 90.0f);
    EXPECT_EQ(linear->space, zem::GradientSpace::LinearRgb);  // absent space blends in linear light
    ASSERT_EQ(linear->stops.size(), 2u);
    EXPECT_EQ(linear->stops[1], (zem::GradientStop{0x11 / 255.0f, 0x22 / 255.0f, 0x33 / 255.0f, 1.0f, 1.0f}));

    const SlotSurface* card = s.at("card").surface();
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->fill, *sky);
    ASSERT_NE(card->shadows.name(), nullptr);
    EXPECT_EQ(*card->shadows.name(), "lift");
    ASSERT_EQ(card->inset_shadows.size(), 1u);
    EXPECT_EQ(card->inset_shadows[0].blend, zem::BlendMode::Multiply);
    EXPECT_EQ(card->inset_shadows[0].color, (zem::Color{0xa0 / 255.0f, 0xb0 / 255.0f, 0xc0 / 255.0f, 0x80 / 255.0f}));
}

TEST(ThemeLoad, DocumentDefaultsPathsAndAlternativeForms) {
    TempDir tmp;
    const std::string text = R"J({
      "theme": {"id": "t", "name": "T"},
      "fonts": {"sora": {"name": "Sora", "fallbacks": ["noto"], "sources": [
          {"weight": 700, "path": "fonts/b.otf"},
          [400, {"italic": null}, "/abs/i.otf"]]}},
      "modes": {
        "light": {
          "wallpaper": {"path": "w.png"},
          "lockscreen": {"path": "/abs/l.png", "fit": {"tile": null}},
          "window_controls": {"icon": null},
          "slots": {
            "s": {"type": "shadows", "shadows": [{"offset": [0, 2], "blur": 8, "color": "#000000"}]},
            "t1": {"type": "typography", "family": {"ref": "sora"}, "weight": 400, "size": 16, "line_height": {"px": 22, "mul": 1.4}, "color": "not a colour", "extra": 1},
            "t2": {"type": "typography", "family": ["sora"], "weight": 700, "size": 12, "line_height": {"mul": 1.4}, "style": "italic"},
            "c": {"type": "color", "value": "rgb(255, 0, 0)", "extra": true, "meta": {"semantic": "x", "note": null, "other": 1}},
            "arr": ["color", "#00ff00"],
            "sp": {"type": "linear", "angle_deg": 0, "space": {"srgb": {}}, "stops": []}
          }
        },
        "dark": {"wallpaper": null}
      }
    })J";
    auto theme = load_text(tmp, text);
    ASSERT_TRUE(theme.has_value()) << theme.error().display();
    const auto dir = tmp / "t";
    EXPECT_EQ(theme->id, "t");
    EXPECT_EQ(theme->dir, dir);

    const FontFamily& sora = theme->fonts.at("sora");
    EXPECT_EQ(sora.fallbacks, std::vector<std::string>{"noto"});
    ASSERT_EQ(sora.sources.size(), 2u);
    EXPECT_EQ(sora.sources[0].path, dir / "fonts/b.otf");
    EXPECT_EQ(sora.sources[0].style, zem::FontStyle::Normal);
    EXPECT_EQ(sora.sources[1].path, "/abs/i.otf");
    EXPECT_EQ(sora.sources[1].style, zem::FontStyle::Italic);

    const Mode& light = theme->light;
    ASSERT_TRUE(light.wallpaper && light.lockscreen);
    EXPECT_EQ(light.wallpaper->path, dir / "w.png");
    EXPECT_EQ(light.wallpaper->fit, RawFit::Cover);
    EXPECT_EQ(light.lockscreen->path, "/abs/l.png");
    EXPECT_EQ(light.lockscreen->fit, RawFit::Tile);
    EXPECT_FALSE(theme->dark.wallpaper.has_value());

    // An empty (or all-null) controls object has every default; no object has none.
    ASSERT_TRUE(light.window_controls.has_value());
    EXPECT_EQ(light.window_controls->bar_bg, (zem::Color{1, 1, 1, 1}));
    EXPECT_EQ(light.window_controls->icon, (zem::Color{0, 0, 0, 1}));
    EXPECT_EQ(light.window_controls->close_hover_bg, (zem::Color{0.92f, 0.18f, 0.18f, 0.9f}));
    EXPECT_EQ(light.window_controls->focus_ring, (zem::Color{4 / 255.0f, 217 / 255.0f, 254 / 255.0f, 1}));
    EXPECT_FALSE(theme->dark.window_controls.has_value());

    const Typography* t1 = light.slots.at("t1").typography();
    ASSERT_NE(t1, nullptr);
    EXPECT_EQ(t1->line_height, (RawLineHeight{RawLineHeight::Kind::Px, 22.0f}));
    EXPECT_EQ(t1->color, "not a colour");
    EXPECT_EQ(t1->style, zem::FontStyle::Normal);
    const Typography* t2 = light.slots.at("t2").typography();
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(t2->line_height, (RawLineHeight{RawLineHeight::Kind::Multiplier, 1.4f}));
    EXPECT_EQ(t2->style, zem::FontStyle::Italic);

    EXPECT_EQ(*colour_slot(light.slots, "c"), (zem::Color{1, 0, 0, 1}));
    EXPECT_EQ(light.slots.at("c").meta.semantic, "x");
    EXPECT_EQ(*colour_slot(light.slots, "arr"), (zem::Color{0, 1, 0, 1}));
    EXPECT_EQ(std::get<zem::LinearGradient>(*light.slots.at("sp").paint()).space, zem::GradientSpace::Srgb);

    const auto& shadow = light.slots.at("s").shadows()->front();
    EXPECT_EQ(shadow.spread, 0.0f);
    EXPECT_EQ(shadow.blend, zem::BlendMode::Normal);
}

TEST(ThemeSearch, SearchPathOrderFromTheEnvironment) {
    struct Case {
        std::optional<std::string> themes, data, home;
        std::vector<std::filesystem::path> want;
    };
    const std::vector<Case> cases = {
        {"/a", "/d", "/h", {"/a", "/d/zem/themes", "/usr/share/zem/themes"}},
        {std::nullopt, std::nullopt, "/h", {"/h/.local/share/zem/themes", "/usr/share/zem/themes"}},
        {"", "", "/h", {"", "zem/themes", "/usr/share/zem/themes"}},
        {std::nullopt, std::nullopt, std::nullopt, {"/usr/share/zem/themes"}},
    };
    for (const Case& c : cases) {
        ScopedEnv a("ZEM_THEMES_DIR", c.themes), b("XDG_DATA_HOME", c.data), h("HOME", c.home);
        EXPECT_EQ(theme_search_paths(), c.want);
    }
}

TEST(ThemeSearch, FirstDirectoryHoldingTheThemeFileDecides) {
    TempDir tmp;
    const std::string name = "zem-search-test-" + std::to_string(::getpid());
    const std::string good = R"J({"theme":{"id":"ID","name":"N"},"modes":{"light":{},"dark":{}}})J";
    auto good_as = [&](const std::string& id) {
        std::string t = good;
        t.replace(t.find("ID"), 2, id);
        return t;
    };
    // The user's directory has the theme; the override directory has only a
    // folder without theme.json, or theme.json as a directory.
    write_file(tmp / ("data/zem/themes/" + name + "/theme.json"), good_as("user"));
    std::filesystem::create_directories(tmp / ("over/" + name));
    ScopedEnv a("ZEM_THEMES_DIR", (tmp / "over").string());
    ScopedEnv b("XDG_DATA_HOME", (tmp / "data").string());
    auto user = load_theme(name);
    ASSERT_TRUE(user.has_value()) << user.error().display();
    EXPECT_EQ(user->id, "user");
    EXPECT_EQ(user->dir, tmp / ("data/zem/themes/" + name));

    std::filesystem::create_directories(tmp / ("over/" + name + "/theme.json"));
    ASSERT_TRUE(load_theme(name).has_value());
    EXPECT_EQ(load_theme(name)->id, "user");

    // A found but broken file ends the search with its error.
    std::filesystem::remove(tmp / ("over/" + name + "/theme.json"));
    write_file(tmp / ("over/" + name + "/theme.json"), "{");
    auto broken = load_theme(name);
    ASSERT_FALSE(broken.has_value());
    EXPECT_EQ(broken.error().kind, ThemeError::Kind::ParseJson);
    EXPECT_EQ(broken.error().path, tmp / ("over/" + name));

    // The override directory wins once it holds a valid file.
    write_file(tmp / ("over/" + name + "/theme.json"), good_as("over"));
    EXPECT_EQ(load_theme(name)->id, "over");

    // An absolute name stands for itself.
    EXPECT_EQ(load_theme((tmp / ("data/zem/themes/" + name)).string())->id, "user");

    auto missing = load_theme(name + "-absent");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().display(), "theme `" + name + "-absent` not found in any search path");
    EXPECT_EQ(missing.error().debug(), "NotFound(\"" + name + "-absent\")");
}

TEST(ThemeSearch, HomeIsUsedWhenDataHomeIsUnset) {
    TempDir tmp;
    const std::string name = "zem-home-test-" + std::to_string(::getpid());
    write_file(tmp / (".local/share/zem/themes/" + name + "/theme.json"),
               R"J({"theme":{"id":"home","name":"N"},"modes":{"light":{},"dark":{}}})J");
    ScopedEnv a("ZEM_THEMES_DIR", std::nullopt);
    ScopedEnv b("XDG_DATA_HOME", std::nullopt);
    ScopedEnv h("HOME", tmp.path().string());
    auto got = load_theme(name);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->id, "home");
}

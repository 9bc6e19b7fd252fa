#pragma once
// The records a "theme.json" document is read into, before mode resolution.
// Colours inside slots are already parsed; launcher and window-control colours
// stay text until a mode is resolved.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <zem/core/paint.hpp>
#include <zem/text/font_registry.hpp>
#include <zem/theme/surface.hpp>

namespace zem::theme {

using FontStyle = zem::FontStyle;
using RawFontStyle = FontStyle;

// How a wallpaper fills the screen.
enum class RawFit : std::uint8_t { Cover = 0, Contain, Stretch, Center, Tile };

enum class TextTransform : std::uint8_t { None = 0, Uppercase, Lowercase, Capitalize };
enum class TextDecoration : std::uint8_t { None = 0, Underline, Strikethrough };
using RawTextTransform = TextTransform;
using RawTextDecoration = TextDecoration;
using RawGradientSpace = GradientSpace;

// Annotations for people and tools; kept with a slot, never interpreted.
struct RawMetadata {
    std::optional<std::string> semantic;
    std::optional<std::string> fluent;
    std::optional<std::string> usage;
    std::optional<std::string> note;
    friend bool operator==(const RawMetadata&, const RawMetadata&) = default;
};

struct RawLineHeight {
    enum class Kind : std::uint8_t { Px, Multiplier };
    Kind kind = Kind::Multiplier;
    float value = 1.0f;
    friend bool operator==(const RawLineHeight&, const RawLineHeight&) = default;
};

// A parsed stop, shadow and paint hold exactly what their resolved forms hold;
// only the stop limit is applied later.
using RawColorStop = GradientStop;
using RawShadow = Shadow;
using RawPaint = Paint;

// The drop shadows of a surface: the name of a "shadows" slot of the same mode,
// a list, or none.
struct ShadowsRef {
    std::variant<std::monostate, std::string, std::vector<Shadow>> value;

    const std::string* name() const { return std::get_if<std::string>(&value); }
    const std::vector<Shadow>* list() const { return std::get_if<std::vector<Shadow>>(&value); }
    friend bool operator==(const ShadowsRef&, const ShadowsRef&) = default;
};
using RawShadowsRef = ShadowsRef;

struct RawSurfaceBody {
    RawPaint fill;
    ShadowsRef shadows;
    std::vector<RawShadow> inset_shadows;
    friend bool operator==(const RawSurfaceBody&, const RawSurfaceBody&) = default;
};

// A typography slot, kept as written: the family is not looked up and the
// colour is never parsed.
struct Typography {
    std::string family;
    std::uint16_t weight = 400;
    FontStyle style = FontStyle::Normal;
    float size = 16.0f;
    RawLineHeight line_height;
    float letter_spacing = 0.0f;
    TextTransform transform = TextTransform::None;
    TextDecoration decoration = TextDecoration::None;
    std::optional<std::string> color;
    friend bool operator==(const Typography&, const Typography&) = default;
};
using RawTextStyleBody = Typography;

struct RawSlot {
    using Shadows = std::vector<RawShadow>;
    std::variant<Color, LinearGradient, RadialGradient, Shadows, RawSurfaceBody, Typography> value;
    RawMetadata meta;
};

// ---- document level ----

struct RawThemeMeta {
    std::string id;
    std::string name;
};

struct RawWallpaper {
    std::string path;
    RawFit fit = RawFit::Cover;
};

struct RawLauncher {
    std::string background;
    float border_radius = 0.0f;
};

struct RawWindowControls {
    std::optional<std::string> bar_bg;
    std::optional<std::string> icon;
    std::optional<std::string> hover_bg;
    std::optional<std::string> pressed_bg;
    std::optional<std::string> close_hover_bg;
    std::optional<std::string> close_icon;
    std::optional<std::string> focus_ring;
};

struct RawMode {
    std::optional<RawWallpaper> wallpaper;
    std::optional<RawWallpaper> lockscreen;
    std::optional<RawLauncher> launcher;
    std::optional<RawWindowControls> window_controls;
    std::map<std::string, RawSlot> slots;
};

struct RawModes {
    RawMode light;
    RawMode dark;
};

struct RawFontSource {
    std::uint16_t weight = 400;
    FontStyle style = FontStyle::Normal;
    std::string path;
};

struct RawFontFamily {
    std::string name;
    std::vector<std::string> fallbacks;
    std::vector<RawFontSource> sources;
};

struct RawThemeDocument {
    RawThemeMeta theme;
    std::map<std::string, RawFontFamily> fonts;
    RawModes modes;
};

}  // namespace zem::theme

#pragma once
// Paints, shadows and surfaces: what a theme slot resolves to and what the
// canvas fills with.

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <zem/theme/color.hpp>

namespace zem {

// The colour space gradient colours are blended in. Oklab blends exactly as
// LinearRgb does.
enum class GradientSpace : std::uint8_t { Srgb = 0, LinearRgb = 1, Oklab = 2 };

// How a shadow is composited. Drop shadows ignore it; inset shadows use it.
enum class BlendMode : std::uint8_t { Normal = 0, PlusLighter = 1, Overlay = 2, Multiply = 3, Screen = 4 };

struct GradientStop {
    Color color;
    float pos = 0.0f;

    friend bool operator==(const GradientStop&, const GradientStop&) = default;
};

// Gradients hold at most this many stops; longer lists are cut when a theme is
// loaded.
inline constexpr std::size_t max_gradient_stops = 64;

struct Paint {
    struct Solid {
        Color color;
        friend bool operator==(const Solid&, const Solid&) = default;
    };
    struct Linear {
        float angle_deg = 0.0f;
        GradientSpace space = GradientSpace::LinearRgb;
        std::vector<GradientStop> stops;
        friend bool operator==(const Linear&, const Linear&) = default;
    };
    struct Radial {
        std::array<float, 2> center{0.5f, 0.5f};  // fractions of the painted box
        float radius = 0.5f;                       // fraction of the box
        GradientSpace space = GradientSpace::LinearRgb;
        std::vector<GradientStop> stops;
        friend bool operator==(const Radial&, const Radial&) = default;
    };

    std::variant<Solid, Linear, Radial> value;

    Paint() : value(Solid{Color::transparent()}) {}
    Paint(Solid s) : value(std::move(s)) {}
    Paint(Linear l) : value(std::move(l)) {}
    Paint(Radial r) : value(std::move(r)) {}
    static Paint solid(Color c) { return Paint(Solid{c}); }

    const Solid* solid() const { return std::get_if<Solid>(&value); }
    const Linear* linear() const { return std::get_if<Linear>(&value); }
    const Radial* radial() const { return std::get_if<Radial>(&value); }

    friend bool operator==(const Paint&, const Paint&) = default;
};

struct Shadow {
    float offset_x = 0.0f;  // logical pixels
    float offset_y = 0.0f;
    float blur = 0.0f;
    float spread = 0.0f;
    Color color;
    BlendMode blend = BlendMode::Normal;

    friend bool operator==(const Shadow&, const Shadow&) = default;
};

// A surface as painters draw it: the fill, the drop shadows under it and the
// inset shadows inside it.
struct Surface {
    Paint fill;
    std::vector<Shadow> shadows;
    std::vector<Shadow> inset_shadows;

    friend bool operator==(const Surface&, const Surface&) = default;
};

}  // namespace zem

#pragma once
// Colours as themes state them and painters consume them.

#include <optional>
#include <string>
#include <string_view>
#include <expected>

namespace zem {

// Straight (not premultiplied) RGBA, each channel 0..1.
struct Color {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 1.0f;

    constexpr Color() = default;
    constexpr Color(float r_, float g_, float b_, float a_ = 1.0f) : r(r_), g(g_), b(b_), a(a_) {}

    constexpr Color with_alpha(float alpha) const { return Color{r, g, b, alpha}; }

    static constexpr Color white() { return Color{1.0f, 1.0f, 1.0f, 1.0f}; }
    static constexpr Color black() { return Color{0.0f, 0.0f, 0.0f, 1.0f}; }
    static constexpr Color transparent() { return Color{0.0f, 0.0f, 0.0f, 0.0f}; }

    friend constexpr bool operator==(const Color&, const Color&) = default;
};

namespace theme {

// Parses "#RRGGBB", "#RRGGBBAA" (any number of leading '#', none required),
// "rgb(r, g, b)" and "rgba(r, g, b, a)". The error is the message shown to the
// theme author.
std::expected<Color, std::string> parse_colour(std::string_view text);

// One channel of the functional forms: an integer below 256, else a decimal
// number 0..255 (fractions allowed).
std::optional<float> parse_colour_channel(std::string_view text);

}  // namespace theme
}  // namespace zem

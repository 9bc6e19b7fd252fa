#pragma once
// Colour texts as themes state them.

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include <zem/core/paint.hpp>

namespace zem::theme {

inline constexpr Color white{1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr Color black{0.0f, 0.0f, 0.0f, 1.0f};
inline constexpr Color transparent{0.0f, 0.0f, 0.0f, 0.0f};

constexpr Color with_alpha(Color c, float alpha) { return Color{c.r, c.g, c.b, alpha}; }

// Parses "#RRGGBB", "#RRGGBBAA" (any number of leading '#', none required),
// "rgb(r, g, b)" and "rgba(r, g, b, a)". The error is the message shown to the
// theme author.
[[nodiscard]] std::expected<Color, std::string> parse_colour(std::string_view text);

// One channel of the functional forms: an integer below 256, else a decimal
// number 0..255 (fractions allowed).
std::optional<float> parse_colour_channel(std::string_view text);

}  // namespace zem::theme

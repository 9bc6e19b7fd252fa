#pragma once
// Gradient colours at any position, and the 512-texel table the GPU gradient
// fills sample.

#include <array>
#include <cstdint>
#include <span>

#include <zem/core/paint.hpp>

namespace zem {

inline constexpr std::size_t gradient_lut_texels = 512;

// The colour of the stops at position t (stable-sorted by position; the end
// segments extend beyond the first and last stop).
Color gradient_colour_at(std::span<const GradientStop> stops, GradientSpace space, float t);

// Red, green and blue of a and b blended in linear light by u; alpha as given.
Color lerp_linear_light(Color a, Color b, float u, float alpha);

// 512 straight RGBA8 texels; texel i is the gradient at t = i / 511 × 5 − 2.
std::array<std::uint8_t, gradient_lut_texels * 4> build_gradient_lut(std::span<const GradientStop> stops,
                                                                      GradientSpace space);

}  // namespace zem

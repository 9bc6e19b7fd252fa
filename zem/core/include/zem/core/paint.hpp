#pragma once
// Colour and paint values the canvas draws with. Colours are straight
// (not premultiplied) RGBA with components in 0..1.

#include <cstdint>
#include <variant>
#include <vector>

namespace zem {

struct Color {
  float r = 0;
  float g = 0;
  float b = 0;
  float a = 0;

  friend bool operator==(const Color&, const Color&) = default;
};

// The space in which a gradient's stop colours are interpolated.
enum class GradientSpace : std::uint8_t { Srgb = 0, LinearRgb = 1, Oklab = 2 };

struct GradientStop {
  float r = 0;
  float g = 0;
  float b = 0;
  float a = 0;
  float pos = 0;

  friend bool operator==(const GradientStop&, const GradientStop&) = default;
};

struct LinearGradient {
  std::vector<GradientStop> stops;  // at most 64
  float angle_deg = 0;
  GradientSpace space = GradientSpace::LinearRgb;

  friend bool operator==(const LinearGradient&, const LinearGradient&) = default;
};

struct RadialGradient {
  std::vector<GradientStop> stops;  // at most 64
  float center_x = 0.5F;            // fractions of the painted box
  float center_y = 0.5F;
  float radius = 0.5F;              // fraction of the painted box
  GradientSpace space = GradientSpace::LinearRgb;

  friend bool operator==(const RadialGradient&, const RadialGradient&) = default;
};

// A solid colour or a gradient.
using Paint = std::variant<Color, LinearGradient, RadialGradient>;

// How an inset shadow is composited; drop shadows ignore it.
enum class BlendMode : std::uint8_t {
  Normal = 0,
  PlusLighter = 1,
  Overlay = 2,
  Multiply = 3,
  Screen = 4,
};

struct Shadow {
  float offset_x = 0;
  float offset_y = 0;
  float blur = 0;
  float spread = 0;
  Color color;
  BlendMode blend = BlendMode::Normal;

  friend bool operator==(const Shadow&, const Shadow&) = default;
};

}  // namespace zem

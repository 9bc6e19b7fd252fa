#pragma once
// Lengths with units relative to the viewport, the base font size or a unit
// scale; the responsive preset; the process-wide text scale; rectangle helpers.

#include <cstdint>
#include <optional>
#include <vector>

#include <zem/core/geometry.hpp>

namespace zem {


enum class LengthUnit : std::uint8_t {
  Px = 0,
  PercentWidth = 1,
  PercentHeight = 2,
  PercentMin = 3,
  PercentMax = 4,
  Orientation = 5,  // value % of width in portrait or square, value2 % of height in landscape
  Em = 6,
  Scaled = 7,
};

// The smaller viewport side at which a responsive length equals its nominal value.
inline constexpr float REFERENCE_SIDE = 412.0F;
// The unit scale of Scaled lengths when a canvas has none of its own.
inline constexpr float UNIT_SCALE = 1.0F;

struct Length {
  LengthUnit unit = LengthUnit::Px;
  float value = 0;
  float value2 = 0;
  std::optional<float> min;  // resolved pixels
  std::optional<float> max;  // resolved pixels

  static constexpr Length px(float v) { return {LengthUnit::Px, v, 0, {}, {}}; }
  static constexpr Length percent_width(float v) { return {LengthUnit::PercentWidth, v, 0, {}, {}}; }
  static constexpr Length percent_height(float v) { return {LengthUnit::PercentHeight, v, 0, {}, {}}; }
  static constexpr Length percent_min(float v) { return {LengthUnit::PercentMin, v, 0, {}, {}}; }
  static constexpr Length percent_max(float v) { return {LengthUnit::PercentMax, v, 0, {}, {}}; }
  static constexpr Length orientation(float portrait, float landscape) {
    return {LengthUnit::Orientation, portrait, landscape, {}, {}};
  }
  static constexpr Length em(float v) { return {LengthUnit::Em, v, 0, {}, {}}; }
  static constexpr Length scaled(float v) { return {LengthUnit::Scaled, v, 0, {}, {}}; }

  // v pixels at a 412 px smaller viewport side, held between 0.7 v and 1.5 v.
  static Length responsive(float v);

  Length with_min(float m) const { Length l = *this; l.min = m; return l; }
  Length with_max(float m) const { Length l = *this; l.max = m; return l; }

  // Pixels against a viewport of width x height.
  float resolve(float width, float height, float base_size, float unit_scale) const;
  // `resolve` with the process-wide unit scale.
  float resolve_scaled(float width, float height, float base_size) const;

  friend bool operator==(const Length&, const Length&) = default;
};

// The desktop's text-scaling factor, 1.0 at start, always in 0.5..3.0.
float text_scale();
void set_text_scale(float factor);

// The last main-surface size in physical pixels (recorded, read by nothing).
void set_physical_size(std::uint32_t width, std::uint32_t height);

// An offset held within 0..max(content - viewport, 0).
float clamp_scroll(float offset, float content, float viewport);

// The overlap of two rectangles; none unless it has positive width and height.
std::optional<Rect> rect_intersection(const Rect& a, const Rect& b);
// The overlap as a rectangle; an empty overlap has width and height 0 at (left, top).
Rect rect_clip(const Rect& a, const Rect& b);
// Every rectangle of `list` intersected with `r`; an empty list (no clip) gives [r].
std::vector<Rect> clip_list_intersect(const std::vector<Rect>& list, const Rect& r);

}  // namespace zem

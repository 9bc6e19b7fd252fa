#pragma once

namespace zem {

// A rectangle in the pixels of a drawing target, origin top-left, y down.
struct Rect {
  float x = 0;
  float y = 0;
  float w = 0;
  float h = 0;

  friend bool operator==(const Rect&, const Rect&) = default;
};

// Corner radii in the order top-left, top-right, bottom-right, bottom-left.
// All four at or below zero means a plain rectangle.
struct Radii {
  float tl = 0;
  float tr = 0;
  float br = 0;
  float bl = 0;

  static constexpr Radii all(float r) { return {r, r, r, r}; }
  friend bool operator==(const Radii&, const Radii&) = default;
};

// A width and height in pixels (viewport sizes).
struct SizeF {
  float w = 0;
  float h = 0;

  friend bool operator==(const SizeF&, const SizeF&) = default;
};

}  // namespace zem

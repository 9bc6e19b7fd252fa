#include <zem/core/length.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>


namespace zem {

namespace {

// max and min that let the other operand win over a NaN.
float max_nan(float a, float b) { return std::fmax(a, b); }
float min_nan(float a, float b) { return std::fmin(a, b); }

std::atomic<float> g_text_scale{1.0F};
std::atomic<std::uint64_t> g_physical_size{0};

}  // namespace

Length Length::responsive(float v) {
  Length l = percent_min(v / REFERENCE_SIDE * 100.0F);
  l.min = 0.7F * v;
  l.max = 1.5F * v;
  return l;
}

float Length::resolve(float width, float height, float base_size, float unit_scale) const {
  float raw = 0;
  switch (unit) {
    case LengthUnit::Px: raw = value; break;
    case LengthUnit::PercentWidth: raw = width * value / 100.0F; break;
    case LengthUnit::PercentHeight: raw = height * value / 100.0F; break;
    case LengthUnit::PercentMin: raw = min_nan(width, height) * value / 100.0F; break;
    case LengthUnit::PercentMax: raw = max_nan(width, height) * value / 100.0F; break;
    case LengthUnit::Orientation:
      raw = width <= height ? width * value / 100.0F : height * value2 / 100.0F;
      break;
    case LengthUnit::Em: raw = value * base_size; break;
    case LengthUnit::Scaled:
    default: raw = value * unit_scale; break;
  }
  if (min && max && *min > *max) {
    // Bounds given the wrong way round are used swapped.
    return min_nan(max_nan(raw, *max), *min);
  }
  float v = raw;
  if (min) v = max_nan(v, *min);
  if (max) v = min_nan(v, *max);
  return v;
}

float Length::resolve_scaled(float width, float height, float base_size) const {
  return resolve(width, height, base_size, UNIT_SCALE);
}

float text_scale() { return g_text_scale.load(std::memory_order_relaxed); }

void set_text_scale(float factor) {
  // A factor that is not a number is ignored, so text sizes never become NaN.
  if (std::isnan(factor)) return;
  float f = factor;
  if (f < 0.5F) f = 0.5F;
  if (f > 3.0F) f = 3.0F;
  g_text_scale.store(f, std::memory_order_relaxed);
}

void set_physical_size(std::uint32_t width, std::uint32_t height) {
  g_physical_size.store((static_cast<std::uint64_t>(width) << 32) | height,
                        std::memory_order_relaxed);
}

float clamp_scroll(float offset, float content, float viewport) {
  float largest = std::max(content - viewport, 0.0F);
  if (offset < 0) return 0;
  if (offset > largest) return largest;
  return offset;
}

std::optional<Rect> rect_intersection(const Rect& a, const Rect& b) {
  float left = std::max(a.x, b.x);
  float top = std::max(a.y, b.y);
  float right = std::min(a.x + a.w, b.x + b.w);
  float bottom = std::min(a.y + a.h, b.y + b.h);
  if (right > left && bottom > top) return Rect{left, top, right - left, bottom - top};
  return std::nullopt;
}

Rect rect_clip(const Rect& a, const Rect& b) {
  float left = std::max(a.x, b.x);
  float top = std::max(a.y, b.y);
  float right = std::min(a.x + a.w, b.x + b.w);
  float bottom = std::min(a.y + a.h, b.y + b.h);
  if (left >= right || top >= bottom) return Rect{left, top, 0, 0};
  return Rect{left, top, right - left, bottom - top};
}

std::vector<Rect> clip_list_intersect(const std::vector<Rect>& list, const Rect& r) {
  if (list.empty()) return {r};
  std::vector<Rect> out;
  out.reserve(list.size());
  for (const Rect& c : list) {
    if (auto i = rect_intersection(c, r)) out.push_back(*i);
  }
  return out;
}

}  // namespace zem

#include <zem/widgets/spinner.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

SizeF Spinner::measure(const Spinner& spinner, const Canvas& canvas, float available) {
  float s = 0;
  if (spinner.size > 0) {
    s = std::min(spinner.size, available);
  } else {
    SizeF v = canvas.state().metric_size();
    float r = (32.0F / REFERENCE_SIDE * 100.0F) * std::min(v.w, v.h) / 100.0F;
    r = std::clamp(r, 22.4F, 48.0F);
    s = std::min(r, available);
  }
  return {s, s};
}

void Spinner::draw(const Spinner& spinner, Canvas& canvas, const Rect& rect, const Color& accent) {
  const float w = spinner.stroke;
  const float r = (std::min(rect.w, rect.h) - w) * 0.5F;
  if (!(r > 0)) return;
  const float cx = rect.x + rect.w * 0.5F;
  const float cy = rect.y + rect.h * 0.5F;
  auto px = [&](float a) { return cx + r * std::cos(a); };
  auto py = [&](float a) { return cy + r * std::sin(a); };
  constexpr float step = 0.17453294F;  // ten degrees
  const Color track{accent.r, accent.g, accent.b, 0.2F};
  for (int i = 0; i < 36; ++i) {
    float a0 = static_cast<float>(i) * step;
    float a1 = static_cast<float>(i + 1) * step;
    canvas.draw_line(track, px(a0), py(a0), px(a1), py(a1), w);
  }
  const float f = spinner.phase - std::floor(spinner.phase);
  const float start = f * 6.2831855F;
  const float end = start + 1.8849558F;  // 108 degrees
  for (int j = 0; j <= 10; ++j) {
    float a0 = start + static_cast<float>(j) * step;
    float a1 = std::min(start + static_cast<float>(j + 1) * step, end);
    canvas.draw_line(spinner.color, px(a0), py(a0), px(a1), py(a1), w);
  }
}

Spinner accent_ring_style() {
  return Spinner{theme::palette_accent(), 0.0F, 0.0F, 3.0F};
}

std::pair<float, float> Spinner::measure(Canvas& canvas, float available) const {
  const SizeF s = measure(*this, canvas, available);
  return {s.w, s.h};
}

void Spinner::paint(Canvas& canvas, const Rect& rect, const PaintState&) const {
  draw(*this, canvas, rect, theme::palette_accent());
}

Traits Spinner::traits() const { return {}; }

HitAction Spinner::hit_action() const { return {}; }

std::optional<std::string> Spinner::access_text() const { return std::nullopt; }

}  // namespace zem

// Divider: size, painting and what the frame records for it.

#include <zem/widgets/divider.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

namespace {

std::pair<float, float> divider_metrics(const Divider& d, Canvas& canvas) {
    const float t = d.thickness ? canvas.resolve_length(*d.thickness) : canvas.resolve_length(Length::responsive(1.0f));
    const float m = d.margin ? canvas.resolve_length(*d.margin) : canvas.resolve_length(Length::responsive(8.0f));
    return {t, m};
}

}  // namespace

std::pair<float, float> Divider::measure(Canvas& canvas, float available) const {
    const auto [t, m] = divider_metrics(*this, canvas);
    return {available, t + 2.0f * m};
}

void Divider::paint(Canvas& canvas, const Rect& r, const PaintState&) const {
    const float t = divider_metrics(*this, canvas).first;
    const float y = r.y + r.h / 2.0f;
    canvas.draw_line(color, r.x, y, r.x + r.w, y, t);
}

// A divider has no width of its own in a hugging container.
float Divider::intrinsic_width(Canvas&, float) const { return 0.0f; }

Traits Divider::traits() const {
    Traits t;
    t.node = AccessNodeKind::Divider;
    return t;
}

HitAction Divider::hit_action() const { return {}; }

std::optional<std::string> Divider::access_text() const { return std::nullopt; }

}  // namespace zem

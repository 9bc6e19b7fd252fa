// ProgressBar: size, painting and what the frame records for it.

#include <zem/widgets/progress_bar.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> ProgressBar::measure(Canvas& canvas, float available) const {
    return {available, canvas.resolve_length(Length::responsive(20.0f))};
}

void ProgressBar::paint(Canvas& canvas, const Rect& r, const PaintState&) const {
    const float b = canvas.resolve_length(Length::responsive(6.0f));
    const Rect bar{r.x, r.y + (r.h - b) / 2.0f, r.w, b};
    canvas.fill_rect_radius(bar, theme::palette_divider(), b / 2.0f);
    // Not clamped: a value above 1 paints past the end.
    const float filled = r.w * value;
    if (filled > 0.0f) canvas.fill_rect_radius(Rect{bar.x, bar.y, filled, b}, color, b / 2.0f);
}

// A progress bar has no width of its own in a hugging container.
float ProgressBar::intrinsic_width(Canvas&, float) const { return 0.0f; }

Traits ProgressBar::traits() const {
    Traits t;
    t.node = AccessNodeKind::ProgressBar;
    t.node_value = value;
    return t;
}

HitAction ProgressBar::hit_action() const { return {}; }

std::optional<std::string> ProgressBar::access_text() const { return std::nullopt; }

}  // namespace zem

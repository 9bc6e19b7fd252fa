// GestureArea: size, painting and what the frame records for it.

#include <zem/widgets/gesture_area.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

std::pair<float, float> GestureArea::measure(Canvas& canvas, float available) const {
    return child->measure(canvas, available);
}

void GestureArea::paint(Canvas&, const Rect&, const PaintState&) const {}

// The area's region covers its child's rectangle; it is recorded only when
// something reaches it.
Traits GestureArea::traits() const {
    Traits t;
    t.region = on_tap || on_long_press || on_drag || on_escape || capture;
    t.cursor = cursor.value_or(cursor_pointer);
    t.key = key;
    return t;
}

HitAction GestureArea::hit_action() const {
    return HitAction{HitAction::Press{false, on_tap, on_long_press, on_drag, on_escape}};
}

std::optional<std::string> GestureArea::access_text() const { return std::nullopt; }

}  // namespace zem

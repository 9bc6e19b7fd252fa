#pragma once
// Children one below the other.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Column {
    std::vector<Element> children;
    Length spacing = Length::px(0.0f);
    Length padding = Length::px(0.0f);
    std::optional<Length> max_width;
    bool center_x = true;
    bool center_y = false;
    bool hug = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    std::vector<ChildSlot> arrange(const Rect& rect, Canvas& canvas) const;
    // The same slots appended to `slots`, whose storage the caller keeps.
    void arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const;
};

}  // namespace zem

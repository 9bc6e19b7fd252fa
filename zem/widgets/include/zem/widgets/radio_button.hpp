#pragma once
// One choice of a group, with an optional label.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct RadioButton {
    std::optional<std::string> label;
    std::optional<Message> on_select;
    std::optional<WidgetKey> key;
    std::optional<Length> height;
    bool selected = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

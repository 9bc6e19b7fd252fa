#pragma once
// One of the window controls: minimize, maximize, restore, close.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct WindowButton {
    std::optional<Message> on_press;
    std::optional<WidgetKey> key;
    float size = 0.0f;  // 0 or less: responsive 36 px
    WindowControl control = WindowControl::Close;
    bool focusable = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

#pragma once
// One row of a list: title, subtitle, images and trailing text.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct ListItem {
    std::string title;
    std::optional<std::string> subtitle;
    std::optional<std::string> trailing_text;
    std::optional<Message> on_tap;
    std::optional<ImageData> trailing_image;
    std::optional<WidgetKey> key;
    std::optional<ImageData> leading_image;
    std::optional<Length> padding;
    std::optional<Length> height;
    std::optional<Length> font_size;
    bool selected = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

#pragma once
// A pressable button showing a text label or an icon.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Button {
    // The label form holds text, the icon form an image.
    std::variant<std::string, ImageData> content;
    std::optional<std::string> tooltip;
    std::optional<Message> on_press;
    std::optional<Message> on_long_press;
    std::optional<Message> on_drag;
    std::optional<WidgetKey> key;
    std::optional<Length> icon_size;
    std::optional<Length> font_size;
    std::optional<Length> height;
    std::optional<Length> width;
    bool focusable = false;
    bool auto_repeat = false;
    ButtonStyle style = ButtonStyle::Filled;
    std::optional<CursorShape> cursor;

    const std::string* label() const { return std::get_if<std::string>(&content); }
    const ImageData* icon() const { return std::get_if<ImageData>(&content); }

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

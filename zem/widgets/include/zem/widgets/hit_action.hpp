#pragma once
// What activating a widget does, as the input side reads it from the
// frame's hit regions.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <zem/widgets/kind.hpp>
#include <zem/widgets/wiping_string.hpp>

namespace zem {

// What activating a region does. The variant index is the tag the input
// side compares.
struct HitAction {
    struct None {};
    struct Press {
        bool auto_repeat = false;
        std::optional<Message> on_press;
        std::optional<Message> on_long_press;
        std::optional<Message> on_drag;
        std::optional<Message> on_escape;
    };
    struct Switch {
        bool on = false;
        std::optional<Message> message;
    };
    struct Checkbox {
        bool checked = false;
        std::optional<Message> message;
    };
    struct RadioButton {
        bool selected = false;
        std::optional<Message> message;
    };
    struct ListItem {
        std::optional<Message> message;
    };
    struct WindowButton {
        std::optional<Message> message;
    };
    struct TextEdit {
        std::uint8_t align = 0;  // a TextAlign
        bool password = false;
        // A password field whose text is shown in plain characters: pointer
        // hits measure what is drawn, not the bullets.
        bool revealed = false;
        bool multiline = false;
        bool caret_to_end = false;
        std::optional<Length> font_size;
        TextCallback on_change;
        std::optional<Message> on_submit;
        std::optional<Message> reveal_toggle;
        // Wiped when released: every frame copies it, and for a password
        // field it is the secret itself.
        WipingString text;
    };
    struct Slider {
        bool vertical = false;
        float value = 0.0f;
        float track_inset = 0.0f;
        ValueCallback on_change;
        ValueCallback on_release;
    };

    std::variant<None, Press, Switch, Checkbox, RadioButton, ListItem, WindowButton, TextEdit, Slider> value;

    std::uint8_t tag() const { return static_cast<std::uint8_t>(value.index()); }
    template <class V>
    const V* as() const {
        return std::get_if<V>(&value);
    }
};

}  // namespace zem

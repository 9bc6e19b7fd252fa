#pragma once
// What the user can touch in the last frame of a surface: one region per
// interactive widget, one scroll area per scroll viewport, one accessibility
// node per non-interactive widget the accessibility tree shows.
//
// Every rectangle is in the canvas's (buffer) pixels, already translated out
// of the scroll viewports and layers it was drawn in.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <zem/app/message.hpp>
#include <zem/draw/geometry.hpp>
#include <zem/layout/length.hpp>
#include <zem/widget/element.hpp>

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
        std::uint8_t align = 0;
        bool password = false;
        bool multiline = false;
        bool caret_to_end = false;
        std::optional<Length> font_size;
        TextCallback on_change;
        std::optional<Message> on_submit;
        std::optional<Message> reveal_toggle;
        std::string text;
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

struct HitRegion {
    std::optional<std::string> tooltip;
    std::optional<std::string> text;
    HitAction action;
    Rect rect;
    LayoutId id = 0;
    std::optional<WidgetKey> key;
    Rect painted_rect;
    bool focusable = false;
    bool in_modal = false;
    CursorShape cursor = cursor_default;
};

struct ScrollArea {
    Rect rect;
    LayoutId id = 0;
    ScrollAxis axis = ScrollAxis::Vertical;

    friend bool operator==(const ScrollArea&, const ScrollArea&) = default;
};

// A ListItem drawn inside a Scroll: its top in the scroll content.
struct ListItemSpan {
    LayoutId id = 0;
    float top = 0.0f;
    float height = 0.0f;

    friend bool operator==(const ListItemSpan&, const ListItemSpan&) = default;
};

enum class AccessNodeKind : std::uint32_t { Text = 0, Image = 1, Divider = 2, ProgressBar = 3 };

struct AccessNode {
    std::optional<std::string> text;
    AccessNodeKind kind = AccessNodeKind::Text;
    float value = 0.0f;  // ProgressBar only
    Rect rect;
    bool in_modal = false;
};

// The rectangle the element paints, with its focus rings and shadows.
Rect painted_bounds(const Element& element, const Rect& rect);

// The per-kind rules the layout-and-draw pass applies to a region.
bool element_focusable(const Element& element);
CursorShape element_cursor(const Element& element);
std::optional<WidgetKey> element_key(const Element& element);

}  // namespace zem

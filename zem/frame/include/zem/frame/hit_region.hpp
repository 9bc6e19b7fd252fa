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

#include <zem/core/geometry.hpp>
#include <zem/core/length.hpp>
#include <zem/widgets/element.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

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
    // Where the element's own text was drawn (the union of its lines' boxes),
    // none when it drew none: a label wider than its control runs past `rect`,
    // and a screen reader or a layout check can see it here.
    std::optional<Rect> text_rect;
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

struct AccessNode {
    std::optional<std::string> text;
    AccessNodeKind kind = AccessNodeKind::Text;
    float value = 0.0f;  // ProgressBar only
    Rect rect;
    bool in_modal = false;
    // The widget's number in the frame, so that readers can put nodes and
    // regions back into the order the page lists them.
    LayoutId id = 0;
    // Changes are announced politely (a status the user did not cause).
    bool live = false;
    // Where its text was drawn, as for `HitRegion::text_rect`.
    std::optional<Rect> text_rect;
};

// The rectangle the element paints, with its focus rings and shadows.
Rect painted_bounds(const Element& element, const Rect& rect);


}  // namespace zem

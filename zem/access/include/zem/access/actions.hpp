#pragma once
// Requests from assistive technologies and the pure steps the loop takes to
// carry them out.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include <zem/access/tree.hpp>
#include <zem/frame/hit_region.hpp>

namespace zem::access {

enum class A11yAction : std::uint8_t {
    Click,
    Focus,
    Decrement,
    Increment,
    SetValue,
    ScrollDown,
    ScrollUp,
    ScrollRight,
    ScrollLeft,
    ScrollIntoView,
    // Sent by the bridge when an assistive technology starts listening, so
    // that an idle application builds its first tree; it acts on nothing.
    Refresh,
};

struct ActionRequest {
    A11yAction action = A11yAction::Click;
    NodeId target = 0;
    std::optional<std::string> text;
    std::optional<double> number;
};

inline constexpr float slider_step = 0.05f;
inline constexpr float scroll_step_logical = 80.0f;

// A slider's value one step down or up, kept within 0..1.
float step_slider(float value, bool up);
float clamp_slider(double value);

// The scroll area a step scrolls: the innermost area of the last chain. The
// frame lists inner areas before the areas around them.
std::optional<std::size_t> area_for_step(std::span<const ScrollArea> areas);

// The innermost scroll area holding a widget whose rect starts at (x, y).
std::optional<std::size_t> area_around(std::span<const ScrollArea> areas, float x, float y);

using Offset = std::pair<float, float>;

// The offset after one scroll step in buffer pixels; never below zero.
Offset scroll_by_step(Offset offset, A11yAction action, std::int32_t scale);

// The offset that brings `widget` inside `area`; never below zero.
Offset scroll_into_view(const Rect& area, Offset offset, const Rect& widget);

}  // namespace zem::access

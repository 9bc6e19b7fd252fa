#pragma once
// Records shared by the pointer, touch, keyboard and text-editing handlers.

#include <cstdint>
#include <optional>
#include <string>

#include <zem/core/geometry.hpp>
#include <zem/widgets/wiping_string.hpp>

namespace zem {

// One key event as the keyboard layer hands it on.
struct KeyStroke {
    std::uint32_t keysym = 0;
    std::uint32_t raw_code = 0;
    std::uint32_t time = 0;
    std::optional<std::string> text;  // presses only, after compose
};

// The text context menu open on one surface; rect in buffer pixels.
struct ContextMenu {
    std::optional<std::size_t> caret_at;
    std::uint64_t widget = 0;
    Rect rect;
    bool has_selection = false;
    bool can_paste = false;
};

// A field's text typed since the element tree last reflected it, and the
// number of the first `view` call that may reflect it.
struct EditedText {
    WipingString text;
    std::uint64_t view_generation = 0;
};

}  // namespace zem

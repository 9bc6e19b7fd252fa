#pragma once
// The one walk that measures, places and paints an element tree and records
// the frame's hit regions, scroll areas and accessibility nodes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <zem/canvas/canvas.hpp>
#include <zem/frame/hit_region.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

// What one pass reads and fills. The maps come from the surface and go back
// to it, so scroll offsets, carets, layer canvases and list-item spans live
// across frames.
struct FrameLayout {
    std::optional<LayoutId> focused;
    std::optional<LayoutId> hovered;
    std::optional<LayoutId> pressed;
    std::vector<HitRegion> regions;
    std::vector<ScrollArea> scroll_areas;
    std::vector<HitRegion> previous_regions;
    std::vector<AccessNode> access_nodes;
    std::unordered_map<LayoutId, std::size_t> carets;
    std::unordered_map<LayoutId, std::size_t> anchors;
    std::unordered_map<LayoutId, std::pair<float, float>> scroll_offsets;
    std::unordered_map<LayoutId, Canvas> layer_canvases;
    // Canvases of Layer elements, kept across frames like the scroll ones.
    // A Layer takes no id of its own and one directly inside another shares
    // its first id, so the key is the id with the Layer's nesting depth
    // (layer_key). Both maps lose, after each pass, what it did not draw.
    std::unordered_map<std::uint64_t, Canvas> fade_layers;
    std::unordered_map<LayoutId, std::vector<ListItemSpan>> list_items;
    // Text typed into a field that the element tree does not show yet; the
    // field draws it instead of its value. Views into the surface's edits,
    // valid for one pass only.
    std::unordered_map<LayoutId, std::string_view> edited_texts;
    // An input method's uncommitted text in one field: shown at the caret,
    // underlined, never part of the field's text. Valid for one pass only.
    struct Preedit {
        LayoutId widget = 0;
        std::string_view text;
        std::size_t cursor = 0;  // bytes into `text`
    };
    std::optional<Preedit> preedit;
    // Scratch storage the surface keeps across frames, so that a steady
    // page draws without allocating: the child slots of the containers
    // being drawn (one run per container, innermost last) and the strings
    // of an earlier frame's text nodes, for the next frame's copies.
    std::vector<ChildSlot> slots;
    std::vector<std::string> spare_texts;
    std::uint32_t modal_depth = 0;
    bool debug_layout = false;
};

// Draws `element` into `rect` of `canvas`, numbering widgets from `first_id`
// in pre-order; returns the next free id.
LayoutId layout_and_draw(const Element& element, Canvas& canvas, const Rect& rect, FrameLayout& layout,
                         LayoutId first_id);

}  // namespace zem

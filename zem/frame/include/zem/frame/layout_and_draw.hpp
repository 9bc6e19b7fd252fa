#pragma once
// The one walk that measures, places and paints an element tree and records
// the frame's hit regions, scroll areas and accessibility nodes.

#include <cstddef>
#include <cstdint>
#include <optional>
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
    std::unordered_map<LayoutId, std::vector<ListItemSpan>> list_items;
    std::uint32_t modal_depth = 0;
    bool debug_layout = false;
};

// Draws `element` into `rect` of `canvas`, numbering widgets from `first_id`
// in pre-order; returns the next free id.
LayoutId layout_and_draw(const Element& element, Canvas& canvas, const Rect& rect, FrameLayout& layout,
                         LayoutId first_id);

}  // namespace zem

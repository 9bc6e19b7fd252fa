#pragma once
// Looking things up in a frame's hit regions and scroll areas. Every
// containment test is inclusive on all four edges.

#include <optional>
#include <vector>

#include <zem/frame/hit_region.hpp>

namespace zem {

bool contains(const Rect& r, float x, float y);

// The topmost (last drawn) region under the point.
const HitRegion* region_under(const std::vector<HitRegion>& regions, float x, float y);
// The first region with this id.
const HitRegion* region_with_id(const std::vector<HitRegion>& regions, LayoutId id);
// Every scroll area under the point, innermost first.
std::vector<ScrollArea> areas_under(const std::vector<ScrollArea>& areas, float x, float y);

// The message activating the region sends: a copy of a button's press, a
// switch's, checkbox's, radio button's, list item's or window button's
// message; none for fields, sliders and plain regions.
std::optional<Message> hit_message(const HitAction& action);

// The focusable regions' ids in tab order.
std::vector<LayoutId> collect_focusable(const std::vector<HitRegion>& regions);

}  // namespace zem

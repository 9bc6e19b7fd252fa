#include <zem/input/regions.hpp>

namespace zem {

bool contains(const Rect& r, float x, float y) {
    return x >= r.x && x <= r.x + r.w && y >= r.y && y <= r.y + r.h;
}

const HitRegion* region_under(const std::vector<HitRegion>& regions, float x, float y) {
    for (auto it = regions.rbegin(); it != regions.rend(); ++it)
        if (contains(it->rect, x, y)) return &*it;
    return nullptr;
}

const HitRegion* region_with_id(const std::vector<HitRegion>& regions, LayoutId id) {
    for (const HitRegion& r : regions)
        if (r.id == id) return &r;
    return nullptr;
}

std::vector<ScrollArea> areas_under(const std::vector<ScrollArea>& areas, float x, float y) {
    std::vector<ScrollArea> out;
    out.reserve(4);
    for (const ScrollArea& a : areas)
        if (contains(a.rect, x, y)) out.push_back(a);
    return out;
}

std::optional<Message> hit_message(const HitAction& action) {
    using A = HitAction;
    return std::visit(
        [](const auto& v) -> std::optional<Message> {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, A::Press>) return v.on_press;
            else if constexpr (std::is_same_v<V, A::Switch> || std::is_same_v<V, A::Checkbox> ||
                               std::is_same_v<V, A::RadioButton> || std::is_same_v<V, A::ListItem> ||
                               std::is_same_v<V, A::WindowButton>)
                return v.message;
            else return std::nullopt;
        },
        action.value);
}

std::vector<LayoutId> collect_focusable(const std::vector<HitRegion>& regions) {
    std::vector<LayoutId> ids;
    ids.reserve(4);
    for (const HitRegion& r : regions)
        if (r.focusable) ids.push_back(r.id);
    return ids;
}

}  // namespace zem

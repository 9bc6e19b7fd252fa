#include <zem/theme/slot.hpp>

#include <cstdio>
#include <type_traits>

#include <fmt/format.h>

namespace zem::theme {

std::vector<GradientStop> truncate_stops(std::vector<GradientStop> stops) {
    if (stops.size() <= max_gradient_stops) return stops;
    // One write per line keeps concurrent loads from interleaving mid-line.
    std::string line = fmt::format("[zem theme] gradient declares {} stops, truncating to {}\n", stops.size(),
                                   max_gradient_stops);
    std::fwrite(line.data(), 1, line.size(), stderr);
    stops.resize(max_gradient_stops);
    return stops;
}

namespace {

Paint truncate_paint(Paint paint) {
    if (auto* l = std::get_if<LinearGradient>(&paint)) l->stops = truncate_stops(std::move(l->stops));
    else if (auto* r = std::get_if<RadialGradient>(&paint)) r->stops = truncate_stops(std::move(r->stops));
    return paint;
}

}  // namespace

SlotSurface SlotSurface::from_raw(RawSurfaceBody raw) {
    return SlotSurface{truncate_paint(std::move(raw.fill)), std::move(raw.shadows), std::move(raw.inset_shadows)};
}

Slot Slot::from_raw(RawSlot raw) {
    Slot slot;
    slot.meta = std::move(raw.meta);
    std::visit(
        [&](auto&& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Color>) slot.value = v;
            else if constexpr (std::is_same_v<T, LinearGradient> || std::is_same_v<T, RadialGradient>)
                slot.value = truncate_paint(Paint(std::move(v)));
            else if constexpr (std::is_same_v<T, RawSlot::Shadows>) slot.value = std::move(v);
            else if constexpr (std::is_same_v<T, RawSurfaceBody>) slot.value = SlotSurface::from_raw(std::move(v));
            else slot.value = std::move(v);
        },
        std::move(raw.value));
    return slot;
}

std::optional<Color> colour_slot(const SlotTable& slots, std::string_view name) {
    auto it = slots.find(name);
    if (it == slots.end()) return std::nullopt;
    if (const Color* c = it->second.color()) return *c;
    return std::nullopt;
}

std::optional<SlotSurface> surface_from_slot(const SlotTable& slots, std::string_view name) {
    auto it = slots.find(name);
    if (it == slots.end()) return std::nullopt;
    const Slot& slot = it->second;
    if (const Color* c = slot.color()) return SlotSurface{Paint(*c), {}, {}};
    if (const Paint* p = slot.paint()) return SlotSurface{*p, {}, {}};
    if (const SlotSurface* s = slot.surface()) return *s;
    return std::nullopt;
}

}  // namespace zem::theme

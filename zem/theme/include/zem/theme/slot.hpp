#pragma once
// Resolved slots: the named values of one theme mode.

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <zem/theme/surface.hpp>
#include <zem/theme/schema/raw.hpp>

namespace zem::theme {

// A surface slot as stated: its drop shadows may still name a "shadows" slot,
// which is looked up only when the surface is asked for.
struct SlotSurface {
    Paint fill;
    ShadowsRef shadows;
    std::vector<Shadow> inset_shadows;

    static SlotSurface from_raw(RawSurfaceBody raw);
    friend bool operator==(const SlotSurface&, const SlotSurface&) = default;
};

struct Slot {
    using Shadows = std::vector<Shadow>;
    // Declared in the order Color, Paint, Shadows, Surface, Typography.
    std::variant<Color, Paint, Shadows, SlotSurface, Typography> value;
    RawMetadata meta;

    static Slot from_raw(RawSlot raw);

    const Color* color() const { return std::get_if<Color>(&value); }
    const zem::Paint* paint() const { return std::get_if<Paint>(&value); }
    const Shadows* shadows() const { return std::get_if<Shadows>(&value); }
    const SlotSurface* surface() const { return std::get_if<SlotSurface>(&value); }
    const Typography* typography() const { return std::get_if<Typography>(&value); }
};

using SlotTable = std::map<std::string, Slot, std::less<>>;

// Keeps the first 64 stops in file order; a longer list is reported once on
// standard error.
std::vector<GradientStop> truncate_stops(std::vector<GradientStop> stops);

// The colour of a colour slot; none for a missing name or another kind.
std::optional<Color> colour_slot(const SlotTable& slots, std::string_view name);

// A surface made from a colour, gradient or surface slot; none for a missing
// name or a shadows or typography slot.
std::optional<SlotSurface> surface_from_slot(const SlotTable& slots, std::string_view name);

}  // namespace zem::theme

#pragma once
// Shared operations of the ready-made control painters.

#include <string_view>
#include <utility>

#include <zem/draw/paint.hpp>

namespace zem {

class Canvas;

// The responsive 24 px knob (16.8 to 36 px); a slider's track inset.
float knob_metric(const Canvas& canvas);

// The palette's accent and the opacity held in 0..1 (NaN kept).
std::pair<Color, float> accent_with_opacity(float opacity);

// How far the named theme surface's drop shadows reach beyond its rectangle.
float surface_shadow_reach(std::string_view surface_name);

}  // namespace zem

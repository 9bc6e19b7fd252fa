#pragma once
// Pieces the ready-made widget painters share.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <zem/core/paint.hpp>
#include <zem/widgets/kind.hpp>

namespace zem {

class Canvas;

// The responsive 24 px knob (16.8 to 36 px); a slider's track inset.
float knob_metric(const Canvas& canvas);

// The palette's accent and the opacity held in 0..1 (NaN kept).
std::pair<Color, float> accent_with_opacity(float opacity);

// How far the named theme surface's drop shadows reach beyond its rectangle.
float surface_shadow_reach(std::string_view surface_name);

// Baseline of one label of `size` in a box: a little above its centre.
float label_baseline(const Rect& r, float size);

// Width of an optional control label at the responsive 16 px size.
float label_width(Canvas& canvas, const std::optional<std::string>& label);

// The traits of a ready-made control: a touch region under the pointer
// cursor whose focus ring and shadows reach `painted_inset` beyond it.
Traits control_traits(std::optional<WidgetKey> key, bool focusable, float painted_inset);

// A check box's or radio button's label, right of its mark of width `mark`.
void draw_label_after_mark(Canvas& canvas, const std::string& label, const Rect& r, float mark);

// `image` scaled into `dst`.
void draw_image(Canvas& canvas, const ImageData& image, const Rect& dst, float opacity);

// The theme's window-control icon in `color`, or stroked glyphs without it.
void draw_window_control_icon(Canvas& canvas, WindowControl control, const Rect& rect, const Color& color);

// `text` cut to `max_width` with "..." appended; never splits a character.
std::string truncate_to_width(Canvas& canvas, std::string_view text, float size, float max_width);

}  // namespace zem

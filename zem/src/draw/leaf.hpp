#pragma once
// Painting of leaf elements: buttons and text fields here, the other kinds
// handed to their painters.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include <zem/draw/geometry.hpp>
#include <zem/draw/paint.hpp>
#include <zem/widget/element.hpp>

namespace zem {

class Canvas;

// Paints one leaf into `rect`. `caret` and `anchor` are byte indices into a
// text field's value (clamped to its length).
void draw_leaf(const Element& element, Canvas& canvas, const Rect& rect, bool focused, bool hovered, bool pressed,
               std::size_t caret, std::size_t anchor);

void vertical_slider_paint(const VerticalSlider& slider, Canvas& canvas, const Rect& rect, bool focused);

std::pair<float, float> image_measure(const Image& image, Canvas& canvas, float available);
void image_draw(const Image& image, Canvas& canvas, const Rect& rect);

// The theme's window-control icon in `color`, or stroked glyphs without it.
void draw_window_control_icon(Canvas& canvas, WindowControl control, const Rect& rect, const Color& color);

// `text` cut to `max_width` with "..." appended; never splits a character.
std::string truncate_to_width(Canvas& canvas, std::string_view text, float size, float max_width);

}  // namespace zem

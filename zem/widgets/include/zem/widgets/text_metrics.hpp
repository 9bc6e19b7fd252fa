#pragma once
// Line metrics and character-wise fitting shared by the text painters.

#include <string>
#include <string_view>

namespace zem {

class Canvas;
struct FontFace;

// Ascent and line advance of text at `size_px` logical pixels, in canvas
// pixels, from the canvas's primary font (0.8 and 1.0 of the size when the
// font has no horizontal line metrics).
struct LineBox {
    float ascent = 0.0f;
    float advance = 0.0f;
};
LineBox text_line_box(Canvas& canvas, float size_px);

// The longest prefix of `text` whose characters, each measured on its own,
// add up to at most `budget`. Never splits a character.
std::string prefix_fitting(Canvas& canvas, std::string_view text, float size, const FontFace* font, float budget);

}  // namespace zem

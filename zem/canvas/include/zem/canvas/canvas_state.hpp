#pragma once
// The fields both canvas backends keep with the same meaning.

#include <cstdint>
#include <memory>
#include <optional>

#include <zem/core/geometry.hpp>
#include <zem/text/font.hpp>
#include <zem/text/font_registry.hpp>

namespace zem {

struct CanvasState {
  std::uint32_t width = 0;   // target size in pixels
  std::uint32_t height = 0;
  float scale = 1.0F;        // buffer scale; text sizes are multiplied by it
  float opacity = 1.0F;      // multiplied into the alpha of everything but clears
  std::optional<SizeF> viewport;     // what responsive metrics use instead of the target size
  std::optional<float> unit_scale;   // for Scaled lengths; the process-wide one when absent
  FontFace primary_font;             // the default font of all text
  std::shared_ptr<const FontRegistry> theme_fonts;  // the active theme's fonts, if any
  // While set, every drawn text grows this box by its line box (advance
  // width, ascent to descent of the primary font): the frame pass sets it
  // around one widget's painting to learn where its text really went.
  std::optional<Rect>* text_ink = nullptr;

  // The size responsive metrics follow: the viewport, else the target size.
  SizeF metric_size() const {
    return viewport ? *viewport : SizeF{static_cast<float>(width), static_cast<float>(height)};
  }
};

}  // namespace zem

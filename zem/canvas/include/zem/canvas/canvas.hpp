#pragma once
// The one drawing target every painter receives: a software or an OpenGL ES
// backend behind the same operations, plus the metric questions painters ask
// while laying out (they depend on the canvas's viewport and scale).
//
// Positions, rectangles and widths are in target pixels (physical pixels of
// the surface); text sizes are logical pixels, multiplied by `scale()`.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include <zem/canvas/canvas_state.hpp>
#include <zem/core/geometry.hpp>
#include <zem/core/paint.hpp>
#include <zem/canvas/gles_canvas.hpp>
#include <zem/core/length.hpp>
#include <zem/canvas/software_canvas.hpp>
#include <zem/text/font.hpp>
#include <zem/text/font_registry.hpp>

namespace zem {

class Canvas {
 public:
  static Canvas new_software(std::uint32_t w, std::uint32_t h);
  static Canvas new_gles(std::shared_ptr<GlDevice> gl, std::uint32_t w, std::uint32_t h,
                         bool gles3);

  explicit Canvas(SoftwareCanvas sw) : backend_(std::move(sw)) {}
  explicit Canvas(GlesCanvas gl) : backend_(std::move(gl)) {}

  bool is_software() const { return std::holds_alternative<SoftwareCanvas>(backend_); }
  SoftwareCanvas* software() { return std::get_if<SoftwareCanvas>(&backend_); }
  const SoftwareCanvas* software() const { return std::get_if<SoftwareCanvas>(&backend_); }
  GlesCanvas* gles() { return std::get_if<GlesCanvas>(&backend_); }
  const GlesCanvas* gles() const { return std::get_if<GlesCanvas>(&backend_); }

  // State both backends keep.
  CanvasState& state();
  const CanvasState& state() const;
  std::uint32_t width() const { return state().width; }
  std::uint32_t height() const { return state().height; }
  float scale() const { return state().scale; }
  void set_scale(float s) { state().scale = s; }
  float opacity() const { return state().opacity; }
  void set_opacity(float o) { state().opacity = o; }
  std::optional<SizeF> viewport() const { return state().viewport; }
  void set_viewport(std::optional<SizeF> v) { state().viewport = v; }
  std::optional<float> unit_scale() const { return state().unit_scale; }
  void set_unit_scale(std::optional<float> u) { state().unit_scale = u; }
  const FontFace& primary_font() const { return state().primary_font; }
  const std::shared_ptr<const FontRegistry>& theme_fonts() const { return state().theme_fonts; }

  // Target.
  void resize(std::uint32_t w, std::uint32_t h);
  Canvas sub_canvas(std::uint32_t w, std::uint32_t h) const;
  void blit(const Canvas& src, std::int32_t x, std::int32_t y);
  void blit_with_fade(const Canvas& src, std::int32_t x, std::int32_t y, float fade);
  void copy_to_buffer(std::span<std::uint8_t> dst, bool swap_rb) const;
  // Only the pixels covering `rects` (software back end; GLES presents itself).
  void copy_rects_to_buffer(std::span<std::uint8_t> dst, std::span<const Rect> rects, bool swap_rb) const;
  void present();

  // Clipping and clearing.
  void set_clip_rects(std::span<const Rect> rects);
  void set_clip_rects(const std::vector<Rect>& rects) { set_clip_rects(std::span<const Rect>(rects)); }
  std::vector<Rect> clip_rects() const;
  void reset_clip();
  void clear();
  void clear_color(const Color& color);
  void clear_rects(std::span<const Rect> rects);
  void clear_rects(const std::vector<Rect>& rects) { clear_rects(std::span<const Rect>(rects)); }

  // Painting.
  void fill_rounded_rect(const Rect& rect, const Color& color, const Radii& radii);
  void stroke_rounded_rect(const Rect& rect, const Color& color, const Radii& radii, float width);
  void draw_line(const Color& color, float x0, float y0, float x1, float y1, float width);
  void draw_text(std::string_view text, float x, float baseline, float size, const Color& color,
                 const FontFace* font = nullptr);
  void draw_text_with_font(std::string_view text, float x, float baseline, float size,
                           const Color& color, const FontFace& font);
  float measure_text(std::string_view text, float size, const FontFace* font = nullptr);
  // Grows the text box being recorded (CanvasState::text_ink), if any, by
  // `box`: a painter that shortens a text notes where the whole would go.
  void note_text_extent(const Rect& box);
  float measure_text_with_font(std::string_view text, float size, const FontFace& font);
  void draw_image_data(std::span<const std::uint8_t> data, std::uint32_t w, std::uint32_t h,
                       const Rect& dst, float opacity);

  // Paint helpers.
  void fill_rect_radius(const Rect& rect, const Color& color, float radius);
  void stroke_rect_radius(const Rect& rect, const Color& color, float width, float radius);
  // Gradients on the software backend fill with their first stop (transparent without stops).
  void fill_paint(const Rect& rect, const Paint& paint, const Radii& radii);
  void fill_paint_radius(const Rect& rect, const Paint& paint, float radius);
  // Drop shadows, fill, inset shadows (shadows only on GLES).
  void draw_surface(const Rect& rect, const Paint& paint, std::span<const Shadow> drop_shadows,
                    std::span<const Shadow> inset_shadows, float radius);

  // Metrics and fonts.
  float resolve_length(const Length& length) const;
  float resolve_text_length(const Length& length) const;
  float responsive_px(float base) const;
  float responsive_text_px(float base) const;
  // A length in logical units as buffer pixels (times the scale).
  float px(float logical) const;
  // Empties this thread's shaped-run cache, then installs `registry`.
  void set_theme_fonts(std::shared_ptr<const FontRegistry> registry);
  FontFace resolve_font(std::string_view family, std::uint16_t weight, std::uint8_t style) const;
  GlyphMetrics glyph_metrics(char32_t ch, float size) const;

 private:
  std::variant<SoftwareCanvas, GlesCanvas> backend_;
};

// Whether frames are drawn by the software renderer (per thread, false at start).
void set_software_renderer_active(bool active);
bool software_renderer_active();

}  // namespace zem

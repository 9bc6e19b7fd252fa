#pragma once
// The OpenGL ES backend of Canvas: draws into an offscreen framebuffer and
// presents it onto the window framebuffer.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include <zem/canvas/canvas_state.hpp>
#include <zem/core/geometry.hpp>
#include <zem/core/paint.hpp>
#include <zem/text/font.hpp>

namespace zem {

class GlDevice;

class GlesCanvas {
 public:
  static GlesCanvas create(std::shared_ptr<GlDevice> gl, std::uint32_t w,
                           std::uint32_t h, bool gles3);

  GlesCanvas(GlesCanvas&&) noexcept;
  GlesCanvas& operator=(GlesCanvas&&) noexcept;
  GlesCanvas(const GlesCanvas&) = delete;
  GlesCanvas& operator=(const GlesCanvas&) = delete;
  ~GlesCanvas();

  CanvasState& state() { return state_; }
  const CanvasState& state() const { return state_; }
  std::uint32_t width() const { return state_.width; }
  std::uint32_t height() const { return state_.height; }

  void resize(std::uint32_t w, std::uint32_t h);
  GlesCanvas sub_canvas(std::int32_t w, std::int32_t h) const;
  void blit(const GlesCanvas& src, std::int32_t x, std::int32_t y, float fade);
  void present();

  void bind_target();
  void set_clip_rects(std::span<const Rect> rects);
  std::vector<Rect> clip_rects() const;
  void reset_clip();
  void clear();
  void clear_color(const Color& color);
  void clear_rects(std::span<const Rect> rects);

  void fill_rounded_rect(const Rect& rect, const Color& color, const Radii& radii);
  void stroke_rounded_rect(const Rect& rect, const Color& color, const Radii& radii, float width);
  void draw_line(const Color& color, float x0, float y0, float x1, float y1, float width);
  void fill_linear_gradient(const Rect& rect, const LinearGradient& paint, const Radii& radii);
  void fill_radial_gradient(const Rect& rect, const RadialGradient& paint, const Radii& radii);
  void drop_shadow(const Rect& rect, const Shadow& shadow, const Radii& radii);
  void inset_shadow(const Rect& rect, const Shadow& shadow, const Radii& radii);
  void draw_texture(std::uint32_t texture, const Rect& dst, float opacity);

  void draw_text(std::string_view text, float x, float baseline, float size, const Color& color,
                 const FontFace* font = nullptr);
  float measure_text(std::string_view text, float size, const FontFace* font = nullptr);
  FontFace font_for_char(char32_t ch) const;
  void draw_image_data(std::span<const std::uint8_t> data, std::uint32_t w, std::uint32_t h,
                       const Rect& dst, float opacity);

  // The colour texture and framebuffer drawn into.
  std::uint32_t framebuffer() const;
  std::uint32_t color_texture() const;
  // Premultiplied R, G, B, A rows top-down (binds the canvas's framebuffer).
  std::vector<std::uint8_t> read_pixels() const;
  // The image textures held, least recently drawn first, as (width, height),
  // and the bytes they take: what the cache's bound acts on.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> cached_image_sizes() const;
  std::uint64_t cached_image_bytes() const;

  struct Impl;

 private:
  GlesCanvas(std::unique_ptr<Impl> impl, CanvasState state);
  std::unique_ptr<Impl> impl_;
  CanvasState state_;
};

}  // namespace zem

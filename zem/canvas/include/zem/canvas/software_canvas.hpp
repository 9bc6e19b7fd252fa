#pragma once
// The CPU backend of Canvas: a premultiplied RGBA pixmap drawn with Cairo,
// text blended from a per-canvas glyph raster cache.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <zem/canvas/canvas_state.hpp>
#include <zem/core/geometry.hpp>
#include <zem/core/paint.hpp>
#include <zem/text/font.hpp>

typedef struct _cairo_surface cairo_surface_t;
typedef struct _cairo cairo_t;

namespace zem {

inline constexpr std::size_t GLYPH_CACHE_LIMIT = 8192;

// A closed outline of a rounded rectangle, as Cairo path commands; built by
// `rounded_rect_path`.
struct RoundedRectPath {
  struct Segment {
    enum Kind : std::uint8_t { Move, Line, Cubic, Close } kind;
    float pts[6];
  };
  // At most a move, four lines, four corners and the close: kept inline, so
  // building the outline of every rounded fill allocates nothing.
  struct Segments {
    std::array<Segment, 10> items{};
    std::size_t count = 0;
    void push_back(const Segment& s) { items[count++] = s; }
    std::size_t size() const { return count; }
    const Segment& operator[](std::size_t i) const { return items[i]; }
    const Segment* begin() const { return items.data(); }
    const Segment* end() const { return items.data() + count; }
  };
  Segments segments;
};

// The outline of the rectangle (left, top, right, bottom) with corner radii
// clamped to half its shorter side, corners as cubic curves with k = 0.5523.
// None when the rectangle is not finite or has a negative extent.
std::optional<RoundedRectPath> rounded_rect_path(float left, float top, float right, float bottom,
                                                 const Radii& radii);

class SoftwareCanvas {
 public:
  // A transparent w x h canvas; stops the program with "pixmap" when no such pixmap can exist.
  static SoftwareCanvas create(std::uint32_t w, std::uint32_t h);

  SoftwareCanvas(SoftwareCanvas&& other) noexcept;
  SoftwareCanvas& operator=(SoftwareCanvas&& other) noexcept;
  SoftwareCanvas(const SoftwareCanvas&) = delete;
  SoftwareCanvas& operator=(const SoftwareCanvas&) = delete;
  ~SoftwareCanvas();

  CanvasState& state() { return state_; }
  const CanvasState& state() const { return state_; }
  std::uint32_t width() const { return state_.width; }
  std::uint32_t height() const { return state_.height; }

  // A new canvas with the parent's scale, opacity, unit scale and fonts, and
  // the parent's viewport (else its size) as viewport; empty clip and glyph cache.
  SoftwareCanvas sub_canvas(std::uint32_t w, std::uint32_t h) const;

  // A new transparent pixmap replaces the old one; everything else stays.
  void resize(std::uint32_t w, std::uint32_t h);

  void set_clip_rects(std::span<const Rect> rects);
  const std::vector<Rect>& clip_rects() const { return clip_rects_; }
  void reset_clip();
  void clear();
  void clear_color(const Color& color);
  void clear_rects(std::span<const Rect> rects);

  void fill_rounded_rect(const Rect& rect, const Color& color, const Radii& radii);
  void stroke_rounded_rect(const Rect& rect, const Color& color, const Radii& radii, float width);
  void draw_line(const Color& color, float x0, float y0, float x1, float y1, float width);

  // `size` is in logical pixels; no font (or the primary font) means the primary font.
  void draw_text(std::string_view text, float x, float baseline, float size, const Color& color,
                 const FontFace* font = nullptr);
  float measure_text(std::string_view text, float size, const FontFace* font = nullptr);
  FontFace font_for_char(char32_t ch) const;

  // Straight RGBA8 `data` of w x h scaled into `dst`; malformed data is refused
  // with one line on standard error.
  void draw_image_data(std::span<const std::uint8_t> data, std::uint32_t w, std::uint32_t h,
                       const Rect& dst, float opacity);

  // Draws `src` at (x, y), source-over, nearest-neighbour, through the clip,
  // fading its bottom `fade` pixels to transparent. The canvas opacity is not
  // applied again: a sub-canvas already drew its content with it.
  void blit(const SoftwareCanvas& src, int x, int y, float fade = 0.0F);

  // Premultiplied R, G, B, A into `dst` (B, G, R, A with swap_rb).
  void copy_to_buffer(std::span<std::uint8_t> dst, bool swap_rb) const;
  // As copy_to_buffer, but only the pixels covering `rects` (snapped outward
  // to whole pixels, clipped to the canvas); `dst` is a whole frame.
  void copy_rects_to_buffer(std::span<std::uint8_t> dst, std::span<const Rect> rects, bool swap_rb) const;

  // The premultiplied R, G, B, A bytes of one pixel.
  std::array<std::uint8_t, 4> pixel(std::uint32_t x, std::uint32_t y) const;
  // The clip mask byte of one pixel (255 without a clip).
  std::uint8_t clip_mask_at(std::uint32_t x, std::uint32_t y) const;
  std::size_t glyph_cache_size() const { return glyph_cache_.size(); }

 private:
  struct GlyphKey {
    const void* font;
    std::uint32_t size_bits;
    std::uint32_t glyph;
    friend bool operator==(const GlyphKey&, const GlyphKey&) = default;
  };
  struct GlyphKeyHash {
    std::size_t operator()(const GlyphKey& k) const noexcept;
  };

  SoftwareCanvas(cairo_surface_t* surface, CanvasState state);
  // A clip box in whole pixels, right and bottom exclusive.
  struct Box {
    int x0, y0, x1, y1;
  };

  void make_context();
  void apply_clip();
  void check_context();
  void set_paint(const Color& color);
  bool inside_clip(int x, int y) const;

  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  CanvasState state_;
  std::vector<Rect> clip_rects_;
  // The clip mask as the union of whole-pixel boxes: a pixel is inside when
  // its centre lies in one of the (clamped) clip rects. Meaningful only while
  // clip_rects_ is non-empty; no boxes then means nothing can be drawn.
  std::vector<Box> clip_boxes_;
  std::unordered_map<GlyphKey, GlyphBitmap, GlyphKeyHash> glyph_cache_;
};

}  // namespace zem

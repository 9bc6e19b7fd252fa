#include <zem/canvas/software_canvas.hpp>

#include <algorithm>
#include <bit>
#include <tuple>
#include <utility>
#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <zem/text/system_fonts.hpp>
#include <zem/text/shaping.hpp>

namespace zem {

namespace {

[[noreturn]] void stop(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::fflush(stderr);
  std::abort();
}

cairo_surface_t* make_pixmap(std::uint32_t w, std::uint32_t h) {
  if (w == 0 || h == 0 || w > static_cast<std::uint32_t>(std::numeric_limits<int>::max()) ||
      h > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
    stop("pixmap");
  }
  cairo_surface_t* s =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w), static_cast<int>(h));
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS ||
      cairo_image_surface_get_stride(s) != static_cast<int>(w) * 4) {
    cairo_surface_destroy(s);
    stop("pixmap");
  }
  return s;
}

bool finite(float v) { return std::isfinite(v); }

// Nearest integer, halves away from zero.
int rnd(float v) { return static_cast<int>(std::lround(v)); }

// A colour byte from a 0..1 component: trunc(v x 255), 0 for negatives and NaN, at most 255.
std::uint8_t colour_byte(float v) {
  float b = v * 255.0F;
  if (!(b > 0)) return 0;
  if (b >= 255.0F) return 255;
  return static_cast<std::uint8_t>(b);
}

// One native Cairo ARGB32 word: premultiplied, alpha in the top byte.
std::uint32_t argb(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(r) << 16) |
         (static_cast<std::uint32_t>(g) << 8) | b;
}

void add_path(cairo_t* cr, const RoundedRectPath& path) {
  for (const auto& s : path.segments) {
    switch (s.kind) {
      case RoundedRectPath::Segment::Move: cairo_move_to(cr, s.pts[0], s.pts[1]); break;
      case RoundedRectPath::Segment::Line: cairo_line_to(cr, s.pts[0], s.pts[1]); break;
      case RoundedRectPath::Segment::Cubic:
        cairo_curve_to(cr, s.pts[0], s.pts[1], s.pts[2], s.pts[3], s.pts[4], s.pts[5]);
        break;
      case RoundedRectPath::Segment::Close: cairo_close_path(cr); break;
    }
  }
}

// Whether a rectangle can be built: finite, non-negative extent.
bool valid_rect(const Rect& r) {
  return finite(r.x) && finite(r.y) && finite(r.w) && finite(r.h) && r.w >= 0 && r.h >= 0 &&
         finite(r.x + r.w) && finite(r.y + r.h);
}

bool all_square(const Radii& r) { return !(r.tl > 0) && !(r.tr > 0) && !(r.br > 0) && !(r.bl > 0); }

}  // namespace

std::optional<RoundedRectPath> rounded_rect_path(float left, float top, float right, float bottom,
                                                 const Radii& radii) {
  if (!finite(left) || !finite(top) || !finite(right) || !finite(bottom) || right < left ||
      bottom < top || (right == left && bottom == top)) {
    return std::nullopt;
  }
  constexpr float k = 0.5523F;
  const float m = std::max(std::min(right - left, bottom - top) * 0.5F, 0.0F);
  auto clampr = [m](float r) { return std::isnan(r) ? 0.0F : std::max(std::min(r, m), 0.0F); };
  const float tl = clampr(radii.tl);
  const float tr = clampr(radii.tr);
  const float br = clampr(radii.br);
  const float bl = clampr(radii.bl);
  using S = RoundedRectPath::Segment;
  RoundedRectPath p;
  p.segments.push_back({S::Move, {left + tl, top}});
  p.segments.push_back({S::Line, {right - tr, top}});
  if (tr > 0) {
    p.segments.push_back(
        {S::Cubic, {right - tr + k * tr, top, right, top + tr - k * tr, right, top + tr}});
  }
  p.segments.push_back({S::Line, {right, bottom - br}});
  if (br > 0) {
    p.segments.push_back(
        {S::Cubic, {right, bottom - br + k * br, right - br + k * br, bottom, right - br, bottom}});
  }
  p.segments.push_back({S::Line, {left + bl, bottom}});
  if (bl > 0) {
    p.segments.push_back(
        {S::Cubic, {left + bl - k * bl, bottom, left, bottom - bl + k * bl, left, bottom - bl}});
  }
  p.segments.push_back({S::Line, {left, top + tl}});
  if (tl > 0) {
    p.segments.push_back(
        {S::Cubic, {left, top + tl - k * tl, left + tl - k * tl, top, left + tl, top}});
  }
  p.segments.push_back({S::Close, {}});
  return p;
}

std::size_t SoftwareCanvas::GlyphKeyHash::operator()(const GlyphKey& k) const noexcept {
  std::size_t h = std::hash<const void*>{}(k.font);
  h ^= (static_cast<std::size_t>(k.size_bits) * 0x9e3779b97f4a7c15ULL) + (h << 6) + (h >> 2);
  h ^= (static_cast<std::size_t>(k.glyph) * 0xc2b2ae3d27d4eb4fULL) + (h << 6) + (h >> 2);
  return h;
}

SoftwareCanvas::SoftwareCanvas(cairo_surface_t* surface, CanvasState state)
    : surface_(surface), state_(std::move(state)) {
  state_.width = static_cast<std::uint32_t>(cairo_image_surface_get_width(surface));
  state_.height = static_cast<std::uint32_t>(cairo_image_surface_get_height(surface));
  make_context();
}

SoftwareCanvas SoftwareCanvas::create(std::uint32_t w, std::uint32_t h) {
  CanvasState st;
  st.primary_font = primary_font();
  return SoftwareCanvas(make_pixmap(w, h), std::move(st));
}

SoftwareCanvas::SoftwareCanvas(SoftwareCanvas&& o) noexcept
    : surface_(std::exchange(o.surface_, nullptr)),
      cr_(std::exchange(o.cr_, nullptr)),
      state_(std::move(o.state_)),
      clip_rects_(std::move(o.clip_rects_)),
      clip_boxes_(std::move(o.clip_boxes_)),
      glyph_cache_(std::move(o.glyph_cache_)) {}

SoftwareCanvas& SoftwareCanvas::operator=(SoftwareCanvas&& o) noexcept {
  if (this != &o) {
    if (cr_ != nullptr) cairo_destroy(cr_);
    if (surface_ != nullptr) cairo_surface_destroy(surface_);
    surface_ = std::exchange(o.surface_, nullptr);
    cr_ = std::exchange(o.cr_, nullptr);
    state_ = std::move(o.state_);
    clip_rects_ = std::move(o.clip_rects_);
    clip_boxes_ = std::move(o.clip_boxes_);
    glyph_cache_ = std::move(o.glyph_cache_);
  }
  return *this;
}

SoftwareCanvas::~SoftwareCanvas() {
  if (cr_ != nullptr) cairo_destroy(cr_);
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
}

void SoftwareCanvas::make_context() {
  if (cr_ != nullptr) cairo_destroy(cr_);
  cr_ = cairo_create(surface_);
  cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
  cairo_set_miter_limit(cr_, 4.0);
  apply_clip();
}

// Cairo stops drawing for good once a context enters an error state; a
// fresh context keeps one bad call from blanking every later frame.
void SoftwareCanvas::check_context() {
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) make_context();
}

void SoftwareCanvas::apply_clip() {
  cairo_reset_clip(cr_);
  if (clip_rects_.empty()) return;
  cairo_new_path(cr_);
  for (const Box& b : clip_boxes_) cairo_rectangle(cr_, b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0);
  if (clip_boxes_.empty()) cairo_rectangle(cr_, 0, 0, 0, 0);
  cairo_clip(cr_);
}

void SoftwareCanvas::set_paint(const Color& c) {
  const float a = c.a * state_.opacity;
  auto ok = [](float v) { return v >= 0.0F && v <= 1.0F; };  // false for NaN
  if (ok(c.r) && ok(c.g) && ok(c.b) && ok(a)) {
    cairo_set_source_rgba(cr_, c.r, c.g, c.b, a);
  } else {
    cairo_set_source_rgba(cr_, 0, 0, 0, 1);
  }
}

bool SoftwareCanvas::inside_clip(int x, int y) const {
  if (clip_rects_.empty()) return true;
  for (const Box& b : clip_boxes_) {
    if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1) return true;
  }
  return false;
}

SoftwareCanvas SoftwareCanvas::sub_canvas(std::uint32_t w, std::uint32_t h) const {
  CanvasState st;
  st.scale = state_.scale;
  st.opacity = state_.opacity;
  st.unit_scale = state_.unit_scale;
  st.primary_font = state_.primary_font;
  st.theme_fonts = state_.theme_fonts;
  st.viewport = state_.viewport ? *state_.viewport
                                : SizeF{static_cast<float>(state_.width),
                                        static_cast<float>(state_.height)};
  return SoftwareCanvas(make_pixmap(w, h), std::move(st));
}

void SoftwareCanvas::resize(std::uint32_t w, std::uint32_t h) {
  cairo_surface_t* fresh = make_pixmap(w, h);
  if (cr_ != nullptr) cairo_destroy(cr_);
  cr_ = nullptr;
  cairo_surface_destroy(surface_);
  surface_ = fresh;
  state_.width = w;
  state_.height = h;
  // The clip stays; its boxes follow the new size.
  std::vector<Rect> rects = clip_rects_;
  clip_rects_.clear();
  clip_boxes_.clear();
  make_context();
  set_clip_rects(rects);
}

void SoftwareCanvas::set_clip_rects(std::span<const Rect> rects) {
  clip_boxes_.clear();
  clip_rects_.assign(rects.begin(), rects.end());
  const float W = static_cast<float>(state_.width);
  const float H = static_cast<float>(state_.height);
  for (const Rect& r : rects) {
    float l = std::clamp(r.x, 0.0F, W);
    float t = std::clamp(r.y, 0.0F, H);
    float rr = std::clamp(r.x + r.w, 0.0F, W);
    float b = std::clamp(r.y + r.h, 0.0F, H);
    if (!(l < rr) || !(t < b)) continue;  // also skips NaN
    // A pixel belongs to the clip when its centre lies inside.
    Box box{static_cast<int>(std::ceil(l - 0.5F)), static_cast<int>(std::ceil(t - 0.5F)),
            static_cast<int>(std::ceil(rr - 0.5F)), static_cast<int>(std::ceil(b - 0.5F))};
    if (box.x0 < box.x1 && box.y0 < box.y1) clip_boxes_.push_back(box);
  }
  check_context();
  apply_clip();
}

void SoftwareCanvas::reset_clip() {
  clip_rects_.clear();
  clip_boxes_.clear();
  cairo_reset_clip(cr_);
}

std::uint8_t SoftwareCanvas::clip_mask_at(std::uint32_t x, std::uint32_t y) const {
  return inside_clip(static_cast<int>(x), static_cast<int>(y)) ? 255 : 0;
}

void SoftwareCanvas::clear() {
  cairo_surface_flush(surface_);
  std::memset(cairo_image_surface_get_data(surface_), 0,
              static_cast<std::size_t>(state_.width) * state_.height * 4);
  cairo_surface_mark_dirty(surface_);
}

void SoftwareCanvas::clear_color(const Color& color) {
  check_context();
  const float saved = state_.opacity;
  state_.opacity = 1.0F;  // clears ignore the canvas opacity
  set_paint(color);
  state_.opacity = saved;
  if (clip_rects_.empty()) {
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  } else {
    cairo_paint(cr_);
  }
}

void SoftwareCanvas::clear_rects(std::span<const Rect> rects) {
  const int W = static_cast<int>(state_.width);
  const int H = static_cast<int>(state_.height);
  cairo_surface_flush(surface_);
  unsigned char* data = cairo_image_surface_get_data(surface_);
  for (const Rect& r : rects) {
    if (!valid_rect(Rect{r.x, r.y, std::max(r.w, 0.0F), std::max(r.h, 0.0F)})) continue;
    // Saturate before converting so huge values cannot overflow.
    auto to_int = [](double v) {
      return static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0));
    };
    int x0 = std::max(to_int(std::trunc(static_cast<double>(r.x))), 0);
    int y0 = std::max(to_int(std::trunc(static_cast<double>(r.y))), 0);
    int x1 = std::min(to_int(std::ceil(static_cast<double>(r.x) + r.w)), W);
    int y1 = std::min(to_int(std::ceil(static_cast<double>(r.y) + r.h)), H);
    if (x0 >= x1 || y0 >= y1) continue;
    for (int y = y0; y < y1; ++y) {
      std::memset(data + (static_cast<std::size_t>(y) * W + x0) * 4, 0,
                  static_cast<std::size_t>(x1 - x0) * 4);
    }
  }
  cairo_surface_mark_dirty(surface_);
}

namespace {

// Makes the rectangle, with its corners rounded by `radii`, the current path;
// false when the rounded outline cannot be built.
bool set_rounded_rect_path(cairo_t* cr, const Rect& rect, const Radii& radii) {
  cairo_new_path(cr);
  if (all_square(radii)) {
    cairo_rectangle(cr, rect.x, rect.y, rect.w, rect.h);
    return true;
  }
  auto path = rounded_rect_path(rect.x, rect.y, rect.x + rect.w, rect.y + rect.h, radii);
  if (!path) return false;
  add_path(cr, *path);
  return true;
}

}  // namespace

void SoftwareCanvas::fill_rounded_rect(const Rect& rect, const Color& color, const Radii& radii) {
  const float W = static_cast<float>(state_.width);
  const float H = static_cast<float>(state_.height);
  if (rect.x > W || rect.x + rect.w < 0 || rect.y > H || rect.y + rect.h < 0) return;
  if (!valid_rect(rect)) return;
  check_context();
  if (!set_rounded_rect_path(cr_, rect, radii)) return;
  set_paint(color);
  cairo_fill(cr_);
}

void SoftwareCanvas::stroke_rounded_rect(const Rect& rect, const Color& color, const Radii& radii,
                                         float width) {
  if (!valid_rect(rect) || !finite(width) || !(width > 0)) return;
  check_context();
  if (!set_rounded_rect_path(cr_, rect, radii)) return;
  set_paint(color);
  cairo_set_line_width(cr_, width);
  cairo_stroke(cr_);
}

void SoftwareCanvas::draw_line(const Color& color, float x0, float y0, float x1, float y1,
                               float width) {
  if (!finite(x0) || !finite(y0) || !finite(x1) || !finite(y1) || !finite(width) ||
      !(width > 0)) {
    return;
  }
  check_context();
  cairo_new_path(cr_);
  cairo_move_to(cr_, x0, y0);
  cairo_line_to(cr_, x1, y1);
  set_paint(color);
  cairo_set_line_width(cr_, width);
  cairo_stroke(cr_);
}

FontFace SoftwareCanvas::font_for_char(char32_t ch) const {
  const FontFace& primary = state_.primary_font;
  if (primary.face && primary.face->has_glyph(ch)) return primary;
  if (auto fb = fallback_font_for_char(ch)) return *fb;
  return primary;
}

void SoftwareCanvas::draw_text(std::string_view text, float x, float baseline, float size,
                               const Color& color, const FontFace* font) {
  const float px = size * state_.scale;
  const float W = static_cast<float>(state_.width);
  const float H = static_cast<float>(state_.height);
  if (!finite(x) || !finite(baseline) || !finite(px) || !(px > 0)) return;
  if (baseline + 1.5F * px < 0 || x > W || baseline - 1.5F * px > H) return;
  if (!clip_rects_.empty()) {
    bool any = false;
    for (const Rect& r : clip_rects_) {
      if (r.y < baseline + 0.75F * px && r.y + r.h > baseline - 1.5F * px) {
        any = true;
        break;
      }
    }
    if (!any) return;
  }
  const FontFace& primary = state_.primary_font;
  const FontFace& used = font != nullptr && font->face ? *font : primary;
  ShapedRun run = shape_text(text, used.identity(), used, primary, px);
  if (!run || run->empty()) return;

  // Warm the cache, recording where each glyph goes. Room is made before
  // anything is recorded, so one pass suffices whatever the string holds: a
  // string with more distinct glyphs than the cache's limit would otherwise
  // evict its own glyphs and start over for ever. The cache may then run past
  // its limit for that one string; the next miss halves it again.
  struct Placed {
    const GlyphBitmap* bitmap;
    float x;
    float y_offset;
  };
  thread_local std::vector<Placed> placed;
  thread_local std::vector<GlyphKey> missing;
  const std::uint32_t size_bits = std::bit_cast<std::uint32_t>(px);
  missing.clear();
  for (const ShapedGlyph& g : *run) {
    if (!g.font) continue;
    GlyphKey key{g.font.get(), size_bits, g.glyph};
    if (!glyph_cache_.contains(key)) missing.push_back(key);
  }
  if (!missing.empty()) {
    std::sort(missing.begin(), missing.end(), [](const GlyphKey& a, const GlyphKey& b) {
      return std::tie(a.font, a.size_bits, a.glyph) < std::tie(b.font, b.size_bits, b.glyph);
    });
    missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
    while (!glyph_cache_.empty() && glyph_cache_.size() + missing.size() > GLYPH_CACHE_LIMIT) {
      std::size_t drop = glyph_cache_.size() / 2;
      if (drop == 0) drop = 1;
      for (auto e = glyph_cache_.begin(); drop > 0; --drop) e = glyph_cache_.erase(e);
    }
  }
  // Insertions never move existing entries, so the recorded pointers hold.
  placed.clear();
  float pen = x;
  for (const ShapedGlyph& g : *run) {
    if (g.font) {
      GlyphKey key{g.font.get(), size_bits, g.glyph};
      auto it = glyph_cache_.find(key);
      if (it == glyph_cache_.end()) {
        it = glyph_cache_.emplace(key, g.font->rasterize(g.glyph, px)).first;
      }
      placed.push_back(Placed{&it->second, pen + g.x_offset, g.y_offset});
    }
    pen += g.x_advance;
  }

  // Blend the coverage straight into the premultiplied pixels.
  const std::uint32_t Cr = colour_byte(color.r);
  const std::uint32_t Cg = colour_byte(color.g);
  const std::uint32_t Cb = colour_byte(color.b);
  float A = color.a * state_.opacity;
  if (!(A > 0)) return;
  if (A > 1) A = 1;
  const int Wi = static_cast<int>(state_.width);
  const int Hi = static_cast<int>(state_.height);
  cairo_surface_flush(surface_);
  auto* pixels = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface_));
  // Per coverage value: a = A x v / 255 and 1 - a, and the colour share of
  // each channel, so the loop below does two multiply-adds per channel.
  float cov_a[256];
  float cov_ia[256];
  float cov_r[256];
  float cov_g[256];
  float cov_b[256];
  for (int v = 0; v < 256; ++v) {
    const float a = A * static_cast<float>(v) / 255.0F;
    cov_a[v] = a;
    cov_ia[v] = 1.0F - a;
    cov_r[v] = a * static_cast<float>(Cr);
    cov_g[v] = a * static_cast<float>(Cg);
    cov_b[v] = a * static_cast<float>(Cb);
  }
  // Full coverage of an opaque colour replaces the pixel outright.
  const bool opaque = cov_a[255] == 1.0F;
  const std::uint32_t solid = (255U << 24) | (Cr << 16) | (Cg << 8) | Cb;
  const bool check_clip = !clip_rects_.empty();
  for (const Placed& p : placed) {
    const GlyphMetrics& m = p.bitmap->metrics;
    if (m.width == 0 || m.height == 0 || p.bitmap->coverage.empty()) continue;
    const int left = rnd(p.x) + m.xmin;
    const int top = rnd(baseline - p.y_offset) - (m.ymin + static_cast<int>(m.height)) + 1;
    const int gw = static_cast<int>(m.width);
    const int gh = static_cast<int>(m.height);
    if (left >= Wi || top >= Hi || left + gw <= 0 || top + gh <= 0) continue;
    const std::uint8_t* cov = p.bitmap->coverage.data();
    const int col0 = std::max(0, -left);
    const int col1 = std::min(gw, Wi - left);
    for (int row = std::max(0, -top); row < gh && top + row < Hi; ++row) {
      const int py = top + row;
      std::uint32_t* line = pixels + static_cast<std::size_t>(py) * Wi + left;
      const std::uint8_t* crow = cov + static_cast<std::size_t>(row) * gw;
      for (int col = col0; col < col1; ++col) {
        const std::uint8_t v = crow[col];
        if (v == 0) continue;
        if (check_clip && !inside_clip(left + col, py)) continue;
        if (v == 255 && opaque) {
          line[col] = solid;
          continue;
        }
        const float ia = cov_ia[v];
        const std::uint32_t d = line[col];
        auto ch = [](float x) { return static_cast<std::uint32_t>(std::min(x, 255.0F)); };
        const std::uint32_t r = ch(cov_r[v] + ia * static_cast<float>((d >> 16) & 0xFF));
        const std::uint32_t g = ch(cov_g[v] + ia * static_cast<float>((d >> 8) & 0xFF));
        const std::uint32_t b = ch(cov_b[v] + ia * static_cast<float>(d & 0xFF));
        const std::uint32_t al =
            ch((cov_a[v] + ia * static_cast<float>(d >> 24) / 255.0F) * 255.0F);
        line[col] = (al << 24) | (r << 16) | (g << 8) | b;
      }
    }
  }
  cairo_surface_mark_dirty(surface_);
}

float SoftwareCanvas::measure_text(std::string_view text, float size, const FontFace* font) {
  if (text.empty()) return 0;
  const float px = size * state_.scale;
  const FontFace& primary = state_.primary_font;
  const FontFace& used = font != nullptr && font->face ? *font : primary;
  ShapedRun run = shape_text(text, used.identity(), used, primary, px);
  if (run && !run->empty()) return run_width(run);
  // Nothing shaped: add up the characters' own advances.
  float total = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    if (i + n > text.size()) n = 1;
    char32_t cp = n == 1 ? b : (b & (0x7F >> n));
    for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += n;
    FontFace f = font != nullptr && font->face ? *font : font_for_char(cp);
    if (!f.face) continue;
    total += f.face->advance_width(f.face->glyph_index(cp), px);
  }
  return total;
}

void SoftwareCanvas::draw_image_data(std::span<const std::uint8_t> data, std::uint32_t w,
                                     std::uint32_t h, const Rect& dst, float opacity) {
  std::size_t expected = std::numeric_limits<std::size_t>::max();
  {
    std::size_t p = 0;
    if (!__builtin_mul_overflow(static_cast<std::size_t>(w), static_cast<std::size_t>(h), &p) &&
        !__builtin_mul_overflow(p, std::size_t{4}, &p)) {
      expected = p;
    }
  }
  if (w == 0 || h == 0 || data.size() != expected) {
    std::fprintf(stderr,
                 "[zem] SoftwareCanvas::draw_image_data: refusing draw \u2014 %u\u00d7%u declared, "
                 "%zu bytes provided, expected %zu\n",
                 w, h, data.size(), expected);
    return;
  }
  if (w > 32767 || h > 32767) return;  // larger than any image surface
  if (!valid_rect(Rect{dst.x, dst.y, std::fabs(dst.w), std::fabs(dst.h)})) return;
  const int dw = rnd(dst.w);
  const int dh = rnd(dst.h);
  if (dw == 0 || dh == 0) return;  // a zero scale cannot be drawn

  thread_local std::vector<std::uint32_t> buffer;
  buffer.resize(static_cast<std::size_t>(w) * h);
  float f_scale = opacity * state_.opacity;
  if (!(f_scale > 0)) return;
  if (f_scale > 1) f_scale = 1;
  // f for every alpha value; opaque and empty pixels need no arithmetic.
  float f_of[256];
  for (int a = 0; a < 256; ++a) f_of[a] = static_cast<float>(a) / 255.0F * f_scale;
  const bool unit = f_scale == 1.0F;
  const std::uint8_t* src = data.data();
  for (std::size_t i = 0, n = buffer.size(); i < n; ++i, src += 4) {
    const std::uint8_t alpha = src[3];
    if (alpha == 0) {
      buffer[i] = 0;
      continue;
    }
    if (alpha == 255 && unit) {
      buffer[i] = argb(src[0], src[1], src[2], 255);
      continue;
    }
    const float f = f_of[alpha];
    auto c = [f](std::uint8_t v) {
      return static_cast<std::uint8_t>(std::min(static_cast<float>(v) * f, 255.0F));
    };
    buffer[i] = argb(c(src[0]), c(src[1]), c(src[2]),
                     static_cast<std::uint8_t>(std::min(f * 255.0F, 255.0F)));
  }
  cairo_surface_t* img = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(buffer.data()), CAIRO_FORMAT_ARGB32, static_cast<int>(w),
      static_cast<int>(h), static_cast<int>(w) * 4);
  if (cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(img);
    return;
  }
  check_context();
  cairo_save(cr_);
  cairo_translate(cr_, rnd(dst.x), rnd(dst.y));
  cairo_scale(cr_, static_cast<double>(dw) / w, static_cast<double>(dh) / h);
  cairo_set_source_surface(cr_, img, 0, 0);
  cairo_pattern_t* pat = cairo_get_source(cr_);
  cairo_pattern_set_filter(pat, CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, 0, 0, w, h);
  cairo_fill(cr_);
  cairo_restore(cr_);
  cairo_surface_destroy(img);
  check_context();
}

void SoftwareCanvas::blit(const SoftwareCanvas& src, int x, int y, float fade) {
  check_context();
  cairo_surface_flush(src.surface_);
  cairo_set_source_surface(cr_, src.surface_, x, y);
  cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
  const double sh = static_cast<double>(src.state_.height);
  const double f = std::isfinite(fade) ? std::clamp(static_cast<double>(fade), 0.0, sh) : 0.0;
  if (f > 0) {
    // Transparent at the bottom edge, full from `f` pixels above it.
    cairo_pattern_t* mask = cairo_pattern_create_linear(0, y + sh, 0, y + sh - f);
    cairo_pattern_add_color_stop_rgba(mask, 0, 0, 0, 0, 0);
    cairo_pattern_add_color_stop_rgba(mask, 1, 0, 0, 0, 1);
    cairo_pattern_set_extend(mask, CAIRO_EXTEND_PAD);
    cairo_mask(cr_, mask);
    cairo_pattern_destroy(mask);
  } else {
    cairo_paint(cr_);
  }
  cairo_set_source_rgba(cr_, 0, 0, 0, 1);  // drop the reference to src
}

void SoftwareCanvas::copy_to_buffer(std::span<std::uint8_t> dst, bool swap_rb) const {
  cairo_surface_flush(surface_);
  const std::size_t total = static_cast<std::size_t>(state_.width) * state_.height * 4;
  const std::size_t n = std::min(total, dst.size());
  const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface_));
  const std::size_t whole = n / 4;
  std::uint8_t* out = dst.data();
  if (swap_rb) {
    // B, G, R, A: Cairo's own word read as little-endian bytes.
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, px, whole * 4);
    } else {
      for (std::size_t i = 0; i < whole; ++i) {
        std::uint32_t p = px[i];
        out[4 * i] = static_cast<std::uint8_t>(p);
        out[4 * i + 1] = static_cast<std::uint8_t>(p >> 8);
        out[4 * i + 2] = static_cast<std::uint8_t>(p >> 16);
        out[4 * i + 3] = static_cast<std::uint8_t>(p >> 24);
      }
    }
    return;
  }
  for (std::size_t i = 0; i < whole; ++i) {
    std::uint32_t p = px[i];
    out[4 * i] = static_cast<std::uint8_t>(p >> 16);
    out[4 * i + 1] = static_cast<std::uint8_t>(p >> 8);
    out[4 * i + 2] = static_cast<std::uint8_t>(p);
    out[4 * i + 3] = static_cast<std::uint8_t>(p >> 24);
  }
  if (n % 4 != 0) {
    // The bytes of a trailing partial pixel, in R, G, B, A order.
    std::uint32_t p = px[whole];
    const std::uint8_t rgba[4] = {static_cast<std::uint8_t>(p >> 16),
                                  static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p),
                                  static_cast<std::uint8_t>(p >> 24)};
    std::memcpy(out + whole * 4, rgba, n % 4);
  }
}

void SoftwareCanvas::copy_rects_to_buffer(std::span<std::uint8_t> dst, std::span<const Rect> rects,
                                          bool swap_rb) const {
  cairo_surface_flush(surface_);
  const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface_));
  const std::size_t W = state_.width;
  const std::size_t H = state_.height;
  if (dst.size() < W * H * 4) return;
  for (const Rect& r : rects) {
    // Whole pixels covering the rectangle, inside the canvas.
    if (!finite(r.x) || !finite(r.y) || !finite(r.w) || !finite(r.h)) continue;
    const auto clampi = [](float v, std::size_t hi) {
      return static_cast<std::size_t>(std::clamp(v, 0.0F, static_cast<float>(hi)));
    };
    const std::size_t x0 = clampi(std::floor(r.x), W), x1 = clampi(std::ceil(r.x + r.w), W);
    const std::size_t y0 = clampi(std::floor(r.y), H), y1 = clampi(std::ceil(r.y + r.h), H);
    if (x0 >= x1 || y0 >= y1) continue;
    for (std::size_t y = y0; y < y1; ++y) {
      const std::uint32_t* in = px + y * W + x0;
      std::uint8_t* out = dst.data() + (y * W + x0) * 4;
      const std::size_t n = x1 - x0;
      if (swap_rb && std::endian::native == std::endian::little) {
        std::memcpy(out, in, n * 4);
        continue;
      }
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t p = in[i];
        const std::uint8_t r8 = static_cast<std::uint8_t>(p >> 16), b8 = static_cast<std::uint8_t>(p);
        out[4 * i] = swap_rb ? b8 : r8;
        out[4 * i + 1] = static_cast<std::uint8_t>(p >> 8);
        out[4 * i + 2] = swap_rb ? r8 : b8;
        out[4 * i + 3] = static_cast<std::uint8_t>(p >> 24);
      }
    }
  }
}

std::array<std::uint8_t, 4> SoftwareCanvas::pixel(std::uint32_t x, std::uint32_t y) const {
  cairo_surface_flush(surface_);
  const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface_));
  std::uint32_t p = px[static_cast<std::size_t>(y) * state_.width + x];
  return {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
          static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 24)};
}

}  // namespace zem

#include <zem/canvas/canvas.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <zem/text/system_fonts.hpp>
#include <zem/text/shaping.hpp>

namespace zem {

namespace {

thread_local bool t_software_renderer_active = false;

[[noreturn]] void stop(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::fflush(stderr);
  std::abort();
}

// The responsive value of `base` against a viewport (vw, vh), held between
// 0.7 base and 1.5 base whichever way round they fall.
float responsive(float base, float vw, float vh) {
  float percent = base / REFERENCE_SIDE * 100.0F;
  float value = percent * std::min(vw, vh) / 100.0F;
  float a = 0.7F * base;
  float b = 1.5F * base;
  return std::clamp(value, std::min(a, b), std::max(a, b));
}

Color first_stop_color(const std::vector<GradientStop>& stops) {
  if (stops.empty()) return Color{0, 0, 0, 0};
  const GradientStop& s = stops.front();
  return Color{s.r, s.g, s.b, s.a};
}

}  // namespace

Canvas Canvas::new_software(std::uint32_t w, std::uint32_t h) {
  return Canvas(SoftwareCanvas::create(w, h));
}

Canvas Canvas::new_gles(std::shared_ptr<GlDevice> gl, std::uint32_t w, std::uint32_t h,
                        bool gles3) {
  return Canvas(GlesCanvas::create(std::move(gl), w, h, gles3));
}

CanvasState& Canvas::state() {
  return std::visit([](auto& b) -> CanvasState& { return b.state(); }, backend_);
}

const CanvasState& Canvas::state() const {
  return std::visit([](const auto& b) -> const CanvasState& { return b.state(); }, backend_);
}

void Canvas::resize(std::uint32_t w, std::uint32_t h) {
  std::visit([&](auto& b) { b.resize(w, h); }, backend_);
}

Canvas Canvas::sub_canvas(std::uint32_t w, std::uint32_t h) const {
  if (const SoftwareCanvas* sw = software()) return Canvas(sw->sub_canvas(w, h));
  return Canvas(gles()->sub_canvas(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)));
}

void Canvas::blit(const Canvas& src, std::int32_t x, std::int32_t y) {
  blit_with_fade(src, x, y, 0.0F);
}

void Canvas::blit_with_fade(const Canvas& src, std::int32_t x, std::int32_t y, float fade) {
  if (SoftwareCanvas* sw = software()) {
    const SoftwareCanvas* s = src.software();
    if (s == nullptr) stop("not implemented: cross-backend blit not supported");
    sw->blit(*s, x, y, fade);
    return;
  }
  const GlesCanvas* s = src.gles();
  if (s == nullptr) stop("not implemented: cross-backend blit not supported");
  gles()->blit(*s, x, y, fade);
}

void Canvas::copy_to_buffer(std::span<std::uint8_t> dst, bool swap_rb) const {
  if (const SoftwareCanvas* sw = software()) sw->copy_to_buffer(dst, swap_rb);
}

void Canvas::copy_rects_to_buffer(std::span<std::uint8_t> dst, std::span<const Rect> rects, bool swap_rb) const {
  if (const SoftwareCanvas* sw = software()) sw->copy_rects_to_buffer(dst, rects, swap_rb);
}

void Canvas::present() {
  if (GlesCanvas* gl = gles()) gl->present();
}

void Canvas::set_clip_rects(std::span<const Rect> rects) {
  std::visit([&](auto& b) { b.set_clip_rects(rects); }, backend_);
}

std::vector<Rect> Canvas::clip_rects() const {
  if (const SoftwareCanvas* sw = software()) return sw->clip_rects();
  return gles()->clip_rects();
}

void Canvas::reset_clip() {
  std::visit([](auto& b) { b.reset_clip(); }, backend_);
}

void Canvas::clear() {
  std::visit([](auto& b) { b.clear(); }, backend_);
}

void Canvas::clear_color(const Color& color) {
  std::visit([&](auto& b) { b.clear_color(color); }, backend_);
}

void Canvas::clear_rects(std::span<const Rect> rects) {
  std::visit([&](auto& b) { b.clear_rects(rects); }, backend_);
}

void Canvas::fill_rounded_rect(const Rect& rect, const Color& color, const Radii& radii) {
  std::visit([&](auto& b) { b.fill_rounded_rect(rect, color, radii); }, backend_);
}

void Canvas::stroke_rounded_rect(const Rect& rect, const Color& color, const Radii& radii,
                                 float width) {
  std::visit([&](auto& b) { b.stroke_rounded_rect(rect, color, radii, width); }, backend_);
}

void Canvas::draw_line(const Color& color, float x0, float y0, float x1, float y1, float width) {
  std::visit([&](auto& b) { b.draw_line(color, x0, y0, x1, y1, width); }, backend_);
}

void Canvas::draw_text(std::string_view text, float x, float baseline, float size,
                       const Color& color, const FontFace* font) {
  std::visit([&](auto& b) { b.draw_text(text, x, baseline, size, color, font); }, backend_);
  if (std::optional<Rect>* ink = state().text_ink; ink != nullptr && !text.empty()) {
    const float w = measure_text(text, size, font);
    float ascent = 0.8F * size * scale(), descent = 0.2F * size * scale();
    if (const FontFace& primary = primary_font(); primary.face) {
      if (auto m = primary.face->horizontal_line_metrics(size * scale())) {
        ascent = m->ascent;
        descent = std::max(m->new_line_size - m->ascent, 0.0F);
      }
    }
    note_text_extent(Rect{x, baseline - ascent, w, ascent + descent});
  }
}

void Canvas::note_text_extent(const Rect& box) {
  std::optional<Rect>* ink = state().text_ink;
  if (ink == nullptr) return;
  if (!*ink) {
    *ink = box;
    return;
  }
  const float x0 = std::min((*ink)->x, box.x), y0 = std::min((*ink)->y, box.y);
  const float x1 = std::max((*ink)->x + (*ink)->w, box.x + box.w);
  const float y1 = std::max((*ink)->y + (*ink)->h, box.y + box.h);
  *ink = Rect{x0, y0, x1 - x0, y1 - y0};
}

void Canvas::draw_text_with_font(std::string_view text, float x, float baseline, float size,
                                 const Color& color, const FontFace& font) {
  draw_text(text, x, baseline, size, color, &font);
}

float Canvas::measure_text(std::string_view text, float size, const FontFace* font) {
  return std::visit([&](auto& b) { return b.measure_text(text, size, font); }, backend_);
}

float Canvas::measure_text_with_font(std::string_view text, float size, const FontFace& font) {
  return measure_text(text, size, &font);
}

void Canvas::draw_image_data(std::span<const std::uint8_t> data, std::uint32_t w,
                             std::uint32_t h, const Rect& dst, float opacity) {
  std::visit([&](auto& b) { b.draw_image_data(data, w, h, dst, opacity); }, backend_);
}

void Canvas::fill_rect_radius(const Rect& rect, const Color& color, float radius) {
  fill_rounded_rect(rect, color, Radii::all(radius));
}

void Canvas::stroke_rect_radius(const Rect& rect, const Color& color, float width, float radius) {
  stroke_rounded_rect(rect, color, Radii::all(radius), width);
}

void Canvas::fill_paint(const Rect& rect, const Paint& paint, const Radii& radii) {
  if (const Color* c = std::get_if<Color>(&paint)) {
    fill_rounded_rect(rect, *c, radii);
    return;
  }
  if (GlesCanvas* gl = gles()) {
    if (const auto* lin = std::get_if<LinearGradient>(&paint)) {
      gl->fill_linear_gradient(rect, *lin, radii);
    } else {
      gl->fill_radial_gradient(rect, std::get<RadialGradient>(paint), radii);
    }
    return;
  }
  const auto& stops = std::holds_alternative<LinearGradient>(paint)
                          ? std::get<LinearGradient>(paint).stops
                          : std::get<RadialGradient>(paint).stops;
  fill_rounded_rect(rect, first_stop_color(stops), radii);
}

void Canvas::fill_paint_radius(const Rect& rect, const Paint& paint, float radius) {
  fill_paint(rect, paint, Radii::all(radius));
}

void Canvas::draw_surface(const Rect& rect, const Paint& paint,
                          std::span<const Shadow> drop_shadows,
                          std::span<const Shadow> inset_shadows, float radius) {
  Radii radii = Radii::all(radius);
  GlesCanvas* gl = gles();
  if (gl != nullptr) {
    for (const Shadow& s : drop_shadows) gl->drop_shadow(rect, s, radii);
  }
  fill_paint(rect, paint, radii);
  if (gl != nullptr) {
    for (const Shadow& s : inset_shadows) gl->inset_shadow(rect, s, radii);
  }
}

// Every length resolves in one space: logical units against the logical
// viewport, then times the buffer scale. A page at scale 2 is then the
// scale-1 page drawn at twice the resolution, and responsive bounds, `px`
// lengths and text sizes (logical, scaled by the back end) agree.
namespace {
float scale_of(const CanvasState& st) { return st.scale > 0 ? st.scale : 1.0F; }
SizeF logical_viewport(const CanvasState& st) {
  SizeF v = st.metric_size();
  const float s = scale_of(st);
  return {v.w / s, v.h / s};
}
}  // namespace

float Canvas::resolve_length(const Length& length) const {
  const CanvasState& st = state();
  SizeF v = logical_viewport(st);
  return length.resolve(v.w, v.h, 16.0F, st.unit_scale.value_or(UNIT_SCALE)) * scale_of(st);
}

float Canvas::resolve_text_length(const Length& length) const {
  const CanvasState& st = state();
  SizeF v = logical_viewport(st);
  return length.resolve(v.w, v.h, 16.0F, st.unit_scale.value_or(UNIT_SCALE)) * text_scale();
}

float Canvas::responsive_px(float base) const {
  const CanvasState& st = state();
  SizeF v = logical_viewport(st);
  return responsive(base, v.w, v.h) * scale_of(st);
}

float Canvas::responsive_text_px(float base) const {
  SizeF v = logical_viewport(state());
  return responsive(base, v.w, v.h) * text_scale();
}

float Canvas::px(float logical) const { return logical * scale_of(state()); }

void Canvas::set_theme_fonts(std::shared_ptr<const FontRegistry> registry) {
  clear_shape_cache();
  state().theme_fonts = std::move(registry);
}

FontFace Canvas::resolve_font(std::string_view family, std::uint16_t weight,
                              std::uint8_t style) const {
  const CanvasState& st = state();
  if (st.theme_fonts) {
    FontStyle fs = style == 0 ? FontStyle::Normal : FontStyle::Italic;
    if (auto face = st.theme_fonts->lookup(family, weight, fs)) return *face;
  }
  return st.primary_font;
}

GlyphMetrics Canvas::glyph_metrics(char32_t ch, float size) const {
  const CanvasState& st = state();
  const Font& font = *st.primary_font.face;
  return font.metrics(font.glyph_index(ch), size * st.scale);
}

void set_software_renderer_active(bool active) { t_software_renderer_active = active; }

bool software_renderer_active() { return t_software_renderer_active; }

}  // namespace zem

// The OpenGL ES canvas: draws into its own framebuffer's colour texture, which
// `present` copies onto the window. Colours are premultiplied on the GPU and
// blended with (ONE, ONE_MINUS_SRC_ALPHA); rectangles are signed-distance
// quads; text comes from a glyph atlas filled by the same rasteriser the
// software canvas uses.
#include <zem/canvas/gles_canvas.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>
#include <unordered_map>

#include <zem/canvas/gl_api.hpp>
#include <zem/canvas/gles_helpers.hpp>
#include <zem/text/shaping.hpp>
#include <zem/text/system_fonts.hpp>
#include <zem/theme/gradient_lut.hpp>

#include "gles_shared.hpp"

namespace zem {

namespace {

constexpr std::size_t ATLAS_ENTRY_LIMIT = 8192;
constexpr std::uint64_t IMAGE_BUDGET = 33554432;

[[noreturn]] void stop(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

float round_away(float v) { return std::round(v); }

struct GlyphKey {
  const void* font;
  std::uint16_t glyph;
  std::uint32_t size_key;
  friend bool operator==(const GlyphKey&, const GlyphKey&) = default;
};
struct GlyphKeyHash {
  std::size_t operator()(const GlyphKey& k) const noexcept {
    return std::hash<const void*>()(k.font) ^ (std::size_t{k.glyph} << 20) ^ (std::size_t{k.size_key} * 0x9E3779B97F4A7C15ULL);
  }
};
struct GlyphEntry {
  GlyphMetrics metrics;
  std::uint32_t aw = 0, ah = 0, ax = 0, ay = 0;  // atlas rect; empty = never drawn
};

struct ImageKey {
  std::uint32_t w, h;
  std::uint64_t hash;
  friend bool operator==(const ImageKey&, const ImageKey&) = default;
};
struct ImageKeyHash {
  std::size_t operator()(const ImageKey& k) const noexcept { return k.hash ^ (std::size_t{k.w} << 32) ^ k.h; }
};

}  // namespace

struct GlesCanvas::Impl {
  std::shared_ptr<GlDevice> dev;
  const GlShared* sh = nullptr;
  bool gles3 = true;
  GLuint fbo = 0, color_tex = 0;
  GLuint atlas_tex = 0;
  AtlasPacker packer;
  std::unordered_map<GlyphKey, GlyphEntry, GlyphKeyHash> glyphs;
  std::unordered_map<std::uint64_t, GLuint> lut_cache;
  struct CachedImage {
    GLuint texture;
    std::list<ImageKey>::iterator lru;
  };
  std::unordered_map<ImageKey, CachedImage, ImageKeyHash> images;
  std::list<ImageKey> image_lru;  // least recently drawn first
  std::uint64_t image_bytes = 0;
  GLuint snapshot_fbo = 0, snapshot_tex = 0;
  std::optional<Rect> clip;
  std::vector<float> text_vertices;

  const GlFunctions& gl() const { return dev->fn(); }

  ~Impl() {
    if (!dev) return;
    const GlFunctions& g = gl();
    if (fbo != 0) g.glDeleteFramebuffers(1, &fbo);
    if (color_tex != 0) g.glDeleteTextures(1, &color_tex);
    if (snapshot_fbo != 0) g.glDeleteFramebuffers(1, &snapshot_fbo);
    if (snapshot_tex != 0) g.glDeleteTextures(1, &snapshot_tex);
    if (atlas_tex != 0) g.glDeleteTextures(1, &atlas_tex);
    for (auto& [k, t] : images) g.glDeleteTextures(1, &t.texture);
    for (auto& [k, t] : lut_cache) g.glDeleteTextures(1, &t);
  }

  GLuint create_texture(std::uint32_t w, std::uint32_t h) const {
    const GlFunctions& g = gl();
    GLuint t = 0;
    g.glGenTextures(1, &t);
    if (t == 0) stop("create_texture");
    g.glBindTexture(GL_TEXTURE_2D, t);
    g.glTexImage2D(GL_TEXTURE_2D, 0, gles3 ? GL_RGBA8 : GL_RGBA, static_cast<GLsizei>(w), static_cast<GLsizei>(h), 0,
                   GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    params(GL_NEAREST);
    g.glBindTexture(GL_TEXTURE_2D, 0);
    return t;
  }

  void params(GLint filter) const {
    const GlFunctions& g = gl();
    g.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    g.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    g.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    g.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }

  GLuint create_atlas() const {
    const GlFunctions& g = gl();
    GLuint t = 0;
    g.glGenTextures(1, &t);
    g.glBindTexture(GL_TEXTURE_2D, t);
    g.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const GLint internal = gles3 ? GL_R8 : GL_LUMINANCE;
    const GLenum format = gles3 ? GL_RED : GL_LUMINANCE;
    g.glTexImage2D(GL_TEXTURE_2D, 0, internal, AtlasPacker::SIDE, AtlasPacker::SIDE, 0, format, GL_UNSIGNED_BYTE,
                   nullptr);
    g.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    params(GL_NEAREST);
    g.glBindTexture(GL_TEXTURE_2D, 0);
    return t;
  }

  // Straight RGBA8 in, premultiplied texture out; malformed sizes become one
  // transparent pixel.
  GLuint upload_rgba_texture(std::span<const std::uint8_t> bytes, std::int32_t w, std::int32_t h) const {
    const std::int64_t expected = static_cast<std::int64_t>(w) * h * 4;
    static const std::uint8_t transparent[4] = {0, 0, 0, 0};
    std::span<const std::uint8_t> data = bytes;
    if (w <= 0 || h <= 0 || static_cast<std::int64_t>(bytes.size()) != expected) {
      std::fprintf(stderr,
                   "[zem] upload_rgba_texture: refusing malformed upload \u2014 %d\u00d7%d declared, %zu bytes "
                   "provided, expected %lld\n",
                   w, h, bytes.size(), static_cast<long long>(expected < 0 ? 0 : expected));
      data = transparent;
      w = h = 1;
    }
    std::vector<std::uint8_t> pre(data.begin(), data.end());
    for (std::size_t i = 0; i + 3 < pre.size(); i += 4) {
      const unsigned a = pre[i + 3];
      for (int c = 0; c < 3; ++c) pre[i + c] = static_cast<std::uint8_t>((pre[i + c] * a + 127) / 255);
    }
    const GlFunctions& g = gl();
    GLuint t = 0;
    g.glGenTextures(1, &t);
    g.glBindTexture(GL_TEXTURE_2D, t);
    g.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pre.data());
    params(GL_LINEAR);
    g.glBindTexture(GL_TEXTURE_2D, 0);
    return t;
  }

  void attach(GLuint target_fbo, GLuint tex) const {
    gl().glBindFramebuffer(GL_FRAMEBUFFER, target_fbo);
    gl().glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
  }

  // Binds the unit quad's layout (a vertex array on ES 3, the buffer on ES 2).
  void bind_quad() const {
    const GlFunctions& g = gl();
    if (gles3) {
      g.glBindVertexArray(sh->unit_quad_vao);
      return;
    }
    g.glBindBuffer(GL_ARRAY_BUFFER, sh->unit_quad_vbo);
    g.glEnableVertexAttribArray(0);
    g.glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 8, nullptr);
  }
  void unbind_quad() const {
    if (gles3) gl().glBindVertexArray(0);
    else gl().glBindBuffer(GL_ARRAY_BUFFER, 0);
  }
};

namespace {

GLuint make_fbo(const GlFunctions& g, const char* what) {
  GLuint f = 0;
  g.glGenFramebuffers(1, &f);
  if (f == 0) stop(std::string(what) + " " + hex(g.glGetError()));
  return f;
}

void check_complete(const GlFunctions& g, const char* what) {
  GLenum st = g.glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (st != GL_FRAMEBUFFER_COMPLETE) stop(std::string(what) + hex(st));
}

}  // namespace

GlesCanvas GlesCanvas::create(std::shared_ptr<GlDevice> dev, std::uint32_t w, std::uint32_t h, bool gles3) {
  CanvasState st;
  st.width = w;
  st.height = h;
  st.primary_font = primary_font();
  auto impl = std::make_unique<Impl>();
  impl->gles3 = gles3;
  impl->sh = &dev->shared();
  impl->dev = std::move(dev);
  const GlFunctions& g = impl->gl();
  impl->fbo = make_fbo(g, "create_framebuffer");
  impl->color_tex = impl->create_texture(w, h);
  impl->attach(impl->fbo, impl->color_tex);
  check_complete(g, "FBO incomplete: ");
  g.glEnable(GL_BLEND);
  g.glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  g.glViewport(0, 0, static_cast<GLsizei>(w), static_cast<GLsizei>(h));
  g.glDisable(GL_SCISSOR_TEST);
  g.glClearColor(0, 0, 0, 0);
  g.glClear(GL_COLOR_BUFFER_BIT);
  impl->atlas_tex = impl->create_atlas();
  return GlesCanvas(std::move(impl), std::move(st));
}

GlesCanvas::GlesCanvas(std::unique_ptr<Impl> impl, CanvasState state)
    : impl_(std::move(impl)), state_(std::move(state)) {}
GlesCanvas::GlesCanvas(GlesCanvas&&) noexcept = default;
GlesCanvas& GlesCanvas::operator=(GlesCanvas&&) noexcept = default;
GlesCanvas::~GlesCanvas() = default;

std::uint32_t GlesCanvas::framebuffer() const { return impl_->fbo; }
std::uint32_t GlesCanvas::color_texture() const { return impl_->color_tex; }

std::vector<std::uint8_t> GlesCanvas::read_pixels() const {
  const GlFunctions& g = impl_->gl();
  const std::uint32_t W = width(), H = height();
  std::vector<std::uint8_t> up(static_cast<std::size_t>(W) * H * 4);
  g.glBindFramebuffer(GL_FRAMEBUFFER, impl_->fbo);
  g.glPixelStorei(GL_PACK_ALIGNMENT, 1);
  g.glReadPixels(0, 0, static_cast<GLsizei>(W), static_cast<GLsizei>(H), GL_RGBA, GL_UNSIGNED_BYTE, up.data());
  std::vector<std::uint8_t> out(up.size());
  const std::size_t row = static_cast<std::size_t>(W) * 4;
  for (std::uint32_t y = 0; y < H; ++y) std::copy_n(&up[(H - 1 - y) * row], row, &out[y * row]);
  return out;
}

void GlesCanvas::resize(std::uint32_t w, std::uint32_t h) {
  if (w == width() && h == height()) return;
  state_.width = w;
  state_.height = h;
  const GlFunctions& g = impl_->gl();
  g.glDeleteTextures(1, &impl_->color_tex);
  impl_->color_tex = impl_->create_texture(w, h);
  impl_->attach(impl_->fbo, impl_->color_tex);
  g.glViewport(0, 0, static_cast<GLsizei>(w), static_cast<GLsizei>(h));
  g.glDisable(GL_SCISSOR_TEST);
  g.glClearColor(0, 0, 0, 0);
  g.glClear(GL_COLOR_BUFFER_BIT);
  if (impl_->clip) bind_target();
  if (impl_->snapshot_fbo != 0) {
    g.glDeleteFramebuffers(1, &impl_->snapshot_fbo);
    g.glDeleteTextures(1, &impl_->snapshot_tex);
    impl_->snapshot_fbo = impl_->snapshot_tex = 0;
  }
}

GlesCanvas GlesCanvas::sub_canvas(std::int32_t w, std::int32_t h) const {
  const GlFunctions& g = impl_->gl();
  auto impl = std::make_unique<Impl>();
  impl->dev = impl_->dev;
  impl->sh = impl_->sh;
  impl->gles3 = impl_->gles3;
  const auto uw = static_cast<std::uint32_t>(std::max(w, 0));
  const auto uh = static_cast<std::uint32_t>(std::max(h, 0));
  impl->fbo = make_fbo(g, "create_framebuffer");
  impl->color_tex = impl->create_texture(uw, uh);
  impl->attach(impl->fbo, impl->color_tex);
  check_complete(g, "sub-FBO incomplete: ");
  impl->atlas_tex = impl->create_atlas();
  g.glBindFramebuffer(GL_FRAMEBUFFER, impl->fbo);
  CanvasState st = state_;
  st.width = uw;
  st.height = uh;
  st.viewport = state_.metric_size();
  return GlesCanvas(std::move(impl), std::move(st));
}

void GlesCanvas::bind_target() {
  const GlFunctions& g = impl_->gl();
  const float H = static_cast<float>(height());
  g.glBindFramebuffer(GL_FRAMEBUFFER, impl_->fbo);
  g.glViewport(0, 0, static_cast<GLsizei>(width()), static_cast<GLsizei>(height()));
  if (const auto& c = impl_->clip) {
    g.glEnable(GL_SCISSOR_TEST);
    g.glScissor(static_cast<GLint>(std::floor(c->x)),
                static_cast<GLint>(std::max(0.0F, H - std::floor(c->y) - std::ceil(c->h))),
                static_cast<GLsizei>(std::max(0.0F, std::ceil(c->w))),
                static_cast<GLsizei>(std::max(0.0F, std::ceil(c->h))));
  } else {
    g.glDisable(GL_SCISSOR_TEST);
  }
}

// One scissor box: the clip list's bounding box within the canvas.
void GlesCanvas::set_clip_rects(std::span<const Rect> rects) {
  if (rects.empty()) {
    impl_->clip.reset();
    bind_target();
    return;
  }
  float x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (const Rect& r : rects) {
    x0 = std::fmin(x0, r.x);
    y0 = std::fmin(y0, r.y);
    x1 = std::fmax(x1, r.x + r.w);
    y1 = std::fmax(y1, r.y + r.h);
  }
  const float W = static_cast<float>(width()), H = static_cast<float>(height());
  x0 = std::clamp(x0, 0.0F, W);
  y0 = std::clamp(y0, 0.0F, H);
  x1 = std::clamp(x1, 0.0F, W);
  y1 = std::clamp(y1, 0.0F, H);
  if (x1 > x0 && y1 > y0) {
    impl_->clip = Rect{x0, y0, x1 - x0, y1 - y0};
    bind_target();
  } else {
    impl_->clip = Rect{0, 0, 0, 0};
    bind_target();
    impl_->gl().glScissor(0, static_cast<GLint>(H), 0, 0);
  }
}

std::vector<Rect> GlesCanvas::clip_rects() const {
  if (impl_->clip) return {*impl_->clip};
  return {};
}

void GlesCanvas::reset_clip() {
  impl_->clip.reset();
  impl_->gl().glDisable(GL_SCISSOR_TEST);
}

void GlesCanvas::clear() {
  bind_target();
  impl_->gl().glClearColor(0, 0, 0, 0);
  impl_->gl().glClear(GL_COLOR_BUFFER_BIT);
}

// The pipeline is premultiplied, so the clear colour is too.
void GlesCanvas::clear_color(const Color& c) {
  bind_target();
  impl_->gl().glClearColor(c.r * c.a, c.g * c.a, c.b * c.a, c.a);
  impl_->gl().glClear(GL_COLOR_BUFFER_BIT);
}

void GlesCanvas::clear_rects(std::span<const Rect> rects) {
  bind_target();
  const GlFunctions& g = impl_->gl();
  const float H = static_cast<float>(height());
  g.glEnable(GL_SCISSOR_TEST);
  g.glClearColor(0, 0, 0, 0);
  for (const Rect& r : rects) {
    const float w = std::ceil(r.w), h = std::ceil(r.h);
    if (!(w >= 1) || !(h >= 1)) continue;
    g.glScissor(static_cast<GLint>(std::floor(r.x)), static_cast<GLint>(std::max(0.0F, H - (h + std::floor(r.y)))),
                static_cast<GLsizei>(w), static_cast<GLsizei>(h));
    g.glClear(GL_COLOR_BUFFER_BIT);
  }
  bind_target();
}

namespace {

// Whether a quad can show through the clip at all.
bool culled(const std::optional<Rect>& clip, float x, float y, float w, float h) {
  if (!clip) return false;
  const Rect& c = *clip;
  return !(x < c.x + c.w && x + w > c.x && y < c.y + c.h && y + h > c.y);
}

}  // namespace

void GlesCanvas::fill_rounded_rect(const Rect& r, const Color& color, const Radii& radii) {
  if (culled(impl_->clip, r.x - 1, r.y - 1, r.w + 2, r.h + 2)) return;
  bind_target();
  const GlFunctions& g = impl_->gl();
  const RectProgram& p = impl_->sh->rect;
  g.glUseProgram(p.id);
  auto m = ortho_rect(r.x - 1, r.y - 1, r.w + 2, r.h + 2, static_cast<float>(width()), static_cast<float>(height()));
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  g.glUniform4f(p.u_color, color.r, color.g, color.b, color.a * state_.opacity);
  g.glUniform2f(p.u_size, r.w, r.h);
  g.glUniform4f(p.u_radii, radii.tl, radii.tr, radii.br, radii.bl);
  g.glUniform1f(p.u_stroke, 0);
  g.glUniform1f(p.u_pad, 1);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
}

void GlesCanvas::stroke_rounded_rect(const Rect& r, const Color& color, const Radii& radii, float width_px) {
  const float pad = width_px / 2 + 1;
  if (culled(impl_->clip, r.x - pad, r.y - pad, r.w + 2 * pad, r.h + 2 * pad)) return;
  bind_target();
  const GlFunctions& g = impl_->gl();
  const RectProgram& p = impl_->sh->rect;
  g.glUseProgram(p.id);
  auto m = ortho_rect(r.x - pad, r.y - pad, r.w + 2 * pad, r.h + 2 * pad, static_cast<float>(width()),
                      static_cast<float>(height()));
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  g.glUniform4f(p.u_color, color.r, color.g, color.b, color.a * state_.opacity);
  g.glUniform2f(p.u_size, r.w, r.h);
  g.glUniform4f(p.u_radii, radii.tl, radii.tr, radii.br, radii.bl);
  g.glUniform1f(p.u_stroke, width_px);
  g.glUniform1f(p.u_pad, pad);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
}

void GlesCanvas::draw_line(const Color& color, float x1, float y1, float x2, float y2, float w) {
  const float dx = x2 - x1, dy = y2 - y1;
  const float len = std::sqrt(dx * dx + dy * dy);
  if (!(len >= 0.1F)) return;
  if (std::fabs(dy) < 0.1F) {
    fill_rounded_rect(Rect{std::min(x1, x2), std::min(y1, y2) - w / 2, std::fabs(dx), w}, color, Radii{});
    return;
  }
  if (std::fabs(dx) < 0.1F) {
    fill_rounded_rect(Rect{std::min(x1, x2) - w / 2, std::min(y1, y2), w, std::fabs(dy)}, color, Radii{});
    return;
  }
  const int n = static_cast<int>(std::ceil(len));
  for (int i = 0; i < n; ++i) {
    const float t = static_cast<float>(i) / len;
    fill_rounded_rect(Rect{x1 + dx * t - w / 2, y1 + dy * t - w / 2, w, w}, color, Radii{});
  }
}

namespace {

GLuint lut_texture(GlesCanvas::Impl& impl, std::span<const GradientStop> stops, GradientSpace space);

}  // namespace

void GlesCanvas::fill_linear_gradient(const Rect& r, const LinearGradient& paint, const Radii& radii) {
  if (culled(impl_->clip, r.x - 1, r.y - 1, r.w + 2, r.h + 2)) return;
  bind_target();
  const GlFunctions& g = impl_->gl();
  const GradientProgram& p = impl_->sh->linear;
  const GLuint lut = lut_texture(*impl_, paint.stops, paint.space);
  g.glUseProgram(p.id);
  auto m = ortho_rect(r.x - 1, r.y - 1, r.w + 2, r.h + 2, static_cast<float>(width()), static_cast<float>(height()));
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  const float a = paint.angle_deg * 0.017453292F;
  float line = std::fabs(r.w * std::sin(a)) + std::fabs(r.h * std::cos(a));
  if (std::fabs(line) < 0.001F) line = 0.001F;
  g.glUniform2f(p.u_dir, std::sin(a), -std::cos(a));
  g.glUniform1f(p.u_line_length, line);
  g.glUniform2f(p.u_size, r.w, r.h);
  g.glUniform4f(p.u_radii, radii.tl, radii.tr, radii.br, radii.bl);
  g.glUniform1f(p.u_pad, 1);
  g.glUniform1f(p.u_lut_domain_min, -2);
  g.glUniform1f(p.u_lut_domain_span, 5);
  g.glActiveTexture(GL_TEXTURE0);
  g.glBindTexture(GL_TEXTURE_2D, lut);
  g.glUniform1i(p.u_lut, 0);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
  g.glBindTexture(GL_TEXTURE_2D, 0);
}

void GlesCanvas::fill_radial_gradient(const Rect& r, const RadialGradient& paint, const Radii& radii) {
  if (culled(impl_->clip, r.x - 1, r.y - 1, r.w + 2, r.h + 2)) return;
  bind_target();
  const GlFunctions& g = impl_->gl();
  const GradientProgram& p = impl_->sh->radial;
  const GLuint lut = lut_texture(*impl_, paint.stops, paint.space);
  g.glUseProgram(p.id);
  auto m = ortho_rect(r.x - 1, r.y - 1, r.w + 2, r.h + 2, static_cast<float>(width()), static_cast<float>(height()));
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  g.glUniform2f(p.u_center, paint.center_x, paint.center_y);
  g.glUniform1f(p.u_radius_frac, paint.radius);
  g.glUniform2f(p.u_size, r.w, r.h);
  g.glUniform4f(p.u_radii, radii.tl, radii.tr, radii.br, radii.bl);
  g.glUniform1f(p.u_pad, 1);
  g.glUniform1f(p.u_lut_domain_min, -2);
  g.glUniform1f(p.u_lut_domain_span, 5);
  g.glActiveTexture(GL_TEXTURE0);
  g.glBindTexture(GL_TEXTURE_2D, lut);
  g.glUniform1i(p.u_lut, 0);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
  g.glBindTexture(GL_TEXTURE_2D, 0);
}

namespace {

GLuint lut_texture(GlesCanvas::Impl& impl, std::span<const GradientStop> stops, GradientSpace space) {
  auto lut = build_gradient_lut(stops, space);
  std::vector<std::uint8_t> keyed(8 + lut.size());
  const std::uint64_t len = lut.size();
  for (int i = 0; i < 8; ++i) keyed[i] = static_cast<std::uint8_t>(len >> (8 * i));
  std::copy(lut.begin(), lut.end(), keyed.begin() + 8);
  const std::uint64_t key = siphash13(keyed);
  if (auto it = impl.lut_cache.find(key); it != impl.lut_cache.end()) return it->second;
  const GlFunctions& g = impl.gl();
  GLuint t = 0;
  g.glGenTextures(1, &t);
  if (t == 0) stop("gradient LUT texture " + hex(g.glGetError()));
  g.glActiveTexture(GL_TEXTURE0);
  g.glBindTexture(GL_TEXTURE_2D, t);
  g.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(gradient_lut_texels), 1, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, lut.data());
  impl.params(GL_LINEAR);
  impl.lut_cache.emplace(key, t);
  return t;
}

}  // namespace

void GlesCanvas::drop_shadow(const Rect& r, const Shadow& s, const Radii& radii) {
  const float pad = std::max(s.blur, 0.0F) + std::max(s.spread, 0.0F) + 1;
  const float sigma = std::max(s.blur * 0.5F, 0.5F);
  const Rect q{r.x + s.offset_x - pad, r.y + s.offset_y - pad, r.w + 2 * pad, r.h + 2 * pad};
  if (culled(impl_->clip, q.x, q.y, q.w, q.h)) return;
  bind_target();
  const GlFunctions& g = impl_->gl();
  const ShadowProgram& p = impl_->sh->shadow;
  g.glUseProgram(p.id);
  auto m = ortho_rect(q.x, q.y, q.w, q.h, static_cast<float>(width()), static_cast<float>(height()));
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  g.glUniform2f(p.u_size, r.w, r.h);
  g.glUniform2f(p.u_padding, pad, pad);
  g.glUniform4f(p.u_radii, radii.tl, radii.tr, radii.br, radii.bl);
  g.glUniform1f(p.u_spread, s.spread);
  g.glUniform1f(p.u_sigma, sigma);
  g.glUniform4f(p.u_color, s.color.r, s.color.g, s.color.b, s.color.a * state_.opacity);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
}

void GlesCanvas::inset_shadow(const Rect& r, const Shadow& s, const Radii& radii) {
  if (culled(impl_->clip, r.x - 1, r.y - 1, r.w + 2, r.h + 2)) return;
  bind_target();
  const GlFunctions& g = impl_->gl();
  const float W = static_cast<float>(width()), H = static_cast<float>(height());
  const bool overlay = s.blend == BlendMode::Overlay;
  if (overlay) {
    if (impl_->snapshot_fbo == 0) {
      impl_->snapshot_fbo = make_fbo(g, "aux_a FBO");
      impl_->snapshot_tex = impl_->create_texture(width(), height());
      impl_->attach(impl_->snapshot_fbo, impl_->snapshot_tex);
      check_complete(g, "aux_a FBO incomplete: ");
      bind_target();
    }
    float lox = std::max(r.x - 1, 0.0F), loy = std::max(r.y - 1, 0.0F);
    float hix = std::min(r.x + r.w + 1, W), hiy = std::min(r.y + r.h + 1, H);
    if (const auto& c = impl_->clip) {
      lox = std::max(lox, c->x);
      loy = std::max(loy, c->y);
      hix = std::min(hix, c->x + c->w);
      hiy = std::min(hiy, c->y + c->h);
    }
    const int sx = static_cast<int>(std::floor(lox));
    const int sy = static_cast<int>(std::floor(loy));
    const int sw = static_cast<int>(std::ceil(hix)) - sx;
    const int sh = static_cast<int>(std::ceil(hiy)) - sy;
    if (sw <= 0 || sh <= 0) return;
    const int gy = static_cast<int>(H) - sy - sh;
    g.glActiveTexture(GL_TEXTURE0);
    g.glBindTexture(GL_TEXTURE_2D, impl_->snapshot_tex);
    g.glCopyTexSubImage2D(GL_TEXTURE_2D, 0, sx, gy, sx, gy, sw, sh);
  }
  const ShadowProgram& p = overlay ? impl_->sh->inset_overlay : impl_->sh->inset;
  g.glUseProgram(p.id);
  auto m = ortho_rect(r.x - 1, r.y - 1, r.w + 2, r.h + 2, W, H);
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  g.glUniform2f(p.u_size, r.w, r.h);
  g.glUniform2f(p.u_padding, 1, 1);
  g.glUniform4f(p.u_radii, radii.tl, radii.tr, radii.br, radii.bl);
  g.glUniform1f(p.u_spread, s.spread);
  g.glUniform1f(p.u_sigma, std::max(s.blur * 0.5F, 0.5F));
  g.glUniform2f(p.u_offset, s.offset_x, s.offset_y);
  g.glUniform4f(p.u_color, s.color.r, s.color.g, s.color.b, s.color.a * state_.opacity);
  if (overlay) {
    g.glUniform1i(p.u_snapshot, 0);
    g.glUniform2f(p.u_canvas_size, W, H);
  }
  switch (s.blend) {
    case BlendMode::PlusLighter: g.glBlendFunc(GL_ONE, GL_ONE); break;
    case BlendMode::Screen: g.glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ONE); break;
    // dst · (1 − m + c·m): the shadow darkens by its colour where it falls;
    // the destination's alpha stays.
    case BlendMode::Multiply: g.glBlendFuncSeparate(GL_DST_COLOR, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE); break;
    default: break;
  }
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
  g.glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  if (overlay) g.glBindTexture(GL_TEXTURE_2D, 0);
}

void GlesCanvas::draw_texture(std::uint32_t texture, const Rect& dst, float opacity) {
  const Rect q{round_away(dst.x), round_away(dst.y), round_away(dst.w), round_away(dst.h)};
  if (culled(impl_->clip, q.x, q.y, q.w, q.h)) return;
  bind_target();
  const GlFunctions& g = impl_->gl();
  const TextureProgram& p = impl_->sh->texture;
  g.glUseProgram(p.id);
  auto m = ortho_rect(q.x, q.y, q.w, q.h, static_cast<float>(width()), static_cast<float>(height()));
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  g.glUniform1f(p.u_opacity, state_.opacity * opacity);
  g.glActiveTexture(GL_TEXTURE0);
  g.glBindTexture(GL_TEXTURE_2D, texture);
  g.glUniform1i(p.u_sampler, 0);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
  g.glBindTexture(GL_TEXTURE_2D, 0);
}

void GlesCanvas::draw_image_data(std::span<const std::uint8_t> data, std::uint32_t w, std::uint32_t h,
                                 const Rect& dst, float opacity) {
  const std::uint64_t expected = std::uint64_t{w} * h * 4;
  if (w == 0 || h == 0 || data.size() != expected) {
    std::fprintf(stderr,
                 "[zem] GlesCanvas::draw_image_data: refusing draw \u2014 %u\u00d7%u declared, %zu bytes "
                 "provided, expected %llu\n",
                 w, h, data.size(), static_cast<unsigned long long>(expected));
    return;
  }
  bind_target();
  Impl& im = *impl_;
  const ImageKey key{w, h, image_content_hash(data)};
  GLuint tex = 0;
  if (auto it = im.images.find(key); it != im.images.end()) {
    tex = it->second.texture;
    // Moved to the back in place: a warm frame allocates nothing here.
    im.image_lru.splice(im.image_lru.end(), im.image_lru, it->second.lru);
  } else {
    tex = im.upload_rgba_texture(data, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
    im.image_lru.push_back(key);
    im.images.emplace(key, Impl::CachedImage{tex, std::prev(im.image_lru.end())});
    im.image_bytes += expected;
    while (im.image_lru.size() > 1 && im.image_bytes > IMAGE_BUDGET) {
      const ImageKey old = im.image_lru.front();
      im.image_lru.pop_front();
      const std::uint64_t bytes = std::uint64_t{old.w} * old.h * 4;
      im.image_bytes = im.image_bytes > bytes ? im.image_bytes - bytes : 0;
      if (auto it = im.images.find(old); it != im.images.end()) {
        im.gl().glDeleteTextures(1, &it->second.texture);
        im.images.erase(it);
      }
    }
  }
  draw_texture(tex, dst, opacity);
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> GlesCanvas::cached_image_sizes() const {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  for (const ImageKey& k : impl_->image_lru) out.emplace_back(k.w, k.h);
  return out;
}

std::uint64_t GlesCanvas::cached_image_bytes() const { return impl_->image_bytes; }

void GlesCanvas::blit(const GlesCanvas& src, std::int32_t x, std::int32_t y, float fade) {
  bind_target();
  const GlFunctions& g = impl_->gl();
  const FadeProgram& p = impl_->sh->fade;
  const float sw = static_cast<float>(src.width()), shh = static_cast<float>(src.height());
  g.glUseProgram(p.id);
  auto m = ortho_rect(static_cast<float>(x), static_cast<float>(y), sw, shh, static_cast<float>(width()),
                      static_cast<float>(height()));
  g.glUniformMatrix4fv(p.u_mvp, 1, GL_FALSE, m.data());
  // The layer drew its content with the opacity already; once is enough.
  g.glUniform1f(p.u_opacity, 1.0F);
  g.glUniform1f(p.u_fade_bottom_px, std::clamp(fade, 0.0F, shh));
  g.glUniform1f(p.u_height_px, shh);
  g.glActiveTexture(GL_TEXTURE0);
  g.glBindTexture(GL_TEXTURE_2D, src.impl_->color_tex);
  g.glUniform1i(p.u_sampler, 0);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
  g.glBindTexture(GL_TEXTURE_2D, 0);
}

void GlesCanvas::present() {
  const GlFunctions& g = impl_->gl();
  g.glBindFramebuffer(GL_FRAMEBUFFER, 0);
  g.glUseProgram(impl_->sh->copy.id);
  g.glViewport(0, 0, static_cast<GLsizei>(width()), static_cast<GLsizei>(height()));
  g.glDisable(GL_SCISSOR_TEST);
  g.glDisable(GL_BLEND);
  g.glActiveTexture(GL_TEXTURE0);
  g.glBindTexture(GL_TEXTURE_2D, impl_->color_tex);
  g.glUniform1i(impl_->sh->copy.u_sampler, 0);
  impl_->bind_quad();
  g.glDrawArrays(GL_TRIANGLES, 0, 6);
  impl_->unbind_quad();
  g.glBindTexture(GL_TEXTURE_2D, 0);
  g.glEnable(GL_BLEND);
  impl_->clip.reset();
  g.glUseProgram(0);
  g.glBindFramebuffer(GL_FRAMEBUFFER, impl_->fbo);
}

FontFace GlesCanvas::font_for_char(char32_t ch) const {
  const FontFace& primary = state_.primary_font;
  if (primary.face && primary.face->has_glyph(ch)) return primary;
  if (auto fb = fallback_font_for_char(ch)) return *fb;
  return primary;
}

float GlesCanvas::measure_text(std::string_view text, float size, const FontFace* font) {
  if (text.empty()) return 0;
  const float px = size * state_.scale;
  const FontFace& primary = state_.primary_font;
  const FontFace& used = font != nullptr && font->face ? *font : primary;
  ShapedRun run = shape_text(text, used.identity(), used, primary, px);
  if (run && !run->empty()) {
    float total = 0;
    for (const ShapedGlyph& g : *run) total += g.x_advance;
    return total;
  }
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

void GlesCanvas::draw_text(std::string_view text, float x, float baseline, float size, const Color& color,
                           const FontFace* font) {
  const float px = size * state_.scale;
  if (!std::isfinite(px) || !(px > 0)) return;
  const FontFace& primary = state_.primary_font;
  const FontFace& used = font != nullptr && font->face ? *font : primary;
  ShapedRun run = shape_text(text, used.identity(), used, primary, px);
  if (!run || run->empty()) return;
  Impl& im = *impl_;
  const GlFunctions& g = im.gl();
  bind_target();
  const std::uint32_t size_key = px > 0 ? static_cast<std::uint32_t>(px * 10) : 0;

  // Rasterise what the atlas lacks, with the font that shaped each glyph (as
  // the software canvas does). A full atlas is cleared once per call.
  bool retry = false;
  g.glBindTexture(GL_TEXTURE_2D, im.atlas_tex);
  for (std::size_t i = 0; i < run->size(); ++i) {
    const ShapedGlyph& sg = (*run)[i];
    if (!sg.font) continue;
    const GlyphKey key{sg.font.get(), static_cast<std::uint16_t>(sg.glyph), size_key};
    if (im.glyphs.contains(key)) continue;
    if (im.glyphs.size() >= ATLAS_ENTRY_LIMIT && !retry) {
      im.glyphs.clear();
      im.packer.clear();
      retry = true;
      i = static_cast<std::size_t>(-1);
      continue;
    }
    GlyphBitmap bmp = sg.font->rasterize(sg.glyph, px);
    GlyphEntry e{bmp.metrics};
    if (bmp.metrics.width == 0 || bmp.metrics.height == 0 || bmp.coverage.empty()) {
      im.glyphs.emplace(key, e);
      continue;
    }
    auto spot = im.packer.place(bmp.metrics.width, bmp.metrics.height);
    if (!spot) {
      if (!retry) {
        im.glyphs.clear();
        im.packer.clear();
        retry = true;
        i = static_cast<std::size_t>(-1);
        continue;
      }
      im.glyphs.emplace(key, e);
      continue;
    }
    g.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    g.glTexSubImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(spot->x), static_cast<GLint>(spot->y),
                      static_cast<GLsizei>(bmp.metrics.width), static_cast<GLsizei>(bmp.metrics.height),
                      im.gles3 ? GL_RED : GL_LUMINANCE, GL_UNSIGNED_BYTE, bmp.coverage.data());
    g.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    e.aw = bmp.metrics.width;
    e.ah = bmp.metrics.height;
    e.ax = spot->x;
    e.ay = spot->y;
    im.glyphs.emplace(key, e);
  }

  std::vector<float>& v = im.text_vertices;
  v.clear();
  v.reserve(run->size() * 24);
  const float W = static_cast<float>(width()), H = static_cast<float>(height());
  const float S = static_cast<float>(AtlasPacker::SIDE);
  float pen = x;
  for (const ShapedGlyph& sg : *run) {
    if (sg.font) {
      auto it = im.glyphs.find(GlyphKey{sg.font.get(), static_cast<std::uint16_t>(sg.glyph), size_key});
      if (it != im.glyphs.end() && it->second.aw > 0) {
        const GlyphEntry& e = it->second;
        const float left = round_away(pen + sg.x_offset) + static_cast<float>(e.metrics.xmin);
        const float top = round_away(baseline - sg.y_offset) - static_cast<float>(e.metrics.ymin) -
                          static_cast<float>(e.ah) + 1;
        const float right = left + static_cast<float>(e.aw), bottom = top + static_cast<float>(e.ah);
        const float l = 2 * left / W - 1, r = 2 * right / W - 1;
        const float t = 1 - 2 * top / H, b = 1 - 2 * bottom / H;
        const float u0 = static_cast<float>(e.ax) / S, u1 = static_cast<float>(e.ax + e.aw) / S;
        const float v0 = static_cast<float>(e.ay) / S, v1 = static_cast<float>(e.ay + e.ah) / S;
        const float quad[24] = {l, t, u0, v0, r, t, u1, v0, l, b, u0, v1, r, t, u1, v0, r, b, u1, v1, l, b, u0, v1};
        v.insert(v.end(), quad, quad + 24);
      }
    }
    pen += sg.x_advance;
  }
  if (!v.empty()) {
    const GlyphProgram& p = im.sh->glyph;
    g.glUseProgram(p.id);
    g.glUniform4f(p.u_color, color.r, color.g, color.b, color.a);
    g.glUniform1f(p.u_opacity, state_.opacity);
    g.glActiveTexture(GL_TEXTURE0);
    g.glUniform1i(p.u_sampler, 0);
    if (im.gles3) g.glBindVertexArray(im.sh->text_vao);
    g.glBindBuffer(GL_ARRAY_BUFFER, im.sh->text_vbo);
    g.glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(v.size() * sizeof(float)), v.data(), GL_STREAM_DRAW);
    if (!im.gles3) {
      g.glEnableVertexAttribArray(0);
      g.glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
      g.glEnableVertexAttribArray(1);
      g.glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
    }
    g.glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(v.size() / 4));
    if (im.gles3) g.glBindVertexArray(0);
    else g.glDisableVertexAttribArray(1);
    g.glBindBuffer(GL_ARRAY_BUFFER, 0);
  }
  g.glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace zem

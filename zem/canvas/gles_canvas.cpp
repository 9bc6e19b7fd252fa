// The OpenGL ES canvas is not drawn yet: its operations exist so that Canvas
// dispatches to both backends, but no GlesCanvas can be created until the GL
// renderer lands, and creating one stops the program.
#include <zem/canvas/gles_canvas.hpp>

#include <cstdio>
#include <cstdlib>

namespace zem {

struct GlesCanvas::Impl {};

namespace {
[[noreturn]] void unavailable() {
  std::fprintf(stderr, "not implemented: GLES canvas\n");
  std::fflush(stderr);
  std::abort();
}
}  // namespace

GlesCanvas GlesCanvas::create(std::shared_ptr<const GlFunctions>, std::uint32_t, std::uint32_t,
                              bool) {
  unavailable();
}

GlesCanvas::GlesCanvas(std::unique_ptr<Impl> impl, CanvasState state)
    : impl_(std::move(impl)), state_(std::move(state)) {}
GlesCanvas::GlesCanvas(GlesCanvas&&) noexcept = default;
GlesCanvas& GlesCanvas::operator=(GlesCanvas&&) noexcept = default;
GlesCanvas::~GlesCanvas() = default;

void GlesCanvas::resize(std::uint32_t, std::uint32_t) { unavailable(); }
GlesCanvas GlesCanvas::sub_canvas(std::int32_t, std::int32_t) const { unavailable(); }
void GlesCanvas::blit(const GlesCanvas&, std::int32_t, std::int32_t, float) { unavailable(); }
void GlesCanvas::present() { unavailable(); }
void GlesCanvas::bind_target() { unavailable(); }
void GlesCanvas::set_clip_rects(std::span<const Rect>) { unavailable(); }
std::vector<Rect> GlesCanvas::clip_rects() const { unavailable(); }
void GlesCanvas::reset_clip() { unavailable(); }
void GlesCanvas::clear() { unavailable(); }
void GlesCanvas::clear_color(const Color&) { unavailable(); }
void GlesCanvas::clear_rects(std::span<const Rect>) { unavailable(); }
void GlesCanvas::fill_rounded_rect(const Rect&, const Color&, const Radii&) { unavailable(); }
void GlesCanvas::stroke_rounded_rect(const Rect&, const Color&, const Radii&, float) {
  unavailable();
}
void GlesCanvas::draw_line(const Color&, float, float, float, float, float) { unavailable(); }
void GlesCanvas::fill_linear_gradient(const Rect&, const LinearGradient&, const Radii&) {
  unavailable();
}
void GlesCanvas::fill_radial_gradient(const Rect&, const RadialGradient&, const Radii&) {
  unavailable();
}
void GlesCanvas::drop_shadow(const Rect&, const Shadow&, const Radii&) { unavailable(); }
void GlesCanvas::inset_shadow(const Rect&, const Shadow&, const Radii&) { unavailable(); }
void GlesCanvas::draw_texture(std::uint32_t, const Rect&, float) { unavailable(); }
void GlesCanvas::draw_text(std::string_view, float, float, float, const Color&, const FontFace*) {
  unavailable();
}
float GlesCanvas::measure_text(std::string_view, float, const FontFace*) { unavailable(); }
FontFace GlesCanvas::font_for_char(char32_t) const { unavailable(); }
void GlesCanvas::draw_image_data(std::span<const std::uint8_t>, std::uint32_t, std::uint32_t,
                                 const Rect&, float) {
  unavailable();
}

}  // namespace zem

// Placeholder bodies so the API builds; replaced by the real implementations.
#include <cstdlib>

#include <zem/draw/canvas.hpp>
#include <zem/draw/spinner.hpp>
#include <zem/system_fonts/system_fonts.hpp>
#include <zem/text_shaping/shaping.hpp>

namespace zem {
struct Font::Impl {};
Font::~Font() = default;
std::uint32_t Font::glyph_index(char32_t) const { return 0; }
std::uint16_t Font::units_per_em() const { return 0; }
std::uint32_t Font::glyph_count() const { return 0; }
std::string Font::family_name() const { return {}; }
std::string Font::style_name() const { return {}; }
std::optional<LineMetrics> Font::horizontal_line_metrics(float) const { return {}; }
float Font::advance_width(std::uint32_t, float) const { return 0; }
GlyphMetrics Font::metrics(std::uint32_t, float) const { return {}; }
GlyphBitmap Font::rasterize(std::uint32_t, float) const { return {}; }
hb_font_t* Font::shaper_font() const { return nullptr; }
std::expected<std::shared_ptr<const Font>, std::string> Font::parse(FontBytes, std::uint32_t) {
  return std::unexpected("pending");
}
std::expected<FontFace, std::string> load_font_face(FontBytes, std::uint32_t) {
  return std::unexpected("pending");
}
std::string_view font_style_text(FontStyle s) { return s == FontStyle::Normal ? "Normal" : "Italic"; }
FontRegistry FontRegistry::build(const std::vector<FontFamilySources>&) { return {}; }
void FontRegistry::insert(std::string, std::uint16_t, FontStyle, FontFace) {}
void FontRegistry::set_fallbacks(std::string, std::vector<std::string>) {}
std::optional<FontFace> FontRegistry::lookup(std::string_view, std::uint16_t, FontStyle) const { return {}; }
std::span<const std::uint8_t> embedded_primary_font() { return {}; }
std::vector<std::uint8_t> primary_font_bytes() { return {}; }
FontFace primary_font() { return {}; }
std::optional<FontFace> fallback_font_for_char(char32_t) { return {}; }
std::optional<FontRegistry> theme_fonts() { return {}; }
bool perf_warn_enabled() { return false; }
ShapedRun shape_text(std::string_view, const void*, const FontFace&, const FontFace&, float) { return {}; }
std::vector<ShapedGlyph> shape_segment(std::string_view, const FontFace&, bool, float) { return {}; }
float run_width(const ShapedRun&) { return 0; }
std::string prefix_within_width(std::string_view, Canvas&, float, float) { return {}; }
std::size_t shape_cache_size() { return 0; }
void clear_shape_cache() {}
std::optional<RoundedRectPath> rounded_rect_path(float, float, float, float, const Radii&) { return {}; }
SoftwareCanvas SoftwareCanvas::create(std::uint32_t, std::uint32_t) { std::abort(); }
SoftwareCanvas::SoftwareCanvas(SoftwareCanvas&&) noexcept {}
SoftwareCanvas& SoftwareCanvas::operator=(SoftwareCanvas&&) noexcept { return *this; }
SoftwareCanvas::~SoftwareCanvas() = default;
SoftwareCanvas SoftwareCanvas::sub_canvas(std::uint32_t, std::uint32_t) const { std::abort(); }
void SoftwareCanvas::resize(std::uint32_t, std::uint32_t) {}
void SoftwareCanvas::set_clip_rects(std::span<const Rect>) {}
void SoftwareCanvas::reset_clip() {}
void SoftwareCanvas::clear() {}
void SoftwareCanvas::clear_color(const Color&) {}
void SoftwareCanvas::clear_rects(std::span<const Rect>) {}
void SoftwareCanvas::fill_rounded_rect(const Rect&, const Color&, const Radii&) {}
void SoftwareCanvas::stroke_rounded_rect(const Rect&, const Color&, const Radii&, float) {}
void SoftwareCanvas::draw_line(const Color&, float, float, float, float, float) {}
void SoftwareCanvas::draw_text(std::string_view, float, float, float, const Color&, const FontFace*) {}
float SoftwareCanvas::measure_text(std::string_view, float, const FontFace*) { return 0; }
FontFace SoftwareCanvas::font_for_char(char32_t) const { return {}; }
void SoftwareCanvas::draw_image_data(std::span<const std::uint8_t>, std::uint32_t, std::uint32_t, const Rect&, float) {}
void SoftwareCanvas::blit(const SoftwareCanvas&, int, int) {}
void SoftwareCanvas::copy_to_buffer(std::span<std::uint8_t>, bool) const {}
std::array<std::uint8_t, 4> SoftwareCanvas::pixel(std::uint32_t, std::uint32_t) const { return {}; }
std::uint8_t SoftwareCanvas::clip_mask_at(std::uint32_t, std::uint32_t) const { return 255; }
SizeF Spinner::measure(const Spinner&, const Canvas&, float) { return {}; }
void Spinner::draw(const Spinner&, Canvas&, const Rect&, const Color&) {}
}  // namespace zem

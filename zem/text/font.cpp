#include <zem/text/font.hpp>

#include <cmath>
#include <cstring>
#include <mutex>

#include <fmt/format.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include <hb-ot.h>
#include <hb.h>

namespace zem {

namespace {

// One FreeType library for the process; creating and destroying faces goes
// through it and must not run concurrently.
struct FreeTypeLibrary {
  FT_Library lib = nullptr;
  std::mutex mutex;
  FreeTypeLibrary() { FT_Init_FreeType(&lib); }
};

FreeTypeLibrary& freetype() {
  static FreeTypeLibrary* library = new FreeTypeLibrary();  // lives until exit
  return *library;
}

std::string freetype_error_text(FT_Error err) {
  if (const char* s = FT_Error_String(err)) return s;
  return fmt::format("FreeType error 0x{:02x}", static_cast<int>(err));
}

}  // namespace

struct Font::Impl {
  FontBytes bytes;  // kept alive for FreeType and HarfBuzz, which read them in place
  FT_Face face = nullptr;
  hb_font_t* hb = nullptr;
  mutable std::mutex mutex;  // FreeType faces are used by one thread at a time
  mutable float sized_px = -1;

  ~Impl() {
    if (hb != nullptr) hb_font_destroy(hb);
    if (face != nullptr) {
      std::lock_guard lock(freetype().mutex);
      FT_Done_Face(face);
    }
  }

  // Sets the face's pixel size; the caller holds `mutex`.
  bool set_size(float px) const {
    if (px == sized_px) return true;
    FT_F26Dot6 size = static_cast<FT_F26Dot6>(std::lround(static_cast<double>(px) * 64.0));
    if (size < 1) size = 1;
    if (FT_Set_Char_Size(face, 0, size, 72, 72) != 0) return false;
    sized_px = px;
    return true;
  }
};

Font::Font(std::unique_ptr<Impl> impl, std::uint32_t index) : impl_(std::move(impl)), index_(index) {}

Font::~Font() = default;

std::expected<std::shared_ptr<const Font>, std::string> Font::parse(FontBytes bytes,
                                                                    std::uint32_t index) {
  if (!bytes || bytes->empty()) return std::unexpected(std::string("no font data"));
  auto impl = std::make_unique<Impl>();
  impl->bytes = bytes;
  FreeTypeLibrary& ft = freetype();
  if (ft.lib == nullptr) return std::unexpected(std::string("FreeType could not start"));
  {
    std::lock_guard lock(ft.mutex);
    FT_Error err = FT_New_Memory_Face(ft.lib, bytes->data(), static_cast<FT_Long>(bytes->size()),
                                      static_cast<FT_Long>(index), &impl->face);
    if (err != 0) {
      impl->face = nullptr;
      return std::unexpected(freetype_error_text(err));
    }
  }
  if (!FT_IS_SCALABLE(impl->face)) {
    return std::unexpected(std::string("not a scalable font"));
  }
  // Prefer the full Unicode map; a font without one keeps FreeType's default.
  FT_Select_Charmap(impl->face, FT_ENCODING_UNICODE);

  hb_blob_t* blob = hb_blob_create(reinterpret_cast<const char*>(bytes->data()),
                                   static_cast<unsigned>(bytes->size()), HB_MEMORY_MODE_READONLY,
                                   nullptr, nullptr);
  hb_face_t* hb_face = hb_face_create(blob, index);
  hb_blob_destroy(blob);
  impl->hb = hb_font_create(hb_face);
  hb_face_destroy(hb_face);
  unsigned upem = hb_face_get_upem(hb_font_get_face(impl->hb));
  hb_font_set_scale(impl->hb, static_cast<int>(upem), static_cast<int>(upem));
  hb_font_make_immutable(impl->hb);

  return std::shared_ptr<const Font>(new Font(std::move(impl), index));
}

std::uint32_t Font::glyph_index(char32_t ch) const {
  std::lock_guard lock(impl_->mutex);
  if (impl_->face->charmap == nullptr) return 0;
  return FT_Get_Char_Index(impl_->face, static_cast<FT_ULong>(ch));
}

std::uint16_t Font::units_per_em() const { return impl_->face->units_per_EM; }

std::uint32_t Font::glyph_count() const { return static_cast<std::uint32_t>(impl_->face->num_glyphs); }

std::string Font::family_name() const {
  return impl_->face->family_name != nullptr ? impl_->face->family_name : "";
}

std::string Font::style_name() const {
  return impl_->face->style_name != nullptr ? impl_->face->style_name : "";
}

std::optional<LineMetrics> Font::horizontal_line_metrics(float px) const {
  const FT_Face f = impl_->face;
  if (f->units_per_EM == 0 || (f->ascender == 0 && f->descender == 0)) return std::nullopt;
  float s = px / static_cast<float>(f->units_per_EM);
  LineMetrics m;
  m.ascent = static_cast<float>(f->ascender) * s;
  m.descent = static_cast<float>(f->descender) * s;
  m.new_line_size = static_cast<float>(f->height) * s;
  m.line_gap = m.new_line_size - (m.ascent - m.descent);
  return m;
}

float Font::advance_width(std::uint32_t glyph, float px) const {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->set_size(px)) return 0;
  FT_Fixed adv = 0;
  if (FT_Get_Advance(impl_->face, glyph, FT_LOAD_NO_HINTING, &adv) != 0) return 0;
  return static_cast<float>(adv) / 65536.0F;
}

GlyphMetrics Font::metrics(std::uint32_t glyph, float px) const {
  return rasterize(glyph, px).metrics;
}

GlyphBitmap Font::rasterize(std::uint32_t glyph, float px) const {
  GlyphBitmap out;
  std::lock_guard lock(impl_->mutex);
  if (!impl_->set_size(px)) return out;
  FT_Face f = impl_->face;
  if (FT_Load_Glyph(f, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return out;
  FT_GlyphSlot slot = f->glyph;
  out.metrics.advance = static_cast<float>(slot->linearHoriAdvance) / 65536.0F;
  if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
      FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) {
    return out;
  }
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.width == 0 || bm.rows == 0) return out;
  out.metrics.width = bm.width;
  out.metrics.height = bm.rows;
  out.metrics.xmin = slot->bitmap_left;
  out.metrics.ymin = slot->bitmap_top - static_cast<int>(bm.rows) + 1;
  out.coverage.resize(static_cast<std::size_t>(bm.width) * bm.rows);
  for (unsigned row = 0; row < bm.rows; ++row) {
    const unsigned char* src = bm.pitch >= 0 ? bm.buffer + static_cast<std::ptrdiff_t>(row) * bm.pitch
                                             : bm.buffer + static_cast<std::ptrdiff_t>(bm.rows - 1 - row) * -bm.pitch;
    std::memcpy(out.coverage.data() + static_cast<std::size_t>(row) * bm.width, src, bm.width);
  }
  return out;
}

hb_font_t* Font::shaper_font() const { return impl_->hb; }

std::expected<FontFace, std::string> load_font_face(FontBytes bytes, std::uint32_t index) {
  auto font = Font::parse(bytes, index);
  if (!font) return std::unexpected(font.error());
  return FontFace{std::move(*font), std::move(bytes), index};
}

std::expected<std::vector<std::uint8_t>, std::string> read_font_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (f == nullptr) return std::unexpected(std::string(std::strerror(errno)));
  std::vector<std::uint8_t> data;
  std::uint8_t buf[65536];
  for (;;) {
    std::size_t n = std::fread(buf, 1, sizeof buf, f);
    data.insert(data.end(), buf, buf + n);
    if (n < sizeof buf) break;
  }
  bool failed = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (failed) return std::unexpected(std::string(std::strerror(err)));
  return data;
}

}  // namespace zem

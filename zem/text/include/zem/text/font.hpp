#pragma once
// A parsed font file: character map, metrics and glyph rasterising, plus the
// shaper's view of the same bytes. Parsed fonts are immutable to their users
// and may be shared between threads.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct hb_font_t;

namespace zem {

using FontBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

// The pixel size the parser prepares outlines for.
inline constexpr float FONT_PARSE_SCALE = 40.0F;

// Placement of one glyph bitmap at a pixel size. xmin is the column offset of
// the bitmap's left edge from the pen; ymin counts rows upwards from the
// baseline so that the drawers place the bitmap's top row at
// baseline - (ymin + height) + 1.
struct GlyphMetrics {
  int xmin = 0;
  int ymin = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  float advance = 0;  // horizontal advance in pixels
};

// A glyph's coverage bitmap: one byte per pixel, rows of `width` bytes, top row first.
struct GlyphBitmap {
  GlyphMetrics metrics;
  std::vector<std::uint8_t> coverage;
};

// Horizontal line metrics at a pixel size (y upwards: descent is negative).
struct LineMetrics {
  float ascent = 0;
  float descent = 0;
  float line_gap = 0;
  float new_line_size = 0;  // ascent - descent + line_gap
};

class Font {
 public:
  // Parses face `index` of `bytes`. The error text is the parser's.
  [[nodiscard]] static std::expected<std::shared_ptr<const Font>, std::string> parse(FontBytes bytes,
                                                                       std::uint32_t index);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // Glyph id of a character through the font's Unicode map; 0 when the font lacks it.
  std::uint32_t glyph_index(char32_t ch) const;
  bool has_glyph(char32_t ch) const { return glyph_index(ch) != 0; }

  std::uint16_t units_per_em() const;
  std::uint32_t glyph_count() const;
  std::string family_name() const;
  std::string style_name() const;
  std::uint32_t face_index() const { return index_; }

  std::optional<LineMetrics> horizontal_line_metrics(float px) const;
  float advance_width(std::uint32_t glyph, float px) const;
  GlyphMetrics metrics(std::uint32_t glyph, float px) const;
  GlyphBitmap rasterize(std::uint32_t glyph, float px) const;

  // The shaper's font over the same bytes, scaled in font units (thread-safe to shape with).
  hb_font_t* shaper_font() const;

 private:
  struct Impl;
  Font(std::unique_ptr<Impl> impl, std::uint32_t index);
  std::unique_ptr<Impl> impl_;
  std::uint32_t index_;
};

// A loaded font as the text code hands it around: the parsed font, the raw
// file it came from (may be empty: such a font never shapes anything) and
// the face index inside that file.
struct FontFace {
  std::shared_ptr<const Font> face;
  FontBytes bytes;
  std::uint32_t index = 0;

  // The key of every font-dependent cache: the shared parsed object's address.
  const void* identity() const { return face.get(); }
  bool has_bytes() const { return bytes && !bytes->empty(); }
};

// Parses `bytes` into a FontFace carrying those bytes and `index`.
[[nodiscard]] std::expected<FontFace, std::string> load_font_face(FontBytes bytes, std::uint32_t index);

// The whole contents of a font file; on failure the system's error text.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> read_font_file(const std::string& path);

}  // namespace zem

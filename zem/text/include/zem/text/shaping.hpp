#pragma once
// Turns a string at a pixel size into glyphs in visual order, with the
// bidirectional algorithm, per-character font choice and an OpenType shaper.
// Shaped strings are cached per thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <zem/text/font.hpp>

namespace zem {

struct ShapedGlyph {
  std::shared_ptr<const Font> font;  // the font that shaped the glyph
  std::uint32_t glyph = 0;
  float x_advance = 0;  // pixels
  float x_offset = 0;   // pixels
  float y_offset = 0;   // pixels, positive moves the glyph up
};

// Glyphs of one string in visual order (left to right on screen); immutable.
using ShapedRun = std::shared_ptr<const std::vector<ShapedGlyph>>;

inline constexpr std::size_t SHAPE_CACHE_LIMIT = 8192;

// Shapes `text` at `size` pixels. `font_identity` keys the cache (normally
// `requested.identity()`); `last_resort` takes characters that neither the
// requested font nor a fallback font can take.
ShapedRun shape_text(std::string_view text, const void* font_identity, const FontFace& requested,
                     const FontFace& last_resort, float size);

// Shapes one piece of text with a single font.
std::vector<ShapedGlyph> shape_segment(std::string_view text, const FontFace& font, bool rtl,
                                       float size);

// Sum of the glyphs' x advances.
float run_width(const ShapedRun& run);

// Byte offsets of the grapheme-cluster boundaries of `text`, from 0 to its
// size (single characters where the break data is missing).
std::vector<std::size_t> grapheme_bounds(std::string_view text);

// The longest prefix of `text` whose characters, each measured alone with
// `canvas.measure_text` at `size`, add up to no more than `budget`. Whole
// clusters are kept, so a base character never loses its combining marks.
template <class Measurer>
std::string prefix_within_width(std::string_view text, Measurer& canvas, float size, float budget) {
  std::string out;
  if (text.empty()) return out;
  const std::vector<std::size_t> bounds = grapheme_bounds(text);
  float total = 0;
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    const std::string_view cluster = text.substr(bounds[k], bounds[k + 1] - bounds[k]);
    total += canvas.measure_text(cluster, size);
    if (total > budget) break;
    out.append(cluster);
  }
  return out;
}

// Bytes of text handed to `shape_text` on the calling thread so far, cached
// or not: a cache hit still hashes and compares the whole string, so this is
// what a caller's measuring and drawing costs.
std::size_t shape_text_bytes();

// The calling thread's cache: its entry count, and emptying it.
std::size_t shape_cache_size();
void clear_shape_cache();

}  // namespace zem

#include <zem/text/shaping.hpp>

#include <base/utf8.hpp>

#include <algorithm>
#include <limits>
#include <bit>
#include <cstring>
#include <unordered_map>

#include <fribidi.h>
#include <hb.h>
#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <zem/text/system_fonts.hpp>

namespace zem {

namespace {

// ---- per-thread cache ----

struct KeyView {
  const void* font;
  std::uint32_t size_bits;
  std::string_view text;
};

struct Key {
  const void* font;
  std::uint32_t size_bits;
  std::string text;
};

struct KeyHash {
  using is_transparent = void;
  std::size_t operator()(const KeyView& k) const noexcept {
    std::size_t h = std::hash<std::string_view>{}(k.text);
    h ^= std::hash<const void*>{}(k.font) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= std::hash<std::uint32_t>{}(k.size_bits) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
  }
  std::size_t operator()(const Key& k) const noexcept {
    return (*this)(KeyView{k.font, k.size_bits, k.text});
  }
};

struct KeyEq {
  using is_transparent = void;
  static KeyView view(const Key& k) { return {k.font, k.size_bits, k.text}; }
  static KeyView view(const KeyView& k) { return k; }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const noexcept {
    KeyView x = view(a);
    KeyView y = view(b);
    return x.font == y.font && x.size_bits == y.size_bits && x.text == y.text;
  }
};

using ShapeCache = std::unordered_map<Key, ShapedRun, KeyHash, KeyEq>;

ShapeCache& cache() {
  thread_local ShapeCache c;
  return c;
}

// ---- UTF-8 ----

// Decodes the character at `i`, advancing `i`; malformed bytes decode as U+FFFD.
char32_t next_char(std::string_view s, std::size_t& i) {
  const base::utf8::Decoded d = base::utf8::decode(s, i);
  i += d.length;
  return d.code_point;
}

struct LevelRun {
  std::size_t begin;  // byte range in the text
  std::size_t end;
  FriBidiLevel level;
};

// The first paragraph's level runs in visual order.
std::vector<LevelRun> visual_runs(std::string_view text) {
  std::vector<FriBidiChar> chars;
  std::vector<std::size_t> offsets;  // byte offset of each character, plus the end
  chars.reserve(text.size());
  offsets.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size();) {
    offsets.push_back(i);
    chars.push_back(next_char(text, i));
  }
  offsets.push_back(text.size());
  const auto total = static_cast<FriBidiStrIndex>(chars.size());

  std::vector<FriBidiCharType> types(chars.size());
  fribidi_get_bidi_types(chars.data(), total, types.data());
  // The first paragraph ends with (and includes) its separator.
  FriBidiStrIndex len = total;
  for (FriBidiStrIndex k = 0; k < total; ++k) {
    if (types[static_cast<std::size_t>(k)] == FRIBIDI_TYPE_BS) {
      len = k + 1;
      break;
    }
  }
  std::vector<FriBidiBracketType> brackets(static_cast<std::size_t>(len));
  fribidi_get_bracket_types(chars.data(), len, types.data(), brackets.data());
  std::vector<FriBidiLevel> levels(static_cast<std::size_t>(len));
  FriBidiParType base = FRIBIDI_PAR_ON;
  if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), len, &base,
                                          levels.data()) == 0) {
    std::fill(levels.begin(), levels.end(), 0);
  } else {
    // Line-level rules (trailing white space takes the paragraph level).
    if (fribidi_reorder_line(FRIBIDI_FLAGS_DEFAULT, types.data(), len, 0, base, levels.data(),
                             nullptr, nullptr) == 0) {
      std::fill(levels.begin(), levels.end(), 0);
    }
  }

  std::vector<LevelRun> runs;
  for (std::size_t k = 0; k < static_cast<std::size_t>(len); ++k) {
    if (!runs.empty() && runs.back().level == levels[k]) {
      runs.back().end = offsets[k + 1];
    } else {
      runs.push_back({offsets[k], offsets[k + 1], levels[k]});
    }
  }
  if (runs.empty()) return runs;
  // Reverse every maximal sequence at or above each level, highest first,
  // down to the lowest odd level.
  // (In int: FriBidiLevel is a signed char, which cannot start at 255.)
  int highest = 0;
  int lowest_odd = std::numeric_limits<int>::max();
  for (const LevelRun& r : runs) {
    highest = std::max<int>(highest, r.level);
    if ((r.level & 1) != 0) lowest_odd = std::min<int>(lowest_odd, r.level);
  }
  for (int lvl = highest; lvl >= lowest_odd && lvl > 0; --lvl) {
    for (std::size_t a = 0; a < runs.size();) {
      if (runs[a].level < lvl) { ++a; continue; }
      std::size_t b = a;
      while (b < runs.size() && runs[b].level >= lvl) ++b;
      std::reverse(runs.begin() + static_cast<std::ptrdiff_t>(a),
                   runs.begin() + static_cast<std::ptrdiff_t>(b));
      a = b;
    }
  }
  return runs;
}

}  // namespace

std::vector<ShapedGlyph> shape_segment(std::string_view text, const FontFace& font, bool rtl,
                                       float size) {
  std::vector<ShapedGlyph> out;
  if (!font.face || !font.has_bytes() || text.empty()) return out;
  hb_font_t* hb = font.face->shaper_font();
  if (hb == nullptr) return out;
  unsigned upem = hb_face_get_upem(hb_font_get_face(hb));
  if (upem == 0) return out;

  struct BufferDeleter {
    void operator()(hb_buffer_t* b) const { hb_buffer_destroy(b); }
  };
  thread_local std::unique_ptr<hb_buffer_t, BufferDeleter> owned(hb_buffer_create());
  hb_buffer_t* buffer = owned.get();
  hb_buffer_clear_contents(buffer);
  hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()), 0,
                     static_cast<int>(text.size()));
  hb_buffer_set_direction(buffer, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
  hb_buffer_guess_segment_properties(buffer);
  hb_shape(hb, buffer, nullptr, 0);

  unsigned n = 0;
  const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &n);
  const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &n);
  const float s = size / static_cast<float>(upem);
  out.reserve(n);
  for (unsigned k = 0; k < n; ++k) {
    out.push_back(ShapedGlyph{font.face, info[k].codepoint,
                              static_cast<float>(pos[k].x_advance) * s,
                              static_cast<float>(pos[k].x_offset) * s,
                              static_cast<float>(pos[k].y_offset) * s});
  }
  return out;
}

static thread_local std::size_t shaped_text_bytes = 0;

std::size_t shape_text_bytes() { return shaped_text_bytes; }

ShapedRun shape_text(std::string_view text, const void* font_identity, const FontFace& requested,
                     const FontFace& last_resort, float size) {
  shaped_text_bytes += text.size();
  if (text.empty()) return std::make_shared<const std::vector<ShapedGlyph>>();
  ShapeCache& c = cache();
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(size);
  if (auto it = c.find(KeyView{font_identity, bits, text}); it != c.end()) return it->second;

  std::vector<ShapedGlyph> glyphs;
  {
    std::size_t chars = 0;
    for (char ch : text) chars += (static_cast<unsigned char>(ch) & 0xC0) != 0x80 ? 1 : 0;
    glyphs.reserve(chars);
  }
  const bool requested_usable = requested.face && requested.has_bytes();
  const bool last_resort_usable = last_resort.face && last_resort.has_bytes();

  struct Segment {
    std::optional<FontFace> font;
    std::size_t begin;
    std::size_t end;
  };
  std::vector<Segment> segments;
  for (const LevelRun& run : visual_runs(text)) {
    const bool rtl = (run.level & 1) != 0;
    segments.clear();
    for (std::size_t i = run.begin; i < run.end;) {
      std::size_t start = i;
      char32_t ch = next_char(text, i);
      std::optional<FontFace> f;
      if (requested_usable && requested.face->has_glyph(ch)) {
        f = requested;
      } else if (auto fb = fallback_font_for_char(ch)) {
        f = std::move(fb);
      } else if (last_resort_usable) {
        f = last_resort;
      }
      const void* id = f ? f->identity() : nullptr;
      if (!segments.empty()) {
        const Segment& cur = segments.back();
        const void* cur_id = cur.font ? cur.font->identity() : nullptr;
        if (cur_id == id) {
          segments.back().end = i;
          continue;
        }
      }
      segments.push_back(Segment{std::move(f), start, i});
    }
    // A right-to-left run shows its text-order segments right to left, so
    // they are laid out last segment first.
    if (rtl) std::reverse(segments.begin(), segments.end());
    for (const Segment& seg : segments) {
      if (!seg.font) continue;  // characters no font can take produce nothing
      auto part = shape_segment(text.substr(seg.begin, seg.end - seg.begin), *seg.font, rtl, size);
      glyphs.insert(glyphs.end(), std::make_move_iterator(part.begin()),
                    std::make_move_iterator(part.end()));
    }
  }

  auto run = std::make_shared<const std::vector<ShapedGlyph>>(std::move(glyphs));
  if (c.size() >= SHAPE_CACHE_LIMIT) c.clear();
  c.emplace(Key{font_identity, bits, std::string(text)}, run);
  return run;
}

float run_width(const ShapedRun& run) {
  float w = 0;
  if (run) {
    for (const ShapedGlyph& g : *run) w += g.x_advance;
  }
  return w;
}

std::vector<std::size_t> grapheme_bounds(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  UBreakIterator* it = ubrk_open(UBRK_CHARACTER, nullptr, nullptr, 0, &status);
  std::vector<std::size_t> bounds;
  if (U_SUCCESS(status)) {
    ubrk_setUText(it, ut, &status);
  }
  if (U_SUCCESS(status)) {
    for (int32_t b = ubrk_first(it); b != UBRK_DONE; b = ubrk_next(it)) {
      bounds.push_back(static_cast<std::size_t>(b));
    }
  }
  if (it != nullptr) ubrk_close(it);
  if (ut != nullptr) utext_close(ut);
  if (bounds.size() < 2 || bounds.back() != text.size()) {
    // Without break data fall back to single characters.
    bounds.clear();
    for (std::size_t i = 0; i < text.size();) {
      bounds.push_back(i);
      next_char(text, i);
    }
    bounds.push_back(text.size());
  }
  return bounds;
}

std::size_t shape_cache_size() { return cache().size(); }

void clear_shape_cache() { cache().clear(); }

}  // namespace zem

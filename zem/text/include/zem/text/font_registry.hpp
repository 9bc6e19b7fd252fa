#pragma once
// The faces of the active theme's font families, keyed by (family key,
// weight, style), with each family's fallback family names.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <zem/text/font.hpp>

namespace zem {

enum class FontStyle : std::uint8_t { Normal = 0, Italic = 1 };

// "Normal" or "Italic".
std::string_view font_style_text(FontStyle style);

// One font file of a theme family.
struct FontFileSource {
  std::string path;
  std::uint16_t weight = 400;
  FontStyle style = FontStyle::Normal;
};

// A theme family as the registry needs it.
struct FontFamilySources {
  std::string key;                     // the family's key in the theme
  std::vector<std::string> fallbacks;  // fallback family keys, in order
  std::vector<FontFileSource> sources;
};

class FontRegistry {
 public:
  // Reads and parses every source of every family; a file that cannot be read
  // or parsed is skipped with a "[zem] skipping font " line on standard error.
  // Never fails.
  static FontRegistry build(const std::vector<FontFamilySources>& families);

  // Adds (or replaces) a parsed face under (family, weight, style).
  void insert(std::string family, std::uint16_t weight, FontStyle style, FontFace face);
  void set_fallbacks(std::string family, std::vector<std::string> fallbacks);

  // Exact match, else nearest weight in the same style, else nearest weight in
  // any style, else the same search over the family's fallbacks in order.
  std::optional<FontFace> lookup(std::string_view family, std::uint16_t weight,
                                 FontStyle style) const;

  bool empty() const { return faces_.empty(); }
  std::size_t size() const { return faces_.size(); }

 private:
  std::optional<FontFace> lookup_depth(std::string_view family, std::uint16_t weight,
                                       FontStyle style, int depth) const;

  using Key = std::tuple<std::string, std::uint16_t, FontStyle>;
  std::map<Key, FontFace, std::less<>> faces_;
  std::map<std::string, std::vector<std::string>, std::less<>> fallbacks_;
};

}  // namespace zem

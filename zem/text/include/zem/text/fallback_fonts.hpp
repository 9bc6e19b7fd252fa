#pragma once
// The fallback font search: slots of font files tried in order, each chosen
// when one of its Unicode character-map subtables maps a character.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <zem/text/font.hpp>

namespace zem {

// The Unicode subtables of one face's cmap table, read in place. Only
// platform 0 (any encoding), platform 3 encoding 1, and platform 3 encoding 10
// in format 12 or 13 count.
class CmapCoverage {
 public:
  // None when the file has no face `index` or no readable cmap table.
  static std::optional<CmapCoverage> open(FontBytes bytes, std::uint32_t index);

  // True when a considered subtable maps `c` to a glyph other than 0.
  bool maps(char32_t c) const;

 private:
  struct Subtable {
    std::uint16_t format;
    std::size_t offset;  // from the start of the file
    std::size_t length;  // bytes available to it
  };
  std::uint32_t lookup(const Subtable& s, char32_t c) const;

  FontBytes bytes_;
  std::vector<Subtable> subtables_;
};

struct FallbackSlotFile {
  std::string path;
  std::uint32_t index = 0;
};

// A list of fallback slots whose files are read, their character maps read
// and their faces parsed at most once, on first need, and kept.
class FallbackFonts {
 public:
  explicit FallbackFonts(std::vector<FallbackSlotFile> slots);
  ~FallbackFonts();

  // The first slot whose character map covers `c`.
  std::optional<std::size_t> slot_for_char(char32_t c);
  // That slot's parsed face; none when no slot covers `c` or the chosen slot's
  // file does not parse as a font.
  std::optional<FontFace> font_for_char(char32_t c);

  FontBytes slot_bytes(std::size_t slot);
  std::optional<FontFace> slot_font(std::size_t slot);

 private:
  struct Slot;
  std::vector<FallbackSlotFile> files_;
  std::unique_ptr<Slot[]> slots_;
};

// The bytes of the first existing candidate; the embedded font when none
// exists or the first existing one cannot be read. `chosen` receives the
// path used (empty for the embedded font).
std::vector<std::uint8_t> primary_font_bytes_from(std::span<const std::string> candidates,
                                                  std::string* chosen = nullptr);

// The primary font from `candidates`; a chosen file that does not parse is
// reported on standard error and the embedded font is used instead.
FontFace load_primary_font(std::span<const std::string> candidates);

// Whether a ZEM_PERF_WARN value turns the performance warnings on.
bool perf_warn_value_enabled(const char* value);

}  // namespace zem

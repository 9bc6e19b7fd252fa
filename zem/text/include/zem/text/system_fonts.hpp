#pragma once
// The process-wide fonts: the primary font, the fallback slots searched per
// character, the SVG renderer's font database and the performance-warning
// flag. Each is built on first use and kept for the life of the process.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include <zem/text/font.hpp>
#include <zem/text/font_registry.hpp>

namespace zem {

inline constexpr std::array<std::string_view, 10> PRIMARY_FONT_CANDIDATES = {
    "/usr/share/fonts/opentype/sora/Sora-Regular.otf",
    "/usr/share/fonts/truetype/sora/Sora-Regular.ttf",
    "/usr/share/fonts/sora/Sora-Regular.ttf",
    "/usr/share/fonts/TTF/Sora-Regular.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/freefont/FreeSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/TTF/DejaVuSans.ttf",
};

struct FallbackFontSlot {
  std::string_view path;
  std::uint32_t index;
};

inline constexpr std::array<FallbackFontSlot, 11> FALLBACK_FONT_SLOTS = {{
    {"/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf", 0},
    {"/usr/share/fonts/noto/NotoSans-Regular.ttf", 0},
    {"/usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf", 0},
    {"/usr/share/fonts/noto/NotoSansDevanagari-Regular.ttf", 0},
    {"/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf", 0},
    {"/usr/share/fonts/truetype/noto/NotoSansHebrew-Regular.ttf", 0},
    {"/usr/share/fonts/truetype/noto/NotoSansThai-Regular.ttf", 0},
    {"/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", 2},
    {"/usr/share/fonts/opentype/noto-cjk/NotoSansCJK-Regular.ttc", 2},
    {"/usr/share/fonts/noto-cjk/NotoSansCJK-Regular.ttc", 2},
    {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0},
}};

// The Sora Regular font file built into the program (OpenType, CFF outlines).
std::span<const std::uint8_t> embedded_primary_font();

// The bytes the primary font is parsed from: the first existing candidate's
// contents, or the embedded font when none exists or the first one cannot be read.
std::vector<std::uint8_t> primary_font_bytes();

// The shared primary font (parsed once per process).
FontFace primary_font();

// The font of the first fallback slot whose Unicode character map covers `c`.
std::optional<FontFace> fallback_font_for_char(char32_t c);


// True when ZEM_PERF_WARN is set, non-empty and not "0" (read once).
bool perf_warn_enabled();

}  // namespace zem

#include <zem/text/system_fonts.hpp>

#include <base/env.hpp>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <zem/text/fallback_fonts.hpp>

namespace zem {

namespace detail {
extern const std::uint8_t kEmbeddedPrimaryFont[];
extern const std::size_t kEmbeddedPrimaryFontSize;
}  // namespace detail

namespace {

std::uint16_t be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

[[noreturn]] void stop(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace

// ---- character maps ----

std::optional<CmapCoverage> CmapCoverage::open(FontBytes bytes, std::uint32_t index) {
  if (!bytes) return std::nullopt;
  const std::uint8_t* d = bytes->data();
  const std::size_t n = bytes->size();
  if (n < 12) return std::nullopt;
  std::size_t face = 0;
  if (std::memcmp(d, "ttcf", 4) == 0) {
    std::uint32_t count = be32(d + 8);
    if (index >= count || 12 + 4 * static_cast<std::size_t>(index) + 4 > n) return std::nullopt;
    face = be32(d + 12 + 4 * static_cast<std::size_t>(index));
  } else if (index != 0) {
    return std::nullopt;
  }
  if (face + 12 > n) return std::nullopt;
  std::uint16_t num_tables = be16(d + face + 4);
  if (face + 12 + 16 * static_cast<std::size_t>(num_tables) > n) return std::nullopt;
  std::size_t cmap = 0;
  std::size_t cmap_len = 0;
  for (std::uint16_t i = 0; i < num_tables; ++i) {
    const std::uint8_t* rec = d + face + 12 + 16 * static_cast<std::size_t>(i);
    if (std::memcmp(rec, "cmap", 4) == 0) {
      cmap = be32(rec + 8);
      cmap_len = be32(rec + 12);
      break;
    }
  }
  if (cmap == 0 || cmap >= n || cmap + 4 > n) return std::nullopt;
  cmap_len = std::min(cmap_len, n - cmap);
  std::uint16_t records = be16(d + cmap + 2);
  if (4 + 8 * static_cast<std::size_t>(records) > cmap_len) return std::nullopt;

  CmapCoverage cov;
  cov.bytes_ = std::move(bytes);
  for (std::uint16_t i = 0; i < records; ++i) {
    const std::uint8_t* rec = d + cmap + 4 + 8 * static_cast<std::size_t>(i);
    std::uint16_t platform = be16(rec);
    std::uint16_t encoding = be16(rec + 2);
    std::size_t off = cmap + be32(rec + 4);
    if (off + 2 > n) continue;
    std::uint16_t format = be16(d + off);
    bool unicode = platform == 0 || (platform == 3 && encoding == 1) ||
                   (platform == 3 && encoding == 10 && (format == 12 || format == 13));
    if (!unicode) continue;
    cov.subtables_.push_back(Subtable{format, off, n - off});
  }
  return cov;
}

std::uint32_t CmapCoverage::lookup(const Subtable& s, char32_t c) const {
  const std::uint8_t* t = bytes_->data() + s.offset;
  const std::size_t len = s.length;
  auto ok = [&](std::size_t off, std::size_t need) { return off + need <= len; };
  switch (s.format) {
    case 0: {
      if (c > 255 || !ok(6 + c, 1)) return 0;
      return t[6 + c];
    }
    case 4: {
      if (c > 0xFFFF || !ok(14, 0)) return 0;
      std::size_t seg2 = be16(t + 6);
      std::size_t seg = seg2 / 2;
      if (seg == 0 || !ok(16 + 4 * seg2, 0)) return 0;
      const std::size_t ends = 14;
      const std::size_t starts = 16 + seg2;
      const std::size_t deltas = 16 + 2 * seg2;
      const std::size_t ranges = 16 + 3 * seg2;
      std::size_t lo = 0;
      std::size_t hi = seg;
      while (lo < hi) {  // first segment whose end is >= c
        std::size_t mid = (lo + hi) / 2;
        if (be16(t + ends + 2 * mid) < c) lo = mid + 1; else hi = mid;
      }
      if (lo == seg) return 0;
      std::uint16_t start = be16(t + starts + 2 * lo);
      if (c < start) return 0;
      std::uint16_t delta = be16(t + deltas + 2 * lo);
      std::uint16_t range = be16(t + ranges + 2 * lo);
      if (range == 0) return static_cast<std::uint16_t>(c + delta);
      std::size_t at = ranges + 2 * lo + range + 2 * (c - start);
      if (!ok(at, 2)) return 0;
      std::uint16_t g = be16(t + at);
      return g == 0 ? 0 : static_cast<std::uint16_t>(g + delta);
    }
    case 6: {
      if (!ok(10, 0)) return 0;
      std::uint32_t first = be16(t + 6);
      std::uint32_t count = be16(t + 8);
      if (c < first || c - first >= count || !ok(10 + 2 * (c - first), 2)) return 0;
      return be16(t + 10 + 2 * (c - first));
    }
    case 10: {
      if (!ok(20, 0)) return 0;
      std::uint32_t first = be32(t + 12);
      std::uint32_t count = be32(t + 16);
      if (c < first || c - first >= count || !ok(20 + 2 * static_cast<std::size_t>(c - first), 2)) {
        return 0;
      }
      return be16(t + 20 + 2 * static_cast<std::size_t>(c - first));
    }
    case 12:
    case 13: {
      if (!ok(16, 0)) return 0;
      std::size_t groups = be32(t + 12);
      if (groups > (len - 16) / 12) groups = (len - 16) / 12;
      std::size_t lo = 0;
      std::size_t hi = groups;
      while (lo < hi) {  // first group whose end is >= c
        std::size_t mid = (lo + hi) / 2;
        if (be32(t + 16 + 12 * mid + 4) < c) lo = mid + 1; else hi = mid;
      }
      if (lo == groups) return 0;
      const std::uint8_t* g = t + 16 + 12 * lo;
      std::uint32_t start = be32(g);
      if (c < start) return 0;
      std::uint32_t glyph = be32(g + 8);
      return s.format == 12 ? glyph + (c - start) : glyph;
    }
    default:
      return 0;
  }
}

bool CmapCoverage::maps(char32_t c) const {
  for (const Subtable& s : subtables_) {
    if (lookup(s, c) != 0) return true;
  }
  return false;
}

// ---- fallback slots ----

struct FallbackFonts::Slot {
  std::once_flag bytes_once;
  FontBytes bytes;
  std::once_flag cmap_once;
  std::optional<CmapCoverage> cmap;
  std::once_flag face_once;
  std::optional<FontFace> face;
};

FallbackFonts::FallbackFonts(std::vector<FallbackSlotFile> slots)
    : files_(std::move(slots)), slots_(new Slot[files_.size()]) {}

FallbackFonts::~FallbackFonts() = default;

FontBytes FallbackFonts::slot_bytes(std::size_t slot) {
  Slot& s = slots_[slot];
  std::call_once(s.bytes_once, [&] {
    if (auto data = read_font_file(files_[slot].path)) {
      s.bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(*data));
    }
  });
  return s.bytes;
}

std::optional<FontFace> FallbackFonts::slot_font(std::size_t slot) {
  Slot& s = slots_[slot];
  std::call_once(s.face_once, [&] {
    FontBytes bytes = slot_bytes(slot);
    if (!bytes) return;
    if (auto face = load_font_face(bytes, files_[slot].index)) s.face = std::move(*face);
  });
  return s.face;
}

std::optional<std::size_t> FallbackFonts::slot_for_char(char32_t c) {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    Slot& s = slots_[i];
    // The character map is read once per slot and kept, so a lookup costs a
    // few binary searches instead of re-reading the table directory.
    std::call_once(s.cmap_once, [&] {
      if (FontBytes bytes = slot_bytes(i)) s.cmap = CmapCoverage::open(bytes, files_[i].index);
    });
    if (s.cmap && s.cmap->maps(c)) return i;
  }
  return std::nullopt;
}

std::optional<FontFace> FallbackFonts::font_for_char(char32_t c) {
  auto slot = slot_for_char(c);
  if (!slot) return std::nullopt;
  return slot_font(*slot);
}

// ---- primary font ----

std::span<const std::uint8_t> embedded_primary_font() {
  return {detail::kEmbeddedPrimaryFont, detail::kEmbeddedPrimaryFontSize};
}

std::vector<std::uint8_t> primary_font_bytes_from(std::span<const std::string> candidates,
                                                  std::string* chosen) {
  if (chosen != nullptr) chosen->clear();
  for (const std::string& path : candidates) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) continue;
    // The first existing candidate decides: when it cannot be read, the
    // embedded font is used rather than a later candidate.
    if (auto data = read_font_file(path)) {
      if (chosen != nullptr) *chosen = path;
      return std::move(*data);
    }
    break;
  }
  auto e = embedded_primary_font();
  return {e.begin(), e.end()};
}

FontFace load_primary_font(std::span<const std::string> candidates) {
  std::string chosen;
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
      primary_font_bytes_from(candidates, &chosen));
  auto face = load_font_face(bytes, 0);
  if (face) return std::move(*face);
  if (!chosen.empty()) {
    // A broken system font file must not keep the program from drawing text.
    std::fprintf(stderr, "[zem] primary font %s does not parse (%s); using the built-in font\n",
                 chosen.c_str(), face.error().c_str());
    auto e = embedded_primary_font();
    auto embedded = std::make_shared<const std::vector<std::uint8_t>>(e.begin(), e.end());
    face = load_font_face(embedded, 0);
    if (face) return std::move(*face);
  }
  stop("primary font parses: " + face.error());
}

namespace {

std::vector<std::string> primary_candidates() {
  return {PRIMARY_FONT_CANDIDATES.begin(), PRIMARY_FONT_CANDIDATES.end()};
}

FallbackFonts& system_fallbacks() {
  static FallbackFonts* fonts = [] {
    std::vector<FallbackSlotFile> files;
    for (const auto& s : FALLBACK_FONT_SLOTS) files.push_back({std::string(s.path), s.index});
    return new FallbackFonts(std::move(files));  // lives for the process
  }();
  return *fonts;
}

}  // namespace

std::vector<std::uint8_t> primary_font_bytes() {
  auto candidates = primary_candidates();
  return primary_font_bytes_from(candidates);
}

FontFace primary_font() {
  static const FontFace* face = [] {
    auto candidates = primary_candidates();
    return new FontFace(load_primary_font(candidates));
  }();
  return *face;
}

std::optional<FontFace> fallback_font_for_char(char32_t c) {
  return system_fallbacks().font_for_char(c);
}

bool perf_warn_value_enabled(const char* value) {
  return base::flag_value_on(value);
}

bool perf_warn_enabled() {
  static const bool enabled = perf_warn_value_enabled(std::getenv("ZEM_PERF_WARN"));
  return enabled;
}

}  // namespace zem

#include <zem/text/system_fonts.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include <gtest/gtest.h>

#include <zem/text/fallback_fonts.hpp>

namespace zem {
namespace {

namespace fs = std::filesystem;

const char* kNoto = "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf";
const char* kDevanagari = "/usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf";
const char* kCjk = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";
const char* kLiberation = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "zem-fonts-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void write_file(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void require(const char* path) {
  if (!fs::exists(path)) GTEST_SKIP() << path << " is not installed";
}

// ---- a minimal font file holding only a cmap table ----

void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(static_cast<std::uint8_t>(x >> 8));
  v.push_back(static_cast<std::uint8_t>(x));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  put16(v, x >> 16);
  put16(v, x & 0xFFFF);
}

// A subtable mapping the single character `c` (BMP for format 4) to glyph 1.
std::vector<std::uint8_t> subtable(std::uint16_t format, char32_t c) {
  std::vector<std::uint8_t> t;
  if (format == 4) {
    // Two segments: [c, c] with delta mapping to 1, and the closing 0xFFFF.
    put16(t, 4); put16(t, 32); put16(t, 0);
    put16(t, 4); put16(t, 4); put16(t, 1); put16(t, 0);
    put16(t, c); put16(t, 0xFFFF);         // end codes
    put16(t, 0);                           // pad
    put16(t, c); put16(t, 0xFFFF);         // start codes
    put16(t, (1 - c) & 0xFFFF); put16(t, 1);  // deltas
    put16(t, 0); put16(t, 0);              // range offsets
  } else if (format == 12) {
    put16(t, 12); put16(t, 0); put32(t, 28); put32(t, 0); put32(t, 1);
    put32(t, c); put32(t, c); put32(t, 1);
  } else if (format == 0) {
    put16(t, 0); put16(t, 262); put16(t, 0);
    for (int i = 0; i < 256; ++i) t.push_back(static_cast<char32_t>(i) == c ? 1 : 0);
  }
  return t;
}

// An sfnt whose only table is a cmap with one subtable.
std::vector<std::uint8_t> cmap_font(std::uint16_t platform, std::uint16_t encoding,
                                    std::uint16_t format, char32_t c) {
  std::vector<std::uint8_t> cmap;
  put16(cmap, 0); put16(cmap, 1);
  put16(cmap, platform); put16(cmap, encoding); put32(cmap, 12);
  auto sub = subtable(format, c);
  cmap.insert(cmap.end(), sub.begin(), sub.end());
  std::vector<std::uint8_t> f;
  put32(f, 0x00010000); put16(f, 1); put16(f, 16); put16(f, 0); put16(f, 0);
  f.insert(f.end(), {'c', 'm', 'a', 'p'});
  put32(f, 0); put32(f, 28); put32(f, static_cast<std::uint32_t>(cmap.size()));
  f.insert(f.end(), cmap.begin(), cmap.end());
  return f;
}

FontBytes shared(std::vector<std::uint8_t> v) {
  return std::make_shared<const std::vector<std::uint8_t>>(std::move(v));
}

// ---- tests ----

TEST(EmbeddedFont, IsSoraRegular) {
  auto bytes = embedded_primary_font();
  ASSERT_GT(bytes.size(), 4U);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 4), "OTTO");

  auto face = load_font_face(shared({bytes.begin(), bytes.end()}), 0);
  ASSERT_TRUE(face) << face.error();
  EXPECT_EQ(face->face->family_name(), "Sora");
  EXPECT_EQ(face->face->style_name(), "Regular");
  EXPECT_EQ(face->face->units_per_em(), 1000);
  EXPECT_EQ(face->face->glyph_count(), 513U);
  EXPECT_NE(face->face->glyph_index(U'A'), 0U);
  EXPECT_EQ(face->face->glyph_index(U'\U0001F600'), 0U);  // the font covers the BMP only

  // Full and PostScript names from the name table itself.
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face ft;
  ASSERT_EQ(FT_New_Memory_Face(lib, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &ft), 0);
  std::string full;
  for (FT_UInt i = 0, n = FT_Get_Sfnt_Name_Count(ft); i < n; ++i) {
    FT_SfntName name;
    if (FT_Get_Sfnt_Name(ft, i, &name) != 0 || name.name_id != 4) continue;
    if (name.platform_id == 1) {
      full.assign(reinterpret_cast<const char*>(name.string), name.string_len);
    } else if (name.platform_id == 3 && full.empty()) {
      for (FT_UInt k = 1; k < name.string_len; k += 2) full.push_back(static_cast<char>(name.string[k]));
    }
  }
  EXPECT_EQ(full, "Sora Regular");
  EXPECT_STREQ(FT_Get_Postscript_Name(ft), "Sora-Regular");
  FT_Done_Face(ft);
  FT_Done_FreeType(lib);
}

TEST(PrimaryFont, CandidateChoice) {
  TempDir dir;
  auto embedded = embedded_primary_font();
  std::vector<std::uint8_t> embedded_bytes(embedded.begin(), embedded.end());
  write_file(dir / "readable.ttf", {1, 2, 3});
  write_file(dir / "later.ttf", {4, 5, 6});
  fs::create_directory(dir / "unreadable.ttf");  // exists, but reading it fails

  struct Case {
    const char* name;
    std::vector<std::string> candidates;
    std::vector<std::uint8_t> expected;
    std::string chosen;
  };
  const std::string missing = (dir / "missing.ttf").string();
  const std::string readable = (dir / "readable.ttf").string();
  const std::string unreadable = (dir / "unreadable.ttf").string();
  const std::string later = (dir / "later.ttf").string();
  const Case cases[] = {
      {"none exists", {missing, missing}, embedded_bytes, ""},
      {"first existing is read", {missing, readable, later}, {1, 2, 3}, readable},
      {"unreadable ends the search", {missing, unreadable, later}, embedded_bytes, ""},
  };
  for (const Case& c : cases) {
    std::string chosen = "x";
    EXPECT_EQ(primary_font_bytes_from(c.candidates, &chosen), c.expected) << c.name;
    EXPECT_EQ(chosen, c.chosen) << c.name;
  }
}

TEST(PrimaryFont, BrokenFileFallsBackToEmbedded) {
  TempDir dir;
  write_file(dir / "broken.otf", {'O', 'T', 'T', 'O', 0, 0, 0});
  std::vector<std::string> candidates = {(dir / "broken.otf").string()};
  testing::internal::CaptureStderr();
  FontFace face = load_primary_font(candidates);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(face.face->family_name(), "Sora");
  EXPECT_EQ(face.bytes->size(), embedded_primary_font().size());
  EXPECT_NE(err.find("[zem] primary font " + candidates[0] + " does not parse"), std::string::npos)
      << err;
}

TEST(PrimaryFont, ProcessFontIsSharedAndCarriesItsBytes) {
  FontFace a = primary_font();
  FontFace b = primary_font();
  EXPECT_EQ(a.identity(), b.identity());
  EXPECT_EQ(a.bytes.get(), b.bytes.get());
  EXPECT_EQ(*a.bytes, primary_font_bytes());
  EXPECT_EQ(a.index, 0U);
}

TEST(CmapCoverage, OnlyUnicodeSubtablesCount) {
  struct Case {
    const char* name;
    std::uint16_t platform, encoding, format;
    bool covered;
  };
  const Case cases[] = {
      {"unicode platform, format 4", 0, 3, 4, true},
      {"unicode platform, format 12", 0, 4, 12, true},
      {"windows BMP", 3, 1, 4, true},
      {"windows full repertoire, format 12", 3, 10, 12, true},
      {"windows full repertoire, format 4", 3, 10, 4, false},
      {"macintosh", 1, 0, 0, false},
      {"windows symbol", 3, 0, 4, false},
  };
  for (const Case& c : cases) {
    auto cov = CmapCoverage::open(shared(cmap_font(c.platform, c.encoding, c.format, U'A')), 0);
    ASSERT_TRUE(cov) << c.name;
    EXPECT_EQ(cov->maps(U'A'), c.covered) << c.name;
    EXPECT_FALSE(cov->maps(U'B')) << c.name;
  }
  EXPECT_FALSE(CmapCoverage::open(shared({1, 2, 3}), 0));
  EXPECT_FALSE(CmapCoverage::open(shared(cmap_font(3, 1, 4, U'A')), 1));  // no such face
}

TEST(FallbackFonts, SlotsAreSearchedInOrder) {
  require(kNoto);
  require(kDevanagari);
  require(kCjk);
  TempDir dir;
  // Slot 0 lacks its file; Devanagari sits in the second Devanagari slot only.
  FallbackFonts fonts({{(dir / "absent.ttf").string(), 0},
                       {kNoto, 0},
                       {(dir / "absent-deva.ttf").string(), 0},
                       {kDevanagari, 0},
                       {(dir / "absent-cjk.ttc").string(), 2},
                       {kCjk, 2}});
  struct Case {
    const char* name;
    char32_t c;
    std::optional<std::size_t> slot;
  };
  const Case cases[] = {
      {"latin", U'A', 1},
      {"devanagari", U'\u0915', 3},
      {"cjk", U'\u4E2D', 5},
      {"private use", U'\U0010FFFD', std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(fonts.slot_for_char(c.c), c.slot) << c.name;

  auto cjk = fonts.font_for_char(U'\u4E2D');
  ASSERT_TRUE(cjk);
  EXPECT_EQ(cjk->index, 2U);
  EXPECT_NE(cjk->face->glyph_index(U'\u4E2D'), 0U);
  EXPECT_EQ(*cjk->bytes, read_file(kCjk));
  // The same slot hands out the same parsed font every time.
  EXPECT_EQ(fonts.font_for_char(U'\u4E8C')->identity(), cjk->identity());
}

TEST(FallbackFonts, ChosenSlotThatDoesNotParseGivesNone) {
  require(kNoto);
  TempDir dir;
  write_file(dir / "tables-only.ttf", cmap_font(3, 1, 4, U'A'));
  FallbackFonts fonts({{(dir / "tables-only.ttf").string(), 0}, {kNoto, 0}});
  EXPECT_EQ(fonts.slot_for_char(U'A'), 0U);
  EXPECT_FALSE(fonts.font_for_char(U'A'));  // later slots are not consulted
  EXPECT_TRUE(fonts.font_for_char(U'B'));   // slot 0 does not cover B
}

TEST(FallbackFonts, SystemSlotsServeScripts) {
  struct Case {
    const char* name;
    char32_t c;
    const char* family;
  };
  const Case cases[] = {
      {"hebrew", U'\u05D0', "Noto Sans Hebrew"},
      {"thai", U'\u0E01', "Noto Sans Thai"},
      {"arabic", U'\u0628', "Noto Sans Arabic"},
      {"devanagari", U'\u0915', "Noto Sans Devanagari"},
      {"cjk", U'\u4E2D', "Noto Sans CJK SC"},
  };
  for (const Case& c : cases) {
    auto f = fallback_font_for_char(c.c);
    ASSERT_TRUE(f) << c.name;
    EXPECT_EQ(f->face->family_name(), c.family) << c.name;
    EXPECT_TRUE(f->has_bytes()) << c.name;
  }
  EXPECT_FALSE(fallback_font_for_char(U'\U0010FFFD'));
}

TEST(PerfWarn, ValueRules) {
  const std::pair<const char*, bool> cases[] = {
      {nullptr, false}, {"", false}, {"0", false}, {"\xff", false},
      {"1", true},      {"yes", true}, {"00", true}, {"\xc3\xa9", true},
  };
  for (auto [value, expected] : cases) {
    EXPECT_EQ(perf_warn_value_enabled(value), expected) << (value ? value : "(unset)");
  }
}

TEST(FontRegistry, BuildReportsAndSkipsBadFiles) {
  require(kNoto);
  TempDir dir;
  write_file(dir / "garbage.ttf", {0, 1, 2, 3, 4, 5, 6, 7});
  const std::string missing = (dir / "missing.ttf").string();
  const std::string garbage = (dir / "garbage.ttf").string();
  std::vector<FontFamilySources> families = {
      {"sans", {}, {{missing, 700, FontStyle::Italic}, {garbage, 400, FontStyle::Normal}, {kNoto, 400, FontStyle::Normal}}},
  };
  testing::internal::CaptureStderr();
  FontRegistry reg = FontRegistry::build(families);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("[zem] skipping font " + missing + " (weight 700, Italic): No such file or directory\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("[zem] skipping font " + garbage + " (weight 400, Normal): parse error: "),
            std::string::npos)
      << err;
  auto face = reg.lookup("sans", 400, FontStyle::Normal);
  ASSERT_TRUE(face);
  // The face keeps its own file so it can be shaped and rasterised.
  EXPECT_TRUE(face->has_bytes());
  EXPECT_EQ(*face->bytes, read_file(kNoto));
}

TEST(FontRegistry, LookupPrefersExactThenNearestThenFallbacks) {
  require(kNoto);
  require(kLiberation);
  auto noto = load_font_face(shared(read_file(kNoto)), 0).value();
  auto lib = load_font_face(shared(read_file(kLiberation)), 0).value();
  auto emb = primary_font();
  FontRegistry reg;
  reg.insert("sora", 400, FontStyle::Normal, emb);
  reg.insert("sora", 700, FontStyle::Normal, noto);
  reg.insert("sora", 300, FontStyle::Italic, lib);
  reg.insert("serif", 400, FontStyle::Normal, lib);
  reg.set_fallbacks("ui", {"nothing", "serif"});
  reg.set_fallbacks("loop-a", {"loop-b"});
  reg.set_fallbacks("loop-b", {"loop-a"});

  struct Case {
    const char* name;
    const char* family;
    std::uint16_t weight;
    FontStyle style;
    const void* expected;
  };
  const Case cases[] = {
      {"exact", "sora", 700, FontStyle::Normal, noto.identity()},
      {"nearest above", "sora", 600, FontStyle::Normal, noto.identity()},
      {"nearest below", "sora", 500, FontStyle::Normal, emb.identity()},
      {"same style first", "sora", 900, FontStyle::Italic, lib.identity()},
      {"any style", "serif", 400, FontStyle::Italic, lib.identity()},
      {"fallback family", "ui", 400, FontStyle::Normal, lib.identity()},
      {"unknown", "mono", 400, FontStyle::Normal, nullptr},
      {"fallback cycle", "loop-a", 400, FontStyle::Normal, nullptr},
  };
  for (const Case& c : cases) {
    auto f = reg.lookup(c.family, c.weight, c.style);
    EXPECT_EQ(f ? f->identity() : nullptr, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace zem

#include <thread>

namespace zem {
namespace {

TEST(FallbackFonts, FirstUseFromManyThreadsFillsEachSlotOnce) {
  require(kNoto);
  require(kCjk);
  FallbackFonts fonts({{kNoto, 0}, {kCjk, 2}});
  std::vector<const void*> latin(8), cjk(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      latin[i] = fonts.font_for_char(U'A')->identity();
      cjk[i] = fonts.font_for_char(U'\u4E2D')->identity();
    });
  }
  for (auto& t : threads) t.join();
  for (std::size_t i = 1; i < 8; ++i) {
    EXPECT_EQ(latin[i], latin[0]);
    EXPECT_EQ(cjk[i], cjk[0]);
  }
  EXPECT_NE(latin[0], cjk[0]);
}

}  // namespace
}  // namespace zem

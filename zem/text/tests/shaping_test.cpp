#include <zem/text/shaping.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <zem/text/system_fonts.hpp>

namespace zem {
namespace {

// Metrics-dependent tests pin the embedded Sora Regular.
FontFace sora() {
  static FontFace f = [] {
    auto e = embedded_primary_font();
    return load_font_face(std::make_shared<const std::vector<std::uint8_t>>(e.begin(), e.end()), 0)
        .value();
  }();
  return f;
}

ShapedRun shape(std::string_view text, float size = 20, const FontFace& font = sora()) {
  return shape_text(text, font.identity(), font, font, size);
}

// The family names along the run, consecutive repeats collapsed.
std::vector<std::string> families(const ShapedRun& run) {
  std::vector<std::string> out;
  for (const ShapedGlyph& g : *run) {
    std::string f = g.font->family_name();
    if (out.empty() || out.back() != f) out.push_back(f);
  }
  return out;
}

std::vector<std::uint32_t> glyph_ids(const ShapedRun& run) {
  std::vector<std::uint32_t> ids;
  for (const ShapedGlyph& g : *run) ids.push_back(g.glyph);
  return ids;
}

std::vector<std::uint32_t> glyph_ids(const std::vector<ShapedGlyph>& glyphs) {
  std::vector<std::uint32_t> ids;
  for (const ShapedGlyph& g : glyphs) ids.push_back(g.glyph);
  return ids;
}

class Shaping : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* p : {"/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf",
                          "/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf",
                          "/usr/share/fonts/truetype/noto/NotoSansHebrew-Regular.ttf",
                          "/usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf",
                          "/usr/share/fonts/truetype/noto/NotoSansThai-Regular.ttf"}) {
      if (!std::filesystem::exists(p)) GTEST_SKIP() << p << " is not installed";
    }
    clear_shape_cache();
  }
};

TEST_F(Shaping, EmptyTextIsNotCached) {
  shape("x");
  ShapedRun run = shape("");
  ASSERT_TRUE(run);
  EXPECT_TRUE(run->empty());
  EXPECT_EQ(shape_cache_size(), 1U);
}

TEST_F(Shaping, CacheKeysOnFontSizeBitsAndText) {
  ShapedRun a = shape("label", 16.0F);
  EXPECT_EQ(shape("label", 16.0F).get(), a.get());  // a hit shares the run
  shape("label", 16.5F);
  EXPECT_EQ(shape_cache_size(), 2U);
  FontFace other = primary_font();
  shape_text("label", &other, other, other, 16.0F);
  EXPECT_EQ(shape_cache_size(), 3U);
  shape("label", 0.0F);
  shape("label", -0.0F);
  EXPECT_EQ(shape_cache_size(), 5U);
}

TEST_F(Shaping, FullCacheIsEmptiedBeforeInserting) {
  for (std::size_t i = 0; i < SHAPE_CACHE_LIMIT; ++i) shape(std::to_string(i), 10);
  EXPECT_EQ(shape_cache_size(), SHAPE_CACHE_LIMIT);
  ShapedRun held = shape("0", 10);
  shape("one more", 10);
  EXPECT_EQ(shape_cache_size(), 1U);
  EXPECT_EQ(held->size(), 1U);  // a run outlives its cache entry
}

TEST_F(Shaping, OnlyTheFirstParagraphIsShaped) {
  ShapedRun two = shape("abc\ndef");
  ShapedRun first = shape("abc\n");
  EXPECT_EQ(glyph_ids(two), glyph_ids(first));
  EXPECT_GE(two->size(), 3U);
  EXPECT_LE(two->size(), 4U);
}

TEST_F(Shaping, MixedScriptsFormVisualRunsWithTheirFonts) {
  // Arabic followed by digits in a left-to-right paragraph: the digits take
  // the right-to-left embedding, so on screen they stand left of the Arabic word.
  ShapedRun run = shape("Hi \u0645\u0631\u062D\u0628\u0627 123 \u0928\u092E\u0938\u094D\u0924\u0947");
  EXPECT_EQ(families(run), (std::vector<std::string>{"Sora", "Noto Sans Arabic", "Sora",
                                                     "Noto Sans Devanagari"}));
  // Visual order: H, i, space, 1, 2, 3, space, Arabic..., space, Devanagari...
  const Font& s = *sora().face;
  std::vector<std::uint32_t> ids = glyph_ids(run);
  ASSERT_GE(ids.size(), 7U);
  const std::vector<std::uint32_t> head(ids.begin(), ids.begin() + 7);
  EXPECT_EQ(head, (std::vector<std::uint32_t>{s.glyph_index('H'), s.glyph_index('i'),
                                              s.glyph_index(' '), s.glyph_index('1'),
                                              s.glyph_index('2'), s.glyph_index('3'),
                                              s.glyph_index(' ')}));
}

TEST_F(Shaping, ArabicAndDevanagariAreReallyShaped) {
  FontFace arabic = fallback_font_for_char(U'\u0645').value();
  // Joined letters take contextual forms: initial meem differs from isolated meem.
  auto isolated = shape_segment("\u0645", arabic, true, 20);
  auto joined = shape_segment("\u0645\u0645", arabic, true, 20);
  ASSERT_EQ(isolated.size(), 1U);
  ASSERT_EQ(joined.size(), 2U);
  EXPECT_NE(joined[1].glyph, isolated[0].glyph);  // the right-hand glyph is the initial form

  // KA + virama + SSA forms a conjunct: fewer glyphs than characters.
  ShapedRun conjunct = shape("\u0915\u094D\u0937");
  EXPECT_LT(conjunct->size(), 3U);
  EXPECT_EQ(families(conjunct), std::vector<std::string>{"Noto Sans Devanagari"});
}

TEST_F(Shaping, RightToLeftWordsRunRightToLeftAcrossFonts) {
  // The space between the two Hebrew words comes from the primary font; the
  // second word must still appear at the left.
  const std::string first = "\u05E9\u05DC\u05D5\u05DD";
  const std::string second = "\u05E2\u05D5\u05DC\u05DD";
  FontFace hebrew = fallback_font_for_char(U'\u05E9').value();
  ShapedRun run = shape(first + " " + second);
  auto left = glyph_ids(shape_segment(second, hebrew, true, 20));
  auto right = glyph_ids(shape_segment(first, hebrew, true, 20));
  std::vector<std::uint32_t> expected = left;
  expected.push_back(sora().face->glyph_index(' '));
  expected.insert(expected.end(), right.begin(), right.end());
  EXPECT_EQ(glyph_ids(run), expected);
  // Within a word the shaper's visual order stands: the last letter is leftmost.
  EXPECT_EQ(left.front(), hebrew.face->glyph_index(U'\u05DD'));
}

TEST_F(Shaping, FallbackFontsPerScript) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> families;
  };
  const Case cases[] = {
      {"cjk", "\u4E2D\u6587", {"Noto Sans CJK SC"}},
      {"hebrew", "\u05E9\u05DC\u05D5\u05DD", {"Noto Sans Hebrew"}},
      {"thai", "\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35", {"Noto Sans Thai"}},
      {"latin stays primary", "Hello", {"Sora"}},
      {"latin then cjk", "OK\u4E2D", {"Sora", "Noto Sans CJK SC"}},
  };
  for (const Case& c : cases) EXPECT_EQ(families(shape(c.text)), c.families) << c.name;
}

TEST_F(Shaping, FontWithoutBytesTakesEveryCharacterFromFallbacks) {
  FontFace bare = sora();
  bare.bytes = nullptr;
  ShapedRun run = shape_text("Ab", bare.identity(), bare, bare, 20);
  EXPECT_EQ(families(run), std::vector<std::string>{"Noto Sans"});
  // With a last resort, characters no slot covers still get a glyph.
  ShapedRun rescued = shape_text("\U0010FFFD", bare.identity(), bare, sora(), 20);
  ASSERT_EQ(rescued->size(), 1U);
  EXPECT_EQ(rescued->front().glyph, 0U);
  EXPECT_TRUE(shape_text("\U0010FFFD", bare.identity(), bare, bare, 21)->empty());
}

TEST_F(Shaping, KerningShowsInWidths) {
  const float together = run_width(shape("AV", 100));
  const float apart = run_width(shape("A", 100)) + run_width(shape("V", 100));
  EXPECT_LT(together, apart - 1.0F);
  // Sizes scale advances linearly.
  EXPECT_NEAR(run_width(shape("Hello", 40)), 2 * run_width(shape("Hello", 20)), 0.01);
}

}  // namespace
}  // namespace zem

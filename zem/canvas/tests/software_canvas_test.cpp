#include <zem/canvas/software_canvas.hpp>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include <zem/text/system_fonts.hpp>
#include <zem/text/shaping.hpp>

namespace zem {
namespace {

using Px = std::array<std::uint8_t, 4>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr Color kRed{1, 0, 0, 1};
constexpr Color kWhite{1, 1, 1, 1};
constexpr Px kClear{0, 0, 0, 0};
constexpr Px kOpaqueRed{255, 0, 0, 255};

bool near(const Px& a, const Px& b, int tol) {
  for (int i = 0; i < 4; ++i) {
    if (std::abs(int(a[i]) - int(b[i])) > tol) return false;
  }
  return true;
}

std::string show(const Px& p) {
  return "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
         "," + std::to_string(p[3]) + ")";
}

bool blank(const SoftwareCanvas& c) {
  for (std::uint32_t y = 0; y < c.height(); ++y) {
    for (std::uint32_t x = 0; x < c.width(); ++x) {
      if (c.pixel(x, y) != kClear) return false;
    }
  }
  return true;
}

struct Probe {
  std::uint32_t x, y;
  Px expected;
  int tolerance;
};

struct FillCase {
  const char* name;
  std::function<void(SoftwareCanvas&)> draw;
  std::vector<Probe> probes;
};

TEST(SoftwareCanvas, FillsStrokesAndLinesHitTheExpectedPixels) {
  const Px half_red{128, 0, 0, 128};
  const FillCase cases[] = {
      {"culled left of the pixmap", [](auto& c) { c.fill_rounded_rect({-30, 0, 20, 10}, kRed, {}); },
       {{0, 0, kClear, 0}, {5, 5, kClear, 0}}},
      {"partly left of the pixmap", [](auto& c) { c.fill_rounded_rect({-5, 0, 20, 10}, kRed, {}); },
       {{0, 0, kOpaqueRed, 0}, {14, 9, kOpaqueRed, 0}, {15, 0, kClear, 0}, {0, 10, kClear, 0}}},
      {"half-covered edge pixels", [](auto& c) { c.fill_rounded_rect({0.5F, 0, 2, 1}, kRed, {}); },
       {{0, 0, half_red, 1}, {1, 0, kOpaqueRed, 0}, {2, 0, half_red, 1}, {3, 0, kClear, 0}}},
      {"alpha above 1 paints black", [](auto& c) { c.fill_rounded_rect({0, 0, 4, 4}, {1, 0, 0, 1.2F}, {}); },
       {{1, 1, {0, 0, 0, 255}, 0}}},
      {"NaN component paints black", [](auto& c) { c.fill_rounded_rect({0, 0, 4, 4}, {kNaN, 0, 0, 1}, {}); },
       {{1, 1, {0, 0, 0, 255}, 0}}},
      {"negative component paints black", [](auto& c) { c.fill_rounded_rect({0, 0, 4, 4}, {-0.1F, 0, 0, 1}, {}); },
       {{1, 1, {0, 0, 0, 255}, 0}}},
      {"translucent colour", [](auto& c) { c.fill_rounded_rect({0, 0, 4, 4}, {1, 0, 0, 0.5F}, {}); },
       {{1, 1, half_red, 1}}},
      {"canvas opacity", [](auto& c) { c.state().opacity = 0.5F; c.fill_rounded_rect({0, 0, 4, 4}, kRed, {}); },
       {{1, 1, half_red, 1}}},
      {"opacity pushing alpha past 1 paints black",
       [](auto& c) { c.state().opacity = 2.0F; c.fill_rounded_rect({0, 0, 4, 4}, {1, 0, 0, 0.6F}, {}); },
       {{1, 1, {0, 0, 0, 255}, 0}}},
      {"negative width draws nothing", [](auto& c) { c.fill_rounded_rect({10, 0, -4, 4}, kRed, {}); },
       {{8, 1, kClear, 0}, {10, 1, kClear, 0}}},
      {"NaN position draws nothing", [](auto& c) { c.fill_rounded_rect({kNaN, 0, 4, 4}, kRed, {}); },
       {{1, 1, kClear, 0}}},
      {"infinite size draws nothing",
       [](auto& c) { c.fill_rounded_rect({0, 0, std::numeric_limits<float>::infinity(), 4}, kRed, {}); },
       {{1, 1, kClear, 0}}},
      {"zero radii are a plain rectangle", [](auto& c) { c.fill_rounded_rect({0, 0, 20, 10}, kRed, Radii{0, 0, 0, 0}); },
       {{0, 0, kOpaqueRed, 0}, {19, 9, kOpaqueRed, 0}}},
      {"negative radii are a plain rectangle", [](auto& c) { c.fill_rounded_rect({0, 0, 20, 10}, kRed, Radii::all(-3)); },
       {{0, 0, kOpaqueRed, 0}}},
      {"oversized radius clamped to half the shorter side",
       [](auto& c) { c.fill_rounded_rect({0, 0, 20, 10}, kRed, Radii{50, 0, 0, 0}); },
       // Radius 5: (2, 2) lies inside the curve; radius 10 would leave it outside.
       {{2, 2, kOpaqueRed, 2}, {19, 0, kOpaqueRed, 0}, {0, 9, kOpaqueRed, 0}, {0, 0, kClear, 40}}},
      {"stroke centred on the edge",
       [](auto& c) { c.stroke_rounded_rect({5, 5, 10, 10}, kRed, {}, 2); },
       {{4, 10, kOpaqueRed, 0}, {5, 10, kOpaqueRed, 0}, {3, 10, kClear, 0}, {6, 10, kClear, 0},
        {10, 10, kClear, 0}, {4, 4, kOpaqueRed, 0}}},
      {"stroke of width 0 draws nothing", [](auto& c) { c.stroke_rounded_rect({5, 5, 10, 10}, kRed, {}, 0); },
       {{5, 10, kClear, 0}}},
      {"line with flat ends", [](auto& c) { c.draw_line(kRed, 2, 5.5F, 12, 5.5F, 1); },
       {{2, 5, kOpaqueRed, 0}, {11, 5, kOpaqueRed, 0}, {1, 5, kClear, 0}, {12, 5, kClear, 0},
        {5, 4, kClear, 0}}},
      {"NaN line draws nothing", [](auto& c) { c.draw_line(kRed, 2, kNaN, 12, 5.5F, 1); },
       {{5, 5, kClear, 0}}},
  };
  for (const FillCase& fc : cases) {
    SoftwareCanvas c = SoftwareCanvas::create(40, 20);
    fc.draw(c);
    for (const Probe& p : fc.probes) {
      Px got = c.pixel(p.x, p.y);
      EXPECT_TRUE(near(got, p.expected, p.tolerance))
          << fc.name << " at (" << p.x << "," << p.y << "): " << show(got) << " expected "
          << show(p.expected);
    }
    // Drawing after a refused shape still works.
    c.state().opacity = 1;
    c.fill_rounded_rect({39, 19, 1, 1}, kRed, {});
    EXPECT_EQ(c.pixel(39, 19), kOpaqueRed) << fc.name;
  }
}

TEST(SoftwareCanvas, ClipMasksFollowPixelCentres) {
  struct Case {
    const char* name;
    std::vector<Rect> rects;
    int x0, y0, x1, y1;  // the expected inside box, right and bottom exclusive (empty: nothing)
  };
  const Case cases[] = {
      {"whole pixels", {{10, 10, 20, 20}}, 10, 10, 30, 30},
      {"entirely outside", {{-10, -10, 5, 5}}, 0, 0, 0, 0},
      {"partly outside", {{-10, -10, 15, 12}}, 0, 0, 5, 2},
      {"fractional edges", {{10.5F, 10.25F, 5, 5}}, 10, 10, 15, 15},
      {"zero size", {{5, 5, 0, 10}}, 0, 0, 0, 0},
      {"NaN rect", {{kNaN, 0, 10, 10}}, 0, 0, 0, 0},
  };
  for (const Case& k : cases) {
    SoftwareCanvas c = SoftwareCanvas::create(40, 40);
    c.set_clip_rects(k.rects);
    // The list comes back exactly as passed (byte for byte, so NaN too).
    ASSERT_EQ(c.clip_rects().size(), k.rects.size()) << k.name;
    EXPECT_EQ(std::memcmp(c.clip_rects().data(), k.rects.data(), k.rects.size() * sizeof(Rect)), 0)
        << k.name;
    c.fill_rounded_rect({0, 0, 40, 40}, kRed, {});
    for (std::uint32_t y = 0; y < 40; ++y) {
      for (std::uint32_t x = 0; x < 40; ++x) {
        bool inside = int(x) >= k.x0 && int(x) < k.x1 && int(y) >= k.y0 && int(y) < k.y1;
        ASSERT_EQ(c.clip_mask_at(x, y), inside ? 255 : 0) << k.name << " mask " << x << "," << y;
        ASSERT_EQ(c.pixel(x, y), inside ? kOpaqueRed : kClear) << k.name << " " << x << "," << y;
      }
    }
  }
}

TEST(SoftwareCanvas, ClipUnionEmptyListAndReset) {
  SoftwareCanvas c = SoftwareCanvas::create(20, 10);
  std::vector<Rect> two = {{0, 0, 5, 5}, {3, 3, 5, 5}};
  c.set_clip_rects(two);
  c.fill_rounded_rect({0, 0, 20, 10}, kRed, {});
  EXPECT_EQ(c.pixel(4, 4), kOpaqueRed);  // overlap painted once
  EXPECT_EQ(c.pixel(7, 7), kOpaqueRed);
  EXPECT_EQ(c.pixel(7, 1), kClear);
  c.set_clip_rects(std::vector<Rect>{});
  EXPECT_TRUE(c.clip_rects().empty());
  c.fill_rounded_rect({0, 0, 20, 10}, kRed, {});
  EXPECT_EQ(c.pixel(7, 1), kOpaqueRed);
  c.set_clip_rects(std::vector<Rect>{{-50, -50, 10, 10}});
  c.clear_color({0, 0, 1, 1});
  EXPECT_EQ(c.pixel(0, 0), kOpaqueRed);
  c.reset_clip();
  c.clear_color({0, 0, 1, 1});
  EXPECT_EQ(c.pixel(0, 0), (Px{0, 0, 255, 255}));
}

TEST(SoftwareCanvas, ClearsIgnoreOpacityAndClipAsStated) {
  SoftwareCanvas c = SoftwareCanvas::create(10, 10);
  c.state().opacity = 0.25F;
  c.clear_color(kRed);
  EXPECT_EQ(c.pixel(5, 5), kOpaqueRed);  // opacity does not apply to clears
  // Unclipped, a translucent colour replaces the pixels.
  c.clear_color({0, 0, 1, 0.5F});
  EXPECT_TRUE(near(c.pixel(5, 5), Px{0, 0, 128, 128}, 1)) << show(c.pixel(5, 5));
  // Clipped, it blends over what is there.
  c.clear_color(kRed);
  c.set_clip_rects(std::vector<Rect>{{0, 0, 5, 10}});
  c.clear_color({0, 0, 1, 0.5F});
  EXPECT_TRUE(near(c.pixel(2, 2), Px{127, 0, 128, 255}, 1)) << show(c.pixel(2, 2));
  EXPECT_EQ(c.pixel(7, 2), kOpaqueRed);
  // clear_rects ignores the clip and rounds outwards.
  c.clear_rects(std::vector<Rect>{{6.5F, 0.5F, 1, 1}, {-3, 8, 100, 100}, {kNaN, 0, 3, 3}});
  EXPECT_EQ(c.pixel(6, 0), kClear);
  EXPECT_EQ(c.pixel(7, 1), kClear);
  EXPECT_EQ(c.pixel(8, 1), kOpaqueRed);
  EXPECT_EQ(c.pixel(6, 2), kOpaqueRed);
  EXPECT_EQ(c.pixel(0, 8), kClear);
  EXPECT_EQ(c.pixel(9, 9), kClear);
  EXPECT_EQ(c.pixel(0, 7), (Px{127, 0, 128, 255}));
  c.clear();
  EXPECT_TRUE(blank(c));
}

TEST(SoftwareCanvas, CopyToBufferByteOrder) {
  SoftwareCanvas c = SoftwareCanvas::create(3, 1);
  c.fill_rounded_rect({0, 0, 1, 1}, {1, 0.5F, 0, 1}, {});
  c.fill_rounded_rect({1, 0, 1, 1}, {0, 0, 1, 0.5F}, {});
  const Px p0 = c.pixel(0, 0);
  ASSERT_TRUE(near(p0, Px{255, 128, 0, 255}, 1)) << show(p0);
  const Px p1 = c.pixel(1, 0);
  ASSERT_TRUE(near(p1, Px{0, 0, 128, 128}, 1)) << show(p1);

  struct Case {
    const char* name;
    std::size_t size;
    bool swap;
    std::vector<std::uint8_t> expected;
  };
  const std::uint8_t s = 0xAA;  // untouched bytes
  const Case cases[] = {
      {"RGBA", 12, false, {p0[0], p0[1], p0[2], p0[3], p1[0], p1[1], p1[2], p1[3], 0, 0, 0, 0}},
      {"BGRA", 12, true, {p0[2], p0[1], p0[0], p0[3], p1[2], p1[1], p1[0], p1[3], 0, 0, 0, 0}},
      {"short BGRA leaves the partial pixel", 10, true,
       {p0[2], p0[1], p0[0], p0[3], p1[2], p1[1], p1[0], p1[3], s, s}},
      {"short RGBA copies the partial bytes", 6, false, {p0[0], p0[1], p0[2], p0[3], p1[0], p1[1]}},
      {"longer buffer keeps its tail", 14, false,
       {p0[0], p0[1], p0[2], p0[3], p1[0], p1[1], p1[2], p1[3], 0, 0, 0, 0, s, s}},
  };
  for (const Case& k : cases) {
    std::vector<std::uint8_t> buf(k.size, s);
    c.copy_to_buffer(buf, k.swap);
    EXPECT_EQ(buf, k.expected) << k.name;
  }
}

TEST(SoftwareCanvas, ImageDataIsPremultipliedAndScaled) {
  SoftwareCanvas c = SoftwareCanvas::create(8, 4);
  const std::vector<std::uint8_t> one = {255, 128, 0, 128};
  c.draw_image_data(one, 1, 1, {0, 0, 1, 1}, 1);
  EXPECT_EQ(c.pixel(0, 0), (Px{128, 64, 0, 128}));
  c.draw_image_data(one, 1, 1, {1, 0, 1, 1}, 0.5F);
  EXPECT_EQ(c.pixel(1, 0), (Px{64, 32, 0, 64}));
  // Opacities outside 0..1 are held there, so pixels stay valid premultiplied colour.
  c.draw_image_data(one, 1, 1, {2, 0, 1, 1}, 3.0F);
  EXPECT_EQ(c.pixel(2, 0), (Px{128, 64, 0, 128}));
  c.draw_image_data(one, 1, 1, {3, 0, 1, 1}, -1.0F);
  c.draw_image_data(one, 1, 1, {3, 0, 1, 1}, kNaN);
  EXPECT_EQ(c.pixel(3, 0), kClear);

  // Black and white, opaque, doubled in width: bilinear in between, edges padded.
  const std::vector<std::uint8_t> bw = {0, 0, 0, 255, 255, 255, 255, 255};
  c.draw_image_data(bw, 2, 1, {0, 2, 4, 1}, 1);
  const int expected[] = {0, 64, 191, 255};
  for (int x = 0; x < 4; ++x) {
    Px p = c.pixel(static_cast<std::uint32_t>(x), 2);
    EXPECT_NEAR(p[0], expected[x], 2) << x;
    EXPECT_EQ(p[3], 255) << x;
  }
  // Position and size are rounded.
  c.draw_image_data(std::vector<std::uint8_t>{255, 0, 0, 255}, 1, 1, {5.5F, 2.4F, 1.6F, 0.6F}, 1);
  EXPECT_EQ(c.pixel(6, 2), kOpaqueRed);
  EXPECT_EQ(c.pixel(7, 2), kOpaqueRed);
  EXPECT_EQ(c.pixel(5, 2), kClear);
  EXPECT_EQ(c.pixel(6, 3), kClear);
}

TEST(SoftwareCanvas, MalformedImageDataIsRefused) {
  struct Case {
    std::uint32_t w, h;
    std::size_t bytes;
    std::string message;
  };
  const Case cases[] = {
      {2, 2, 15, "[zem] SoftwareCanvas::draw_image_data: refusing draw \u2014 2\u00d72 declared, 15 bytes provided, expected 16\n"},
      {0, 2, 0, "[zem] SoftwareCanvas::draw_image_data: refusing draw \u2014 0\u00d72 declared, 0 bytes provided, expected 0\n"},
      {0xFFFFFFFF, 0xFFFFFFFF, 4,
       "[zem] SoftwareCanvas::draw_image_data: refusing draw \u2014 4294967295\u00d74294967295 declared, 4 bytes provided, expected 18446744073709551615\n"},
  };
  for (const Case& k : cases) {
    SoftwareCanvas c = SoftwareCanvas::create(4, 4);
    std::vector<std::uint8_t> data(k.bytes, 255);
    testing::internal::CaptureStderr();
    c.draw_image_data(data, k.w, k.h, {0, 0, 4, 4}, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), k.message);
    EXPECT_TRUE(blank(c));
  }
  // A destination that rounds to nothing draws nothing and breaks nothing.
  SoftwareCanvas c = SoftwareCanvas::create(4, 4);
  c.draw_image_data(std::vector<std::uint8_t>{255, 0, 0, 255}, 1, 1, {0, 0, 0.2F, 4}, 1);
  EXPECT_TRUE(blank(c));
  c.fill_rounded_rect({0, 0, 1, 1}, kRed, {});
  EXPECT_EQ(c.pixel(0, 0), kOpaqueRed);
}

// ---- text ----

class SoftwareText : public testing::Test {
 protected:
  void SetUp() override { clear_shape_cache(); }
};

TEST_F(SoftwareText, GlyphsSitOnTheBaselineAtTheirCoverage) {
  SoftwareCanvas c = SoftwareCanvas::create(60, 40);
  c.draw_text("I", 10, 30, 20, kWhite);
  const Font& font = *c.state().primary_font.face;
  GlyphBitmap bm = font.rasterize(font.glyph_index('I'), 20);
  ASSERT_GT(bm.metrics.width, 0U);
  const int left = 10 + bm.metrics.xmin;
  const int top = 30 - (bm.metrics.ymin + int(bm.metrics.height)) + 1;
  for (int row = 0; row < int(bm.metrics.height); ++row) {
    for (int col = 0; col < int(bm.metrics.width); ++col) {
      std::uint8_t v = bm.coverage[std::size_t(row) * bm.metrics.width + col];
      ASSERT_EQ(c.pixel(left + col, top + row), (Px{v, v, v, v})) << col << "," << row;
    }
  }
  // The stem ends on the baseline: the row above it is covered, the baseline row is not.
  const std::uint32_t stem = std::uint32_t(left + int(bm.metrics.width) / 2);
  EXPECT_GT(c.pixel(stem, 29)[3], 200);
  EXPECT_EQ(c.pixel(stem, 30)[3], 0);
}

TEST_F(SoftwareText, TextBlendsWithOpacityAndClip) {
  SoftwareCanvas full = SoftwareCanvas::create(80, 40);
  full.draw_text("gg", 5, 25, 24, kRed);
  SoftwareCanvas half = SoftwareCanvas::create(80, 40);
  half.state().opacity = 0.5F;
  half.draw_text("gg", 5, 25, 24, kRed);
  SoftwareCanvas over = SoftwareCanvas::create(80, 40);
  over.draw_text("gg", 5, 25, 24, {1, 0, 0, 2});  // alpha above 1 blends as 1
  SoftwareCanvas clipped = SoftwareCanvas::create(80, 40);
  clipped.set_clip_rects(std::vector<Rect>{{0, 0, 80, 22.5F}});
  clipped.draw_text("gg", 5, 25, 24, kRed);
  bool saw_full = false;
  bool saw_below_clip = false;
  for (std::uint32_t y = 0; y < 40; ++y) {
    for (std::uint32_t x = 0; x < 80; ++x) {
      Px f = full.pixel(x, y);
      EXPECT_EQ(over.pixel(x, y), f) << x << "," << y;
      if (f[3] == 255) {
        saw_full = true;
        EXPECT_EQ(half.pixel(x, y), (Px{127, 0, 0, 127})) << x << "," << y;
      }
      if (y < 22) {
        EXPECT_EQ(clipped.pixel(x, y), f) << x << "," << y;
      } else {
        if (f[3] != 0) saw_below_clip = true;
        EXPECT_EQ(clipped.pixel(x, y), kClear) << x << "," << y;
      }
    }
  }
  EXPECT_TRUE(saw_full);
  EXPECT_TRUE(saw_below_clip);
}

TEST_F(SoftwareText, CullingHappensBeforeShaping) {
  struct Case {
    const char* name;
    float x, baseline;
    std::vector<Rect> clip;
    bool shaped;
  };
  const Case cases[] = {
      {"above the pixmap", 0, -19, {}, false},
      {"just reaching the pixmap", 0, -17, {}, true},
      {"right of the pixmap", 61, 20, {}, false},
      {"below the pixmap", 0, 40 + 19, {}, false},
      {"clip far above the line", 0, 30, {{0, 0, 60, 5}}, false},
      {"clip below the line", 0, 10, {{0, 20, 60, 5}}, false},
      {"clip on the line", 0, 30, {{0, 25, 60, 5}}, true},
  };
  for (const Case& k : cases) {
    clear_shape_cache();
    SoftwareCanvas c = SoftwareCanvas::create(60, 40);
    if (!k.clip.empty()) c.set_clip_rects(k.clip);
    c.draw_text("Hg", k.x, k.baseline, 12, kRed);
    EXPECT_EQ(shape_cache_size(), k.shaped ? 1U : 0U) << k.name;
    if (!k.shaped) {
      EXPECT_TRUE(blank(c)) << k.name;
    }
  }
}

TEST_F(SoftwareText, MeasureMatchesShapedAdvancesAndScale) {
  SoftwareCanvas c = SoftwareCanvas::create(10, 10);
  const FontFace f = c.state().primary_font;
  const float w = c.measure_text("Hello", 16);
  EXPECT_FLOAT_EQ(w, run_width(shape_text("Hello", f.identity(), f, f, 16)));
  c.state().scale = 2;
  EXPECT_NEAR(c.measure_text("Hello", 16), 2 * w, 0.01);
  EXPECT_EQ(c.measure_text("", 16), 0);
}

TEST_F(SoftwareText, GlyphCacheHalvesWhenFull) {
  SoftwareCanvas c = SoftwareCanvas::create(40, 40);
  // Every size is a distinct cache key for the same glyph.
  for (std::size_t i = 0; i < GLYPH_CACHE_LIMIT; ++i) {
    c.draw_text("a", 2, 20, 8.0F + float(i) / 1024.0F, kWhite);
  }
  ASSERT_EQ(c.glyph_cache_size(), GLYPH_CACHE_LIMIT);
  c.draw_text("a", 2, 20, 30, kWhite);
  EXPECT_EQ(c.glyph_cache_size(), GLYPH_CACHE_LIMIT / 2 + 1);
}

TEST_F(SoftwareText, EvictionInsideAStringStillDrawsEveryGlyph) {
  SoftwareCanvas reference = SoftwareCanvas::create(80, 40);
  reference.draw_text("ab", 5, 30, 24, kWhite);
  SoftwareCanvas c = SoftwareCanvas::create(80, 40);
  for (std::size_t i = 0; i + 1 < GLYPH_CACHE_LIMIT; ++i) {
    c.draw_text("a", 2, 20, 8.0F + float(i) / 1024.0F, kWhite);
  }
  c.clear();
  ASSERT_EQ(c.glyph_cache_size(), GLYPH_CACHE_LIMIT - 1);
  c.draw_text("ab", 5, 30, 24, kWhite);  // "b" finds the cache full after "a" went in
  for (std::uint32_t y = 0; y < 40; ++y) {
    for (std::uint32_t x = 0; x < 80; ++x) ASSERT_EQ(c.pixel(x, y), reference.pixel(x, y));
  }
}

// ---- target ----

TEST(SoftwareCanvas, SubCanvasAndBlit) {
  SoftwareCanvas parent = SoftwareCanvas::create(20, 20);
  parent.state().scale = 2;
  parent.state().unit_scale = 1.5F;
  parent.set_clip_rects(std::vector<Rect>{{0, 0, 10, 10}});
  SoftwareCanvas sub = parent.sub_canvas(4, 4);
  EXPECT_EQ(sub.state().viewport, (SizeF{20, 20}));
  EXPECT_EQ(sub.state().scale, 2);
  EXPECT_EQ(sub.state().unit_scale, 1.5F);
  EXPECT_TRUE(sub.clip_rects().empty());
  EXPECT_EQ(sub.glyph_cache_size(), 0U);
  parent.state().viewport = SizeF{100, 50};
  EXPECT_EQ(parent.sub_canvas(2, 2).state().viewport, (SizeF{100, 50}));

  sub.fill_rounded_rect({0, 0, 4, 4}, kRed, {});
  parent.blit(sub, 8, 8);  // the clip keeps only (8..9, 8..9)
  EXPECT_EQ(parent.pixel(8, 8), kOpaqueRed);
  EXPECT_EQ(parent.pixel(9, 9), kOpaqueRed);
  EXPECT_EQ(parent.pixel(10, 9), kClear);
  parent.reset_clip();
  // The sub-canvas drew with the opacity already; blitting does not apply it twice.
  parent.state().opacity = 0.5F;
  SoftwareCanvas faded = parent.sub_canvas(2, 2);
  faded.fill_rounded_rect({0, 0, 2, 2}, kRed, {});
  parent.blit(faded, 0, 12);
  EXPECT_TRUE(near(parent.pixel(1, 13), Px{128, 0, 0, 128}, 1)) << show(parent.pixel(1, 13));
}

TEST(SoftwareCanvas, BlitFadesTheBottomEdge) {
  SoftwareCanvas c = SoftwareCanvas::create(4, 20);
  SoftwareCanvas sub = c.sub_canvas(4, 20);
  sub.fill_rounded_rect({0, 0, 4, 20}, kRed, {});
  c.blit(sub, 0, 0, 10);
  EXPECT_EQ(c.pixel(1, 5)[3], 255);
  EXPECT_LT(c.pixel(1, 19)[3], 20);
  EXPECT_GT(c.pixel(1, 15)[3], c.pixel(1, 18)[3]);
}

TEST(SoftwareCanvas, ResizeKeepsStateAndClearsPixels) {
  SoftwareCanvas c = SoftwareCanvas::create(10, 10);
  c.state().scale = 3;
  c.state().opacity = 0.5F;
  c.set_clip_rects(std::vector<Rect>{{0, 0, 15, 15}});
  c.clear_color(kRed);
  c.resize(30, 20);
  EXPECT_EQ(c.width(), 30U);
  EXPECT_EQ(c.height(), 20U);
  EXPECT_TRUE(blank(c));
  EXPECT_EQ(c.state().scale, 3);
  EXPECT_EQ(c.state().opacity, 0.5F);
  EXPECT_EQ(c.clip_rects(), (std::vector<Rect>{{0, 0, 15, 15}}));
  c.clear_color(kRed);
  EXPECT_EQ(c.pixel(14, 14), kOpaqueRed);
  EXPECT_EQ(c.pixel(15, 14), kClear);
}

TEST(SoftwareCanvasDeath, SizesThatCannotExistStop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(SoftwareCanvas::create(0, 10), "pixmap");
  EXPECT_DEATH(SoftwareCanvas::create(10, 0), "pixmap");
  EXPECT_DEATH(SoftwareCanvas::create(100000, 100000), "pixmap");
  EXPECT_DEATH(
      {
        SoftwareCanvas c = SoftwareCanvas::create(10, 10);
        c.resize(0, 5);
      },
      "pixmap");
}

TEST(RoundedRectPath, CornersUseTheCurveConstant) {
  auto p = rounded_rect_path(0, 0, 20, 10, Radii{50, 0, 0, 0});
  ASSERT_TRUE(p);
  using S = RoundedRectPath::Segment;
  // Move, line, line, line, line, curve (top-left), close.
  ASSERT_EQ(p->segments.size(), 7U);
  EXPECT_EQ(p->segments[0].kind, S::Move);
  EXPECT_FLOAT_EQ(p->segments[0].pts[0], 5);
  const S& curve = p->segments[5];
  ASSERT_EQ(curve.kind, S::Cubic);
  EXPECT_FLOAT_EQ(curve.pts[1], 5 - 0.5523F * 5);
  EXPECT_FLOAT_EQ(curve.pts[2], 5 - 0.5523F * 5);
  EXPECT_FLOAT_EQ(curve.pts[4], 5);
  EXPECT_FALSE(rounded_rect_path(0, 0, kNaN, 10, Radii::all(2)));
  EXPECT_FALSE(rounded_rect_path(10, 0, 5, 10, Radii::all(2)));
}

}  // namespace
}  // namespace zem

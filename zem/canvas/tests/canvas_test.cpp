#include <zem/canvas/canvas.hpp>

#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include <zem/text/system_fonts.hpp>
#include <zem/text/shaping.hpp>

namespace zem {
namespace {

using Px = std::array<std::uint8_t, 4>;
constexpr Color kRed{1, 0, 0, 1};

TEST(Canvas, ResponsiveMetrics) {
  struct Case {
    const char* name;
    std::uint32_t w, h;
    std::optional<SizeF> viewport;
    float scale;
    float base;
    float px;    // responsive_px
    float text;  // responsive_text_px at text scale 1
  };
  const Case cases[] = {
      {"upper bound", 824, 1600, {}, 1, 16, 24, 24},
      {"lower bound", 206, 400, {}, 1, 16, 11.2F, 11.2F},
      {"reference side", 412, 900, {}, 1, 16, 16, 16},
      {"text divides by the scale", 824, 1600, {}, 2, 16, 24, 16},
      {"viewport wins over the target", 2000, 2000, SizeF{412, 900}, 1, 16, 16, 16},
      {"negative base keeps its bounds", 412, 900, {}, 1, -10, -10, -10},
  };
  for (const Case& k : cases) {
    Canvas c = Canvas::new_software(k.w, k.h);
    c.set_scale(k.scale);
    c.set_viewport(k.viewport);
    EXPECT_NEAR(c.responsive_px(k.base), k.px, 1e-4) << k.name;
    EXPECT_NEAR(c.responsive_text_px(k.base), k.text, 1e-4) << k.name;
    set_text_scale(1.5F);
    EXPECT_NEAR(c.responsive_text_px(k.base), k.text * 1.5F, 1e-4) << k.name;
    set_text_scale(1.0F);
  }
}

TEST(Canvas, LengthResolutionUsesViewportScaleAndUnitScale) {
  Canvas c = Canvas::new_software(800, 400);
  EXPECT_FLOAT_EQ(c.resolve_length(Length::percent_width(10)), 80);
  EXPECT_FLOAT_EQ(c.resolve_length(Length::em(2)), 32);
  EXPECT_FLOAT_EQ(c.resolve_length(Length::scaled(3)), 3);
  c.set_unit_scale(2.0F);
  EXPECT_FLOAT_EQ(c.resolve_length(Length::scaled(3)), 6);
  c.set_scale(2);
  set_text_scale(2.0F);
  EXPECT_FLOAT_EQ(c.resolve_text_length(Length::percent_width(10)), 40 * 2.0F);
  set_text_scale(1.0F);
  c.set_viewport(SizeF{100, 50});
  EXPECT_FLOAT_EQ(c.resolve_length(Length::percent_height(10)), 5);
}

TEST(Canvas, ClipRoundTripsThroughTheDispatch) {
  Canvas c = Canvas::new_software(20, 20);
  EXPECT_TRUE(c.clip_rects().empty());
  std::vector<Rect> saved = {{-50, -50, 10, 10}};
  c.set_clip_rects(saved);
  EXPECT_EQ(c.clip_rects(), saved);
  c.fill_rect_radius({0, 0, 20, 20}, kRed, 0);
  EXPECT_EQ(c.software()->pixel(0, 0), (Px{0, 0, 0, 0}));
  c.reset_clip();
  EXPECT_TRUE(c.clip_rects().empty());
}

TEST(Canvas, PaintHelpersOnTheSoftwareBackend) {
  struct Case {
    const char* name;
    Paint paint;
    Px expected;
  };
  const Case cases[] = {
      {"solid", Color{0, 0, 1, 1}, {0, 0, 255, 255}},
      {"linear takes its first stop", LinearGradient{{{0, 1, 0, 1, 0}, {1, 0, 0, 1, 1}}, 90, {}},
       {0, 255, 0, 255}},
      {"radial takes its first stop", RadialGradient{{{1, 0, 0, 1, 0.3F}}, 0.5F, 0.5F, 0.5F, {}},
       {255, 0, 0, 255}},
      {"gradient without stops is transparent", LinearGradient{}, {0, 0, 0, 0}},
  };
  for (const Case& k : cases) {
    Canvas c = Canvas::new_software(10, 10);
    c.fill_paint_radius({0, 0, 10, 10}, k.paint, 0);
    EXPECT_EQ(c.software()->pixel(5, 5), k.expected) << k.name;
    // draw_surface paints only the fill here; shadows belong to the GLES canvas.
    Canvas s = Canvas::new_software(10, 10);
    std::vector<Shadow> shadows = {{0, 4, 8, 2, {0, 0, 0, 1}, BlendMode::Normal}};
    s.draw_surface({2, 2, 6, 6}, k.paint, shadows, shadows, 0);
    EXPECT_EQ(s.software()->pixel(5, 5), k.expected) << k.name;
    EXPECT_EQ(s.software()->pixel(0, 9), (Px{0, 0, 0, 0})) << k.name;
  }
}

TEST(Canvas, FontsAndGlyphMetrics) {
  Canvas c = Canvas::new_software(10, 10);
  EXPECT_EQ(c.resolve_font("sora", 700, 0).identity(), c.primary_font().identity());

  auto registry = std::make_shared<FontRegistry>();
  auto bold = load_font_face(std::make_shared<const std::vector<std::uint8_t>>(primary_font_bytes()), 0).value();
  registry->insert("sora", 700, FontStyle::Normal, bold);
  shape_text("x", &bold, bold, bold, 10);
  ASSERT_GT(shape_cache_size(), 0U);
  c.set_theme_fonts(registry);
  EXPECT_EQ(shape_cache_size(), 0U);  // installing theme fonts empties the shape cache
  EXPECT_EQ(c.resolve_font("sora", 600, 0).identity(), bold.identity());
  EXPECT_EQ(c.resolve_font("mono", 400, 1).identity(), c.primary_font().identity());

  // A theme face draws with its own file, like the primary font.
  Canvas with = Canvas::new_software(60, 30);
  with.set_theme_fonts(registry);
  FontFace face = with.resolve_font("sora", 700, 0);
  with.draw_text_with_font("Hi", 2, 20, 16, kRed, face);
  bool drawn = false;
  for (std::uint32_t y = 0; y < 30 && !drawn; ++y) {
    for (std::uint32_t x = 0; x < 60; ++x) drawn = drawn || with.software()->pixel(x, y)[3] > 0;
  }
  EXPECT_TRUE(drawn);
  EXPECT_GT(with.measure_text_with_font("Hi", 16, face), 0);

  // A character the primary font lacks has glyph 0's metrics.
  c.set_scale(2);
  const Font& primary = *c.primary_font().face;
  GlyphMetrics missing = c.glyph_metrics(U'\u4E2D', 10);
  GlyphMetrics notdef = primary.metrics(0, 20);
  EXPECT_EQ(missing.width, notdef.width);
  EXPECT_EQ(missing.height, notdef.height);
  EXPECT_FLOAT_EQ(missing.advance, notdef.advance);
  EXPECT_FLOAT_EQ(c.glyph_metrics(U'A', 10).advance, primary.advance_width(primary.glyph_index('A'), 20));
}

TEST(Canvas, SubCanvasBlitAndCopy) {
  Canvas parent = Canvas::new_software(10, 10);
  parent.set_opacity(1);
  Canvas sub = parent.sub_canvas(2, 2);
  EXPECT_TRUE(sub.is_software());
  EXPECT_EQ(sub.viewport(), (SizeF{10, 10}));
  sub.fill_rect_radius({0, 0, 2, 2}, kRed, 0);
  parent.blit(sub, 4, 4);
  std::vector<std::uint8_t> buf(10 * 10 * 4);
  parent.copy_to_buffer(buf, false);
  const std::size_t at = (4 * 10 + 4) * 4;
  EXPECT_EQ((Px{buf[at], buf[at + 1], buf[at + 2], buf[at + 3]}), (Px{255, 0, 0, 255}));
  parent.present();  // nothing to present on the software canvas
  parent.resize(3, 3);
  EXPECT_EQ(parent.width(), 3U);
}

TEST(Canvas, RendererFlagIsPerThread) {
  EXPECT_FALSE(software_renderer_active());
  set_software_renderer_active(true);
  EXPECT_TRUE(software_renderer_active());
  bool other = true;
  std::thread([&] { other = software_renderer_active(); }).join();
  EXPECT_FALSE(other);
  set_software_renderer_active(false);
}

}  // namespace
}  // namespace zem

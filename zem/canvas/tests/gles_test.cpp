// The GLES canvas read back from a surfaceless Mesa context and compared with
// the software canvas drawing the same scene; the EGL set-up's failure texts.
#include <zem/canvas/egl.hpp>
#include <zem/canvas/gles_canvas.hpp>
#include <zem/canvas/gles_helpers.hpp>
#include <zem/canvas/software_canvas.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/canvas/canvas.hpp>
#include <zem/text/system_fonts.hpp>
#include <zem/theme/gradient_lut.hpp>

namespace zem {
namespace {

// ---- EGL set-up, no context needed -------------------------------------

TEST(Egl, ErrorCodesOutsideTheTableAreNamedInHex) {
  const std::pair<EGLint, const char*> cases[] = {
      {0x3001, "NotInitialized"}, {0x3009, "BadMatch"},  {0x300E, "ContextLost"},
      {0x3000, "unknown EGL error 0x3000"}, {0x3010, "unknown EGL error 0x3010"},
      {0x12345, "unknown EGL error 0x12345"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(egl_error_text(code), text) << code;
}

TEST(Egl, SwapWithDamagePrefersKhrByPlainSubstring) {
  const std::pair<const char*, SwapWithDamage> cases[] = {
      {"EGL_KHR_swap_buffers_with_damage", SwapWithDamage::Khr},
      {"EGL_A EGL_EXT_swap_buffers_with_damage EGL_B", SwapWithDamage::Ext},
      {"EGL_EXT_swap_buffers_with_damage EGL_KHR_swap_buffers_with_damage", SwapWithDamage::Khr},
      {"EGL_KHR_swap_buffers_with_damage_foo", SwapWithDamage::Khr},
      {"EGL_KHR_surfaceless_context", SwapWithDamage::None},
      {"", SwapWithDamage::None},
  };
  for (const auto& [list, kind] : cases) EXPECT_EQ(swap_with_damage_kind(list), kind) << list;
}

TEST(Egl, MissingGlEntryPointIsAReasonNotACrash) {
  auto fn = load_gl_functions(true, "libc.so.6");
  ASSERT_FALSE(fn.has_value());
  EXPECT_EQ(fn.error().rfind("load libGLESv2: missing gl", 0), 0U) << fn.error();
  auto none = load_gl_functions(true, "libzem-no-such-gles.so");
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(none.error().rfind("load libGLESv2: ", 0), 0U);
}

struct EnvGuard {
  std::string name;
  std::optional<std::string> old;
  explicit EnvGuard(const char* n) : name(n) {
    if (const char* v = std::getenv(n)) old = v;
  }
  ~EnvGuard() {
    if (old) setenv(name.c_str(), old->c_str(), 1);
    else unsetenv(name.c_str());
  }
};

TEST(Egl, FailuresBecomeReasons) {
  EnvGuard guard("ZEM_FORCE_SOFTWARE");
  unsetenv("ZEM_FORCE_SOFTWARE");
  EglOptions bad_egl{.surfaceless = true, .egl_library = "libzem-no-such-egl.so", .announce = false};
  auto a = EglContext::create(bad_egl);
  ASSERT_FALSE(a.has_value());
  EXPECT_EQ(a.error().rfind("load libEGL: ", 0), 0U) << a.error();

  EglOptions bad_gl{.surfaceless = true, .gles_library = "libc.so.6", .announce = false};
  auto b = EglContext::create(bad_gl);
  ASSERT_FALSE(b.has_value());
  EXPECT_EQ(b.error().rfind("load libGLESv2: missing ", 0), 0U) << b.error();
}

TEST(Egl, ForceSoftwareValues) {
  EnvGuard guard("ZEM_FORCE_SOFTWARE");
  const std::pair<const char*, bool> cases[] = {{"1", true}, {"yes", true}, {"", true},
                                                {"0", false}, {"\xff", false}, {nullptr, false}};
  for (const auto& [value, forced] : cases) {
    if (value != nullptr) setenv("ZEM_FORCE_SOFTWARE", value, 1);
    else unsetenv("ZEM_FORCE_SOFTWARE");
    auto ctx = EglContext::create(EglOptions{.surfaceless = true, .egl_library = "libzem-no-such-egl.so",
                                             .announce = false});
    ASSERT_FALSE(ctx.has_value());
    EXPECT_EQ(ctx.error() == "ZEM_FORCE_SOFTWARE=1", forced) << (value ? value : "unset") << ": " << ctx.error();
  }
}

TEST(Egl, OneAnnouncementPerProcess) {
  EXPECT_EXIT(
      {
        announce_backend("GLES3");
        announce_backend("SOFTWARE (late)");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "^\\[zem\\] render backend: GLES3\n$");
}

TEST(GlesHelpers, OrthoRectMapsTheUnitQuadBottomLeftToTheRectsBottom) {
  auto m = ortho_rect(10, 20, 30, 40, 100, 200);
  // a_pos (0, 0) lands at pixel (10, 60) → NDC (-0.8, 0.4).
  EXPECT_FLOAT_EQ(m[12], -0.8F);
  EXPECT_FLOAT_EQ(m[13], 0.4F);
  EXPECT_FLOAT_EQ(m[0], 0.6F);
  EXPECT_FLOAT_EQ(m[5], 0.4F);
}

TEST(GlesHelpers, AtlasShelvesAndOverflow) {
  AtlasPacker p;
  EXPECT_EQ(p.place(30, 40)->x, 0U);
  EXPECT_EQ(p.place(30, 40)->x, 31U);
  EXPECT_EQ(p.place(30, 40)->x, 62U);
  EXPECT_FALSE(p.place(2048, 10).has_value());
  AtlasPacker q;
  q.place(2000, 40);
  auto next = q.place(100, 10);
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->x, 0U);
  EXPECT_EQ(next->y, 41U);
}

TEST(GlesHelpers, ImageHashSamplesLargeImages) {
  // SipHash-1-3 with zero keys of the empty message.
  std::vector<std::uint8_t> small(16384, 7), small2 = small;
  small2[9000] = 8;
  EXPECT_NE(image_content_hash(small), image_content_hash(small2));
  std::vector<std::uint8_t> big(16388, 7), big2 = big;
  big2[1000] = 8;  // outside every 512-byte sample
  EXPECT_EQ(image_content_hash(big), image_content_hash(big2));
  big2[0] = 8;
  EXPECT_NE(image_content_hash(big), image_content_hash(big2));
}

// ---- Readback ----------------------------------------------------------

struct Gl {
  std::shared_ptr<EglContext> ctx;
  std::shared_ptr<GlDevice> device;
};

Gl* open_gl(bool es2) {
  static std::optional<Gl> contexts[2];
  static bool tried[2] = {false, false};
  const int i = es2 ? 1 : 0;
  if (!tried[i]) {
    tried[i] = true;
    EnvGuard guard("ZEM_FORCE_SOFTWARE");
    unsetenv("ZEM_FORCE_SOFTWARE");
    auto ctx = EglContext::create(EglOptions{.surfaceless = true, .force_es2 = es2, .announce = false});
    if (ctx) contexts[i] = Gl{*ctx, nullptr};
  }
  if (!contexts[i]) return nullptr;
  if (!contexts[i]->ctx->make_current(EGL_NO_SURFACE)) return nullptr;
  contexts[i]->device = contexts[i]->ctx->gl();
  return &*contexts[i];
}

using Image = std::vector<std::uint8_t>;

Image software_pixels(const SoftwareCanvas& c) {
  Image out(static_cast<std::size_t>(c.width()) * c.height() * 4);
  c.copy_to_buffer(out, false);
  return out;
}

struct Diff {
  int interior = 0;  // largest channel difference away from edges
  int band = 0;      // largest within two pixels of an edge
  std::string where;
};

// Edges are where the software image changes between neighbours, and the
// image border (a shape running off the canvas still has its edge there for
// the distance-field coverage); the band is every pixel within two of one.
// Anti-aliasing differs there by design.
Diff compare(const Image& sw, const Image& gl, int W, int H) {
  std::vector<char> edge(static_cast<std::size_t>(W) * H, 0);
  auto px = [&](const Image& im, int x, int y, int c) { return int(im[(static_cast<std::size_t>(y) * W + x) * 4 + c]); };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (x == 0 || y == 0 || x == W - 1 || y == H - 1) edge[y * W + x] = 1;
      for (int c = 0; c < 4 && !edge[y * W + x]; ++c) {
        const int v = px(sw, x, y, c);
        if ((x + 1 < W && px(sw, x + 1, y, c) != v) || (y + 1 < H && px(sw, x, y + 1, c) != v) ||
            (x > 0 && px(sw, x - 1, y, c) != v) || (y > 0 && px(sw, x, y - 1, c) != v))
          edge[y * W + x] = 1;
      }
    }
  Diff d;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      bool band = false;
      for (int dy = -2; dy <= 2 && !band; ++dy)
        for (int dx = -2; dx <= 2 && !band; ++dx) {
          const int xx = x + dx, yy = y + dy;
          band = xx >= 0 && yy >= 0 && xx < W && yy < H && edge[yy * W + xx];
        }
      for (int c = 0; c < 4; ++c) {
        const int diff = std::abs(px(sw, x, y, c) - px(gl, x, y, c));
        int& slot = band ? d.band : d.interior;
        if (diff > slot) {
          slot = diff;
          if (!band) d.where = std::to_string(x) + "," + std::to_string(y);
        }
      }
    }
  return d;
}


struct Scene {
  const char* name;
  std::function<void(Canvas&)> draw;
  int interior_tolerance = 2;
  int band_tolerance = 72;
};

class GlesReadback : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    gl_ = open_gl(GetParam());
    if (gl_ == nullptr) GTEST_SKIP() << "no surfaceless EGL context on this machine";
  }
  Canvas gles(std::uint32_t w, std::uint32_t h) { return Canvas::new_gles(gl_->device, w, h, !GetParam()); }
  Gl* gl_ = nullptr;
};

constexpr int N = 128;

TEST_P(GlesReadback, MatchesTheSoftwareCanvas) {
  const Color red{1, 0, 0, 1}, blue{0, 0, 1, 0.5F}, green{0, 0.6F, 0.2F, 0.8F};
  std::vector<std::uint8_t> image(16 * 8 * 4);
  for (std::size_t i = 0; i < image.size(); i += 4) {
    image[i] = static_cast<std::uint8_t>(i * 3);
    image[i + 1] = 200;
    image[i + 2] = 50;
    image[i + 3] = (i / 4) % 2 != 0U ? 255 : 128;
  }
  const Scene scenes[] = {
      {"solid square", [&](Canvas& c) { c.fill_rounded_rect({10, 10, 50, 40}, red, {}); }},
      {"translucent rounded", [&](Canvas& c) { c.fill_rounded_rect({20, 15, 80, 60}, blue, Radii::all(12)); }},
      {"mixed radii over a fill",
       [&](Canvas& c) {
         c.fill_rounded_rect({0, 0, 128, 128}, {1, 1, 1, 1}, {});
         c.fill_rounded_rect({8, 8, 100, 90}, green, Radii{4, 20, 0, 30});
       }},
      {"strokes 1, 2.5, 6",
       [&](Canvas& c) {
         c.stroke_rounded_rect({10, 10, 40, 40}, red, {}, 1);
         c.stroke_rounded_rect({60, 10, 40, 40}, blue, Radii::all(8), 2.5F);
         c.stroke_rounded_rect({20, 70, 80, 40}, green, Radii::all(10), 6);
       }},
      {"axis lines",
       [&](Canvas& c) {
         c.draw_line(red, 10, 20, 100, 20, 2);
         c.draw_line(red, 30, 30, 30, 110, 4);
       }},
      {"premultiplied clear colour", [&](Canvas& c) { c.clear_color({0.2F, 0.4F, 0.6F, 0.5F}); }},
      {"clear rects",
       [&](Canvas& c) {
         c.fill_rounded_rect({0, 0, 128, 128}, red, {});
         Rect holes[] = {{10, 10, 20, 20}, {50, 60, 30, 10}};
         c.clear_rects(holes);
       }},
      {"integer clip",
       [&](Canvas& c) {
         Rect clip[] = {{20, 20, 40, 30}};
         c.set_clip_rects(clip);
         c.fill_rounded_rect({0, 0, 128, 128}, red, {});
         c.reset_clip();
       }},
      {"image one to one",
       [&](Canvas& c) { c.draw_image_data(image, 16, 8, {30, 40, 16, 8}, 1.0F); }},
      {"image with opacity",
       [&](Canvas& c) { c.draw_image_data(image, 16, 8, {30, 40, 16, 8}, 0.5F); }},
      {"layer blit with opacity",
       [&](Canvas& c) {
         c.set_opacity(0.5F);
         Canvas layer = c.sub_canvas(60, 40);
         layer.fill_rounded_rect({0, 0, 60, 40}, red, {});
         c.blit(layer, 20, 30);
       }},
      {"text in several scripts",
       [&](Canvas& c) {
         c.draw_text("Hamburgefonts", 4, 20, 16, {0, 0, 0, 1});
         c.draw_text("\u0645\u0631\u062d\u0628\u0627", 4, 45, 16, {0.2F, 0.2F, 0.8F, 1});
         c.draw_text("\u0928\u092e\u0938\u094d\u0924\u0947", 4, 75, 12, {0, 0, 0, 1});
         c.draw_text("\u4f60\u597d\u4e16\u754c", 4, 110, 33, {0.8F, 0, 0, 0.7F});
         c.draw_text("\u05e9\u05dc\u05d5\u05dd", 70, 45, 16, {0, 0, 0, 1});
       },
       3, 3},
      {"text at scale 2",
       [&](Canvas& c) {
         c.set_scale(2);
         c.draw_text("Scale", 4, 40, 16, {0, 0, 0, 1});
       },
       3, 3},
  };
  for (const Scene& s : scenes) {
    Canvas sw = Canvas::new_software(N, N);
    Canvas gl = gles(N, N);
    s.draw(sw);
    s.draw(gl);
    const Diff d = compare(software_pixels(*sw.software()), gl.gles()->read_pixels(), N, N);
    EXPECT_LE(d.interior, s.interior_tolerance) << s.name << " at " << d.where;
    EXPECT_LE(d.band, s.band_tolerance) << s.name;
  }
}

TEST_P(GlesReadback, ClipListBecomesItsBoundingBox) {
  Canvas c = gles(64, 64);
  Rect two[] = {{0, 0, 10, 10}, {20, 20, 10, 10}};
  c.set_clip_rects(two);
  ASSERT_EQ(c.clip_rects().size(), 1U);
  EXPECT_EQ(c.clip_rects()[0].w, 30);
  EXPECT_EQ(c.clip_rects()[0].h, 30);
  c.fill_rounded_rect({0, 0, 64, 64}, {1, 0, 0, 1}, {});
  const Image px = c.gles()->read_pixels();
  EXPECT_EQ(px[(15 * 64 + 15) * 4 + 3], 255);  // between the two rects, inside the box
  EXPECT_EQ(px[(40 * 64 + 40) * 4 + 3], 0);
}

TEST_P(GlesReadback, FarCoordinatesKeepWholePixels) {
  Canvas c = gles(4096, 4096);
  c.fill_rounded_rect({3900, 3900, 10, 10}, {1, 0, 0, 1}, {});
  const Image px = c.gles()->read_pixels();
  auto alpha = [&](int x, int y) { return int(px[(static_cast<std::size_t>(y) * 4096 + x) * 4 + 3]); };
  EXPECT_EQ(alpha(3905, 3905), 255);
  EXPECT_EQ(alpha(3902, 3907), 255);
  EXPECT_NEAR(alpha(3902, 3909), 215, 3);  // half a pixel inside the bottom edge
  EXPECT_LE(alpha(3911, 3905), 64);
  EXPECT_EQ(alpha(3913, 3905), 0);
}

// The software canvas paints a gradient as its first stop and draws no
// shadows, so these compare with the same formulas evaluated on the CPU.

TEST_P(GlesReadback, LinearGradientFollowsItsLookupTable) {
  Canvas c = gles(N, N);
  LinearGradient g;
  g.stops = {{1, 0, 0, 1, 0}, {0, 0, 1, 1, 1}};
  g.angle_deg = 90;
  g.space = GradientSpace::Srgb;
  c.fill_paint({14, 10, 100, 100}, g, {});
  const Image px = c.gles()->read_pixels();
  for (int x : {20, 40, 64, 90, 108}) {
    // t = 0.5 + (x + 0.5 − 64) / 100; the table holds the gradient at t.
    const double t = 0.5 + (x + 0.5 - 64) / 100.0;
    const Color want = gradient_colour_at(g.stops, g.space, static_cast<float>(t));
    const std::uint8_t* p = &px[(60 * N + x) * 4];
    EXPECT_NEAR(p[0], want.r * 255, 4) << x;
    EXPECT_NEAR(p[2], want.b * 255, 4) << x;
    EXPECT_EQ(p[3], 255) << x;
  }
}

TEST_P(GlesReadback, RadialGradientMeasuresDistanceInBoxFractions) {
  Canvas c = gles(N, N);
  RadialGradient g;
  g.stops = {{1, 0, 0, 1, 0}, {0, 0, 1, 1, 1}};
  g.center_x = 0.25F;
  g.center_y = 0.5F;
  g.radius = 0.5F;
  g.space = GradientSpace::Srgb;
  const Rect box{8, 30, 112, 60};
  c.fill_paint(box, g, {});
  const Image px = c.gles()->read_pixels();
  for (auto [x, y] : {std::pair{20, 60}, {36, 60}, {60, 45}, {90, 70}, {110, 40}}) {
    const double u = (x + 0.5 - box.x) / box.w, v = (y + 0.5 - box.y) / box.h;
    const double t = std::hypot(u - 0.25, v - 0.5) / 0.5;
    // The table stores bytes: colours past the last stop clamp.
    const Color want = gradient_colour_at(g.stops, g.space, static_cast<float>(t));
    const std::uint8_t* p = &px[(y * N + x) * 4];
    EXPECT_NEAR(p[0], std::clamp(want.r, 0.0F, 1.0F) * 255, 4) << x << "," << y;
    EXPECT_NEAR(p[2], std::clamp(want.b, 0.0F, 1.0F) * 255, 4) << x << "," << y;
  }
}

// Lines: axis-aligned ones are rectangles, others a stamp of squares per
// pixel of length, and one shorter than a tenth of a pixel draws nothing.
TEST_P(GlesReadback, LinesFollowTheirStampRules) {
  const Color red{1, 0, 0, 1};
  Canvas line = gles(N, N), rect = gles(N, N);
  line.draw_line(red, 10, 10, 10.05F, 30, 2);
  rect.fill_rounded_rect({9, 10, 2, 20}, red, {});
  EXPECT_EQ(line.gles()->read_pixels(), rect.gles()->read_pixels());

  Canvas dot = gles(N, N);
  dot.draw_line(red, 40, 40, 40.03F, 40.04F, 4);
  const Image none = dot.gles()->read_pixels();
  EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](std::uint8_t b) { return b == 0; }));

  // (20, 20) → (50, 60): squares of side 4 along it; nothing beyond the
  // squares' reach (half the side plus the one-pixel edge band).
  Canvas diag = gles(N, N);
  diag.draw_line(red, 20, 20, 50, 60, 4);
  const Image d = diag.gles()->read_pixels();
  for (int y = 0; y < N; ++y) {
    for (int x = 0; x < N; ++x) {
      const double px = x + 0.5 - 20, py = y + 0.5 - 20;
      const double along = std::clamp((px * 30 + py * 40) / 2500.0, 0.0, 1.0);
      const double dist = std::hypot(px - along * 30, py - along * 40);
      if (dist > 2 * std::sqrt(2.0) + 1.5) {
        EXPECT_EQ(d[(y * N + x) * 4 + 3], 0) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(d[(40 * N + 35) * 4 + 3], 255);  // on the line
}

TEST_P(GlesReadback, DropShadowFallsOffAsAGaussian) {
  Canvas c = gles(N, N);
  Shadow s{.offset_x = 0, .offset_y = 0, .blur = 8, .spread = 2, .color = {0, 0, 0, 1}};
  c.draw_surface({40, 40, 48, 48}, Paint{Color{0, 0, 0, 0}}, std::span<const Shadow>(&s, 1), {}, 0);
  const Image px = c.gles()->read_pixels();
  for (int x : {30, 34, 37, 40, 64}) {
    // Distance from the spread box (38..90) along the row through the centre.
    const double d = std::max(38.0 - (x + 0.5), 0.0);
    const double want = d <= 0 ? 1.0 : std::exp(-d * d / (2 * 4.0 * 4.0));
    EXPECT_NEAR(px[(64 * N + x) * 4 + 3], want * 255, 3) << x;
  }
}

TEST_P(GlesReadback, InsetShadowBlendModes) {
  // A 40×40 grey square with a sharp black inset of spread 5: the ring is 5
  // pixels wide; the mode decides what the ring does to the grey.
  struct Case {
    BlendMode mode;
    Color colour;
    int ring_red;  // expected red byte inside the ring
  };
  const Case cases[] = {
      {BlendMode::Normal, {0, 0, 0, 1}, 0},
      {BlendMode::PlusLighter, {0.25F, 0.25F, 0.25F, 1}, 128 + 64},
      {BlendMode::Multiply, {0.5F, 0.5F, 0.5F, 1}, 64},
      {BlendMode::Screen, {0.5F, 0.5F, 0.5F, 1}, 128 + 64},
      {BlendMode::Overlay, {1, 1, 1, 1}, 255},
  };
  for (const Case& k : cases) {
    Canvas c = gles(N, N);
    c.fill_rounded_rect({40, 40, 40, 40}, {0.5F, 0.5F, 0.5F, 1}, {});
    Shadow s{.blur = 0, .spread = 5, .color = k.colour, .blend = k.mode};
    c.gles()->inset_shadow({40, 40, 40, 40}, s, {});
    const Image px = c.gles()->read_pixels();
    EXPECT_NEAR(px[(60 * N + 42) * 4], k.ring_red, 4) << int(k.mode);
    EXPECT_NEAR(px[(60 * N + 60) * 4], 128, 2) << int(k.mode);  // the middle is untouched
    EXPECT_EQ(px[(60 * N + 60) * 4 + 3], 255) << int(k.mode);
  }
}

TEST_P(GlesReadback, ProgramsAreCompiledOncePerContext) {
  Canvas first = gles(8, 8);
  static int creates = 0;
  static PFNGLCREATEPROGRAMPROC real = nullptr;
  real = gl_->device->fn().glCreateProgram;
  gl_->device->fn().glCreateProgram = [] { ++creates; return real(); };
  creates = 0;
  {
    std::vector<Canvas> overlays;
    for (int i = 0; i < 20; ++i) overlays.push_back(gles(32, 16));
    Canvas layer = overlays.back().sub_canvas(8, 8);
    layer.fill_rounded_rect({0, 0, 8, 8}, {1, 0, 0, 1}, {});
  }
  gl_->device->fn().glCreateProgram = real;
  EXPECT_EQ(creates, 0);
}

TEST_P(GlesReadback, MalformedImagesAreRefusedWithOneLine) {
  Canvas c = gles(16, 16);
  std::vector<std::uint8_t> short_data(10);
  testing::internal::CaptureStderr();
  c.draw_image_data(short_data, 2, 2, {0, 0, 2, 2}, 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "[zem] GlesCanvas::draw_image_data: refusing draw \u2014 2\u00d72 declared, 10 bytes provided, "
                 "expected 16\n");
}

// The image textures are bounded by bytes, least recently drawn going
// first; an image pushed out is uploaded again the next time it is drawn and
// still draws its own pixels.
TEST_P(GlesReadback, ImageCacheEvictsLeastRecentlyDrawnBeyondItsBound) {
  struct Img {
    std::uint32_t w, h;
    std::uint8_t red;
    std::vector<std::uint8_t> data;
  };
  auto image = [](std::uint32_t w, std::uint32_t h, std::uint8_t red) {
    Img im{w, h, red, std::vector<std::uint8_t>(std::size_t{w} * h * 4)};
    for (std::size_t i = 0; i < im.data.size(); i += 4) {
      im.data[i] = red;
      im.data[i + 1] = 0;
      im.data[i + 2] = 0;
      im.data[i + 3] = 255;
    }
    return im;
  };
  static int uploads = 0;
  static PFNGLTEXIMAGE2DPROC real = nullptr;
  real = gl_->device->fn().glTexImage2D;
  gl_->device->fn().glTexImage2D = [](GLenum t, GLint l, GLint f, GLsizei w, GLsizei h, GLint b, GLenum fm,
                                      GLenum ty, const void* px) {
    if (px != nullptr) ++uploads;  // new textures without pixels are targets, not images
    real(t, l, f, w, h, b, fm, ty, px);
  };
  using Sizes = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
  const std::uint64_t MiB = 1024 * 1024;
  const Img a = image(2560, 2048, 200);  // 20 MiB
  const Img b = image(2048, 2048, 100);  // 16 MiB
  {
    Canvas c = gles(16, 16);
    GlesCanvas& g = *c.gles();
    auto draw = [&](const Img& im) { c.draw_image_data(im.data, im.w, im.h, {0, 0, 16, 16}, 1); };
    uploads = 0;
    draw(a);
    draw(b);
    EXPECT_EQ(g.cached_image_sizes(), (Sizes{{2048, 2048}})) << "20 MiB then 16 MiB: the first goes";
    EXPECT_EQ(g.cached_image_bytes(), 16 * MiB);
    draw(b);
    EXPECT_EQ(uploads, 2) << "a cached image is not uploaded again";
    draw(a);
    EXPECT_EQ(uploads, 3) << "an evicted image is uploaded again when drawn";
    EXPECT_EQ(g.cached_image_sizes(), (Sizes{{2560, 2048}}));
    EXPECT_EQ(g.read_pixels()[(8 * 16 + 8) * 4], a.red) << "the re-uploaded texture holds its own pixels";
  }
  {
    // Drawing C again after D makes D the least recent: E pushes out D, not C.
    const Img c4 = image(1024, 1024, 10), d4 = image(1024, 1025, 20), e = image(2048, 3328, 30);
    Canvas c = gles(16, 16);
    GlesCanvas& g = *c.gles();
    for (const Img* im : {&c4, &d4, &c4, &e}) c.draw_image_data(im->data, im->w, im->h, {0, 0, 16, 16}, 1);
    EXPECT_EQ(g.cached_image_sizes(), (Sizes{{1024, 1024}, {2048, 3328}}));
    EXPECT_EQ(g.cached_image_bytes(), (1024u * 1024 + 2048u * 3328) * 4);
  }
  {
    // One image above the bound stays, alone.
    const Img big = image(2560, 4096, 50), small = image(64, 64, 60);
    Canvas c = gles(16, 16);
    GlesCanvas& g = *c.gles();
    c.draw_image_data(small.data, 64, 64, {0, 0, 16, 16}, 1);
    c.draw_image_data(big.data, 2560, 4096, {0, 0, 16, 16}, 1);
    EXPECT_EQ(g.cached_image_sizes(), (Sizes{{2560, 4096}}));
    EXPECT_EQ(g.cached_image_bytes(), 40 * MiB);
    EXPECT_EQ(g.read_pixels()[(8 * 16 + 8) * 4], big.red);
  }
  gl_->device->fn().glTexImage2D = real;
}

TEST_P(GlesReadback, SwapWithDamageSendsTheRectsItIsGiven) {
  static std::vector<EGLint> sent;
  static EGLint count = -1;
  gl_->ctx->set_swap_with_damage_entry([](EGLDisplay, EGLSurface, const EGLint* r, EGLint n) -> EGLBoolean {
    sent.assign(r, r + 4 * n);
    count = n;
    return EGL_TRUE;
  });
  const EGLint rects[] = {10, 140, 30, 40, 0, 0, 5, 5};
  EXPECT_TRUE(gl_->ctx->swap_buffers_with_damage(EGL_NO_SURFACE, rects).has_value());
  EXPECT_EQ(count, 2);
  EXPECT_EQ(sent, std::vector<EGLint>(std::begin(rects), std::end(rects)));
  gl_->ctx->set_swap_with_damage_entry(nullptr);
}

TEST_P(GlesReadback, ContextLabelFollowsTheVersionAskedFor) {
  EXPECT_STREQ(gl_->ctx->label(), GetParam() ? "GLES2" : "GLES3");
  EXPECT_EQ(gl_->device->gles3(), !GetParam());
}

TEST(EglContextDeath, GlBeforeMakeCurrentStops) {
  EXPECT_DEATH(
      {
        unsetenv("ZEM_FORCE_SOFTWARE");
        auto ctx = EglContext::create(EglOptions{.surfaceless = true, .announce = false});
        if (!ctx) std::exit(0);  // no EGL here: nothing to check
        (void)(*ctx)->gl();
      },
      "called before make_current");
}

INSTANTIATE_TEST_SUITE_P(EsVersions, GlesReadback, testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("Es2") : std::string("Es3"); });

}  // namespace
}  // namespace zem

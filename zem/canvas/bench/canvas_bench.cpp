// Software canvas speed at phone size (1080 x 2340), beside the same
// primitives drawn with bare Cairo calls: clear plus 200 anti-aliased rounded
// rectangles, 60 shaped text runs of mixed scripts, 20 icon images; warm
// caches (the steady state of a redrawn frame) and cold caches (first frame).

#include <benchmark/benchmark.h>
#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <zem/canvas/canvas.hpp>
#include <zem/text/system_fonts.hpp>
#include <zem/text/shaping.hpp>

namespace {

using namespace zem;

constexpr std::uint32_t kW = 1080;
constexpr std::uint32_t kH = 2340;

struct RectOp {
  Rect r;
  Color c;
  float radius;
};

std::vector<RectOp> rect_ops() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> x(-40, kW), y(-40, kH), w(20, 500), h(20, 240), col(0, 1);
  std::vector<RectOp> ops;
  for (int i = 0; i < 200; ++i) {
    ops.push_back({{x(rng), y(rng), w(rng), h(rng)}, {col(rng), col(rng), col(rng), 0.5F + col(rng) / 2}, 4 + 20 * col(rng)});
  }
  return ops;
}

const std::vector<std::string>& texts() {
  static const std::vector<std::string> t = [] {
    const std::vector<std::string> samples = {
        "Install Tavix on this device",
        "Choose the disk where Tavix will be installed",
        "\u0627\u062E\u062A\u0631 \u0627\u0644\u0642\u0631\u0635 \u0644\u0644\u062A\u062B\u0628\u064A\u062A",
        "\u0921\u093F\u0938\u094D\u0915 \u091A\u0941\u0928\u0947\u0902 \u2014 Tavix",
        "\u5B89\u88C5 Tavix \u5230\u6B64\u8BBE\u5907",
        "\u05D1\u05D7\u05E8 \u05D3\u05D9\u05E1\u05E7 \u2014 64 GB",
        "Encryption: enabled (LUKS2), 128 GB free",
        "\u0E15\u0E34\u0E14\u0E15\u0E31\u0E49\u0E07 Tavix",
    };
    std::vector<std::string> out;
    for (int i = 0; i < 60; ++i) out.push_back(samples[static_cast<std::size_t>(i) % samples.size()]);
    return out;
  }();
  return t;
}

struct Icon {
  std::vector<std::uint8_t> straight;      // RGBA, straight alpha
  std::vector<std::uint32_t> premultiplied;  // Cairo's ARGB32
};

const std::vector<Icon>& icons() {
  static const std::vector<Icon> set = [] {
    std::vector<Icon> out;
    for (int k = 0; k < 20; ++k) {
      Icon ic;
      ic.straight.resize(48 * 48 * 4);
      ic.premultiplied.resize(48 * 48);
      for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) {
          float d = std::hypot(x - 23.5F, y - 23.5F);
          auto a = static_cast<std::uint8_t>(std::clamp(24.0F - d, 0.0F, 1.0F) * 255);
          auto r = static_cast<std::uint8_t>(40 + k * 10), g = static_cast<std::uint8_t>(x * 5), b = static_cast<std::uint8_t>(y * 5);
          std::size_t i = static_cast<std::size_t>(y) * 48 + x;
          ic.straight[4 * i] = r; ic.straight[4 * i + 1] = g; ic.straight[4 * i + 2] = b; ic.straight[4 * i + 3] = a;
          auto pm = [a](std::uint8_t v) { return static_cast<std::uint32_t>(v * a / 255); };
          ic.premultiplied[i] = (std::uint32_t(a) << 24) | (pm(r) << 16) | (pm(g) << 8) | pm(b);
        }
      }
      out.push_back(std::move(ic));
    }
    return out;
  }();
  return set;
}

Rect icon_rect(int k) { return {40.0F + 100.0F * float(k % 10), 2000.0F + 120.0F * float(k / 10), 96, 96}; }

// ---- ours ----

void draw_ours(Canvas& c, int what) {
  if (what & 1) {
    c.clear();
    for (const RectOp& op : rect_ops()) c.fill_rect_radius(op.r, op.c, op.radius);
  }
  if (what & 2) {
    const auto& t = texts();
    for (std::size_t i = 0; i < t.size(); ++i) {
      c.draw_text(t[i], 20, 60.0F + 30.0F * float(i), 16, {0.1F, 0.1F, 0.1F, 1});
    }
  }
  if (what & 4) {
    const auto& ic = icons();
    for (int k = 0; k < 20; ++k) c.draw_image_data(ic[std::size_t(k)].straight, 48, 48, icon_rect(k), 1);
  }
}

void BM_Ours(benchmark::State& state, int what, bool warm) {
  Canvas c = Canvas::new_software(kW, kH);
  c.set_scale(1.75F);
  draw_ours(c, what);
  for (auto _ : state) {
    if (!warm) {
      state.PauseTiming();
      c = Canvas::new_software(kW, kH);
      c.set_scale(1.75F);
      clear_shape_cache();
      state.ResumeTiming();
    }
    draw_ours(c, what);
    benchmark::DoNotOptimize(c.software()->pixel(0, 0));
  }
}

// ---- bare Cairo ----

struct CairoText {
  struct Run {
    std::vector<std::pair<const Font*, std::vector<cairo_glyph_t>>> pieces;  // per font, positioned
  };
  FT_Library lib = nullptr;
  std::map<const Font*, cairo_font_face_t*> faces;
  std::vector<Run> runs;

  CairoText() {
    FT_Init_FreeType(&lib);
    const float px = 16 * 1.75F;
    const auto& t = texts();
    FontFace primary = primary_font();
    for (std::size_t i = 0; i < t.size(); ++i) {
      ShapedRun sr = shape_text(t[i], primary.identity(), primary, primary, px);
      Run run;
      float pen = 20;
      const float baseline = 60.0F + 30.0F * float(i);
      for (const ShapedGlyph& g : *sr) {
        const Font* f = g.font.get();
        if (!faces.count(f)) faces[f] = face_for(f);
        if (run.pieces.empty() || run.pieces.back().first != f) run.pieces.push_back({f, {}});
        run.pieces.back().second.push_back({g.glyph, pen + g.x_offset, baseline - g.y_offset});
        pen += g.x_advance;
      }
      runs.push_back(std::move(run));
    }
  }

  // A Cairo font face over the same file as `f`.
  cairo_font_face_t* face_for(const Font* f) {
    static const std::vector<std::pair<std::string, int>> files = {
        {"/usr/share/fonts/opentype/sora/Sora-Regular.otf", 0},
        {"/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf", 0},
        {"/usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf", 0},
        {"/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf", 0},
        {"/usr/share/fonts/truetype/noto/NotoSansHebrew-Regular.ttf", 0},
        {"/usr/share/fonts/truetype/noto/NotoSansThai-Regular.ttf", 0},
        {"/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", 2},
    };
    for (const auto& [path, index] : files) {
      FT_Face ft = nullptr;
      if (FT_New_Face(lib, path.c_str(), index, &ft) != 0) continue;
      if (f->family_name() == ft->family_name) {
        return cairo_ft_font_face_create_for_ft_face(ft, FT_LOAD_NO_HINTING);
      }
      FT_Done_Face(ft);
    }
    return nullptr;
  }

  void draw(cairo_t* cr) const {
    const double px = 16 * 1.75;
    cairo_set_source_rgba(cr, 0.1, 0.1, 0.1, 1);
    for (const Run& run : runs) {
      for (const auto& [f, glyphs] : run.pieces) {
        cairo_font_face_t* face = faces.at(f);
        if (face == nullptr) continue;
        cairo_set_font_face(cr, face);
        cairo_set_font_size(cr, px);
        cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
      }
    }
  }
};

void cairo_rounded(cairo_t* cr, const Rect& r, float radius) {
  const double k = 0.5523;
  const double m = std::max(std::min(r.w, r.h) * 0.5, 0.0);
  const double q = std::min<double>(radius, m);
  const double l = r.x, t = r.y, rt = r.x + r.w, b = r.y + r.h;
  cairo_move_to(cr, l + q, t);
  cairo_line_to(cr, rt - q, t);
  cairo_curve_to(cr, rt - q + k * q, t, rt, t + q - k * q, rt, t + q);
  cairo_line_to(cr, rt, b - q);
  cairo_curve_to(cr, rt, b - q + k * q, rt - q + k * q, b, rt - q, b);
  cairo_line_to(cr, l + q, b);
  cairo_curve_to(cr, l + q - k * q, b, l, b - q + k * q, l, b - q);
  cairo_line_to(cr, l, t + q);
  cairo_curve_to(cr, l, t + q - k * q, l + q - k * q, t, l + q, t);
  cairo_close_path(cr);
}

void draw_cairo(cairo_t* cr, const CairoText& text, const std::vector<cairo_surface_t*>& icon_surfaces,
                int what) {
  if (what & 1) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    for (const RectOp& op : rect_ops()) {
      cairo_new_path(cr);
      cairo_rounded(cr, op.r, op.radius);
      cairo_set_source_rgba(cr, op.c.r, op.c.g, op.c.b, op.c.a);
      cairo_fill(cr);
    }
  }
  if (what & 2) text.draw(cr);
  if (what & 4) {
    for (int k = 0; k < 20; ++k) {
      Rect d = icon_rect(k);
      cairo_save(cr);
      cairo_translate(cr, d.x, d.y);
      cairo_scale(cr, d.w / 48.0, d.h / 48.0);
      cairo_set_source_surface(cr, icon_surfaces[std::size_t(k)], 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
      cairo_rectangle(cr, 0, 0, 48, 48);
      cairo_fill(cr);
      cairo_restore(cr);
    }
  }
}

void BM_Cairo(benchmark::State& state, int what, bool warm) {
  // Cold runs get fresh font faces, so Cairo starts without glyphs (the
  // faces of earlier runs are left alive: Cairo may still hold them).
  CairoText* text = new CairoText();
  std::vector<cairo_surface_t*> icon_surfaces;
  for (const Icon& ic : icons()) {
    icon_surfaces.push_back(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(ic.premultiplied.data())),
        CAIRO_FORMAT_ARGB32, 48, 48, 48 * 4));
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  cairo_t* cr = cairo_create(surface);
  draw_cairo(cr, *text, icon_surfaces, what);
  for (auto _ : state) {
    if (!warm) {
      state.PauseTiming();
      cairo_destroy(cr);
      cairo_surface_destroy(surface);
      text = new CairoText();
      surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
      cr = cairo_create(surface);
      state.ResumeTiming();
    }
    draw_cairo(cr, *text, icon_surfaces, what);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  for (auto* s : icon_surfaces) cairo_surface_destroy(s);
}

constexpr int kRects = 1, kText = 2, kImages = 4, kAll = 7;

}  // namespace

BENCHMARK_CAPTURE(BM_Ours, rects_warm, kRects, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Cairo, rects_warm, kRects, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours, text_warm, kText, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Cairo, text_warm, kText, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours, images_warm, kImages, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Cairo, images_warm, kImages, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours, frame_warm, kAll, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Cairo, frame_warm, kAll, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours, frame_cold, kAll, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Cairo, frame_cold, kAll, false)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

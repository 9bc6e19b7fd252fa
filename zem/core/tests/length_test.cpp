#include <zem/core/length.hpp>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>


namespace zem {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct ResolveCase {
  const char* name;
  Length length;
  float width;
  float height;
  float expected;
};

TEST(Length, ResolvesEveryUnitAndBound) {
  Length unknown = Length::px(2);
  unknown.unit = static_cast<LengthUnit>(9);  // beyond the table: resolves like Scaled
  const ResolveCase cases[] = {
      {"px", Length::px(10), 400, 800, 10},
      {"percent width", Length::percent_width(10), 400, 800, 40},
      {"percent height", Length::percent_height(10), 400, 800, 80},
      {"percent min", Length::percent_min(10), 400, 800, 40},
      {"percent max", Length::percent_max(10), 400, 800, 80},
      {"orientation square", Length::orientation(50, 25), 400, 400, 200},
      {"orientation landscape", Length::orientation(50, 25), 800, 400, 100},
      {"em", Length::em(1.5F), 400, 800, 24},
      {"scaled", Length::scaled(3), 400, 800, 6},
      {"unknown unit", unknown, 400, 800, 4},
      {"swapped bounds", Length::px(10).with_min(20).with_max(15), 0, 0, 15},
      {"swapped bounds above", Length::px(40).with_min(20).with_max(15), 0, 0, 20},
      {"min wins", Length::px(10).with_min(20).with_max(30), 0, 0, 20},
      {"max wins", Length::px(50).with_min(20).with_max(30), 0, 0, 30},
      {"NaN raw takes min", Length::px(kNaN).with_min(5), 0, 0, 5},
      {"NaN raw takes max", Length::px(kNaN).with_max(7), 0, 0, 7},
      {"NaN min ignored", Length::px(9).with_min(kNaN), 0, 0, 9},
      {"NaN max ignored", Length::px(9).with_max(kNaN).with_min(3), 0, 0, 9},
      {"responsive wide", Length::responsive(24), 1600, 1000, 36},
      {"responsive small", Length::responsive(24), 200, 300, 16.8F},
      {"responsive reference", Length::responsive(24), 412, 915, 24},
      {"responsive negative", Length::responsive(-10), 412, 915, -10},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(c.length.resolve(c.width, c.height, 16, 2), c.expected, 1e-4) << c.name;
  }
}

TEST(Length, ResolveScaledUsesProcessUnitScale) {
  EXPECT_FLOAT_EQ(Length::scaled(7).resolve_scaled(100, 100, 16), 7);
}

TEST(TextScale, ClampedIntoRangeAndNaNIgnored) {
  const std::pair<float, float> cases[] = {{0.25F, 0.5F}, {3.5F, 3.0F}, {1.25F, 1.25F},
                                           {0.5F, 0.5F},  {3.0F, 3.0F}};
  for (auto [in, out] : cases) {
    set_text_scale(in);
    EXPECT_FLOAT_EQ(text_scale(), out) << in;
  }
  set_text_scale(1.5F);
  set_text_scale(kNaN);
  EXPECT_FLOAT_EQ(text_scale(), 1.5F);
  set_text_scale(1.0F);
}

TEST(ClampScroll, HoldsWithinContent) {
  EXPECT_FLOAT_EQ(clamp_scroll(-5, 100, 300), 0);
  EXPECT_FLOAT_EQ(clamp_scroll(250, 1000, 300), 250);
  EXPECT_FLOAT_EQ(clamp_scroll(900, 1000, 300), 700);
}

TEST(Rects, IntersectionClipAndClipLists) {
  Rect a{0, 0, 10, 10};
  Rect b{10, 0, 10, 10};
  EXPECT_FALSE(rect_intersection(a, b));
  EXPECT_EQ(rect_clip(a, b), (Rect{10, 0, 0, 0}));
  EXPECT_EQ(rect_intersection(a, Rect{5, 5, 10, 10}), (Rect{5, 5, 5, 5}));
  EXPECT_EQ(rect_clip(a, Rect{5, -5, 2, 30}), (Rect{5, 0, 2, 10}));

  Rect r{20, 20, 5, 5};
  EXPECT_EQ(clip_list_intersect({}, r), std::vector<Rect>{r});
  EXPECT_TRUE(clip_list_intersect({a}, r).empty());
  EXPECT_EQ(clip_list_intersect({a, Rect{0, 0, 22, 22}, Rect{24, 0, 10, 100}}, r),
            (std::vector<Rect>{Rect{20, 20, 2, 2}, Rect{24, 20, 1, 5}}));
}


}  // namespace
}  // namespace zem

#include <zem/widgets/spinner.hpp>

#include <array>
#include <cstdint>

#include <gtest/gtest.h>

#include <zem/canvas/canvas.hpp>

namespace zem {
namespace {

using Px = std::array<std::uint8_t, 4>;
constexpr Color kRed{1, 0, 0, 1};

TEST(Spinner, MeasureAndDraw) {
  Canvas c = Canvas::new_software(412, 900);
  EXPECT_EQ(Spinner::measure(Spinner{{}, 0, 20, 3}, c, 100), (SizeF{20, 20}));
  EXPECT_EQ(Spinner::measure(Spinner{{}, 0, 20, 3}, c, 10), (SizeF{10, 10}));
  EXPECT_NEAR(Spinner::measure(Spinner{{}, 0, 0, 3}, c, 100).w, 32, 1e-4);
  Canvas big = Canvas::new_software(2000, 2000);
  EXPECT_NEAR(Spinner::measure(Spinner{{}, 0, 0, 3}, big, 100).w, 48, 1e-4);

  Canvas tiny = Canvas::new_software(8, 8);
  Spinner::draw(Spinner{kRed, 0, 0, 4}, tiny, {0, 0, 4, 4}, Color{0, 0, 1, 1});
  for (std::uint32_t y = 0; y < 8; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) EXPECT_EQ(tiny.software()->pixel(x, y)[3], 0);
  }

  // Phase 1.25 starts the arc straight below the centre and sweeps 108 degrees.
  Canvas s = Canvas::new_software(40, 40);
  Spinner::draw(Spinner{kRed, 1.25F, 0, 4}, s, {0, 0, 40, 40}, Color{0, 0, 1, 1});
  // Ring of radius 18 around (20, 20), 4 px wide; angles grow clockwise.
  const Px below = s.software()->pixel(17, 37);  // about 99 degrees
  const Px left = s.software()->pixel(3, 21);    // about 183 degrees
  const Px right = s.software()->pixel(37, 21);  // about 5 degrees: track only
  const Px above = s.software()->pixel(20, 3);   // 270 degrees: track only
  const Px start = s.software()->pixel(22, 37);  // about 83 degrees: before the arc
  EXPECT_GT(below[0], 200) << int(below[0]);
  EXPECT_GT(left[0], 200) << int(left[0]);
  EXPECT_EQ(right[0], 0);
  EXPECT_NEAR(right[2], 51, 3);  // the accent at alpha 0.2
  EXPECT_EQ(above[0], 0);
  EXPECT_EQ(start[0], 0);
}

}  // namespace
}  // namespace zem

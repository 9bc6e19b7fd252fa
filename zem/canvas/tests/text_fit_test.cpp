#include <zem/text/shaping.hpp>

#include <string>

#include <gtest/gtest.h>

#include <zem/canvas/canvas.hpp>

namespace zem {
namespace {

TEST(TextFit, PrefixWithinWidthKeepsWholeCharacters) {
  Canvas canvas = Canvas::new_software(100, 100);
  const float size = 20;
  const float a = canvas.measure_text("a", size);
  const float b = canvas.measure_text("b", size);
  const float c = canvas.measure_text("c", size);
  const float acute = canvas.measure_text("e\u0301", size);
  struct Case {
    const char* name;
    std::string text;
    float budget;
    std::string expected;
  };
  const Case cases[] = {
      {"two fit", "abc", a + b + c / 2, "ab"},
      {"exact total fits", "abc", a + b + c, "abc"},
      {"nothing fits", "abc", a / 2, ""},
      {"empty text", "", 100, ""},
      {"multi-byte characters stay whole", "\u00E9\u00E9\u00E9",
       canvas.measure_text("\u00E9", size) * 2.5F, "\u00E9\u00E9"},
      {"combining mark stays with its base", "e\u0301e\u0301", acute * 1.5F, "e\u0301"},
      {"conjunct stays whole", "\u0915\u094D\u0937\u0915",
       canvas.measure_text("\u0915\u094D\u0937", size) + 0.5F, "\u0915\u094D\u0937"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(prefix_within_width(k.text, canvas, size, k.budget), k.expected) << k.name;
  }
}

}  // namespace
}  // namespace zem

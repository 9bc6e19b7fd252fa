#include <zem/theme/fonts.hpp>

#include <gtest/gtest.h>

#include <zem/theme/active.hpp>
#include <zem/theme/theme.hpp>

namespace zem {
namespace {

const char* kNoto = "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf";

}  // namespace
}  // namespace zem

namespace zem {
namespace {

TEST(ThemeFonts, BuiltFromTheActiveThemesFamilies) {
  theme::Theme t = theme::fallback_theme();
  theme::set_active(t);
  EXPECT_FALSE(theme_fonts());  // no families, no registry

  t.fonts["sora"] = theme::FontFamily{"Sora", {}, {{"/nonexistent/Sora-Bold.otf", 700, FontStyle::Normal}}};
  theme::set_active(t);
  testing::internal::CaptureStderr();
  auto failing = theme_fonts();
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(failing);  // a registry even when every file fails
  EXPECT_TRUE(failing->empty());

  t.fonts["sora"].sources.push_back({kNoto, 400, FontStyle::Normal});
  theme::set_active(t);
  testing::internal::CaptureStderr();
  auto reg = theme_fonts();
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(reg);
  auto face = reg->lookup("sora", 700, FontStyle::Normal);
  ASSERT_TRUE(face);
  EXPECT_EQ(face->face->family_name(), "Noto Sans");
  theme::set_active(theme::fallback_theme());
}

}  // namespace
}  // namespace zem


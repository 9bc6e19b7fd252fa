#include <zem/theme/fonts.hpp>

#include <zem/theme/active.hpp>
#include <zem/theme/theme.hpp>

namespace zem {

std::optional<FontRegistry> theme_fonts() {
  theme::ActiveTheme current = theme::active();
  if (current.theme->fonts.empty()) return std::nullopt;
  return FontRegistry::build(theme::font_family_sources(current.theme->fonts));
}

}  // namespace zem

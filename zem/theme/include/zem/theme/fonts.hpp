#pragma once
// The active theme's font families as a registry the canvas can resolve
// faces from.

#include <optional>

#include <zem/text/font_registry.hpp>

namespace zem {

// A fresh registry of the active theme's font families; none when it declares none.
std::optional<FontRegistry> theme_fonts();

}  // namespace zem

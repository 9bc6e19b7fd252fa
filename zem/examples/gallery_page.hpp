#pragma once
// The gallery page: a heading, text, buttons, a switch, a divider and a
// progress bar in a column that follows the surface size, in the colours of
// the active theme.

#include <zem/widgets/element.hpp>

#include <string>

namespace zem::gallery {

// Messages of the gallery page.
struct Pressed {
    std::string which;
};

Element page(bool switch_on, float progress);

}  // namespace zem::gallery

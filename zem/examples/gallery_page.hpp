#pragma once
// The gallery page: one of each kind of thing the shell draws today (a
// heading, text, buttons with hover and press, a switch, a progress bar, a
// divider), laid out in a column that follows the surface size.

#include <zem/app/scene.hpp>

#include <string>

namespace zem::gallery {

// Messages of the gallery page.
struct Pressed {
    std::string which;
};

Scene page(bool switch_on, float progress);

}  // namespace zem::gallery

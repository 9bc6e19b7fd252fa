#pragma once
// The theme's divider style. It sits with the widgets rather than in the
// theme module because its result is the Divider element's own style, and
// the theme must not depend on the element tree.

#include <zem/widgets/element.hpp>

namespace zem::theme {

// A Divider with neither thickness nor margin set and the current mode's
// "divider" colour; read at each call, so it follows a light/dark switch.
Divider divider_paint();

}  // namespace zem::theme

#pragma once
// Small shared pieces of the shell's drawing side.

#include <zem/core/paint.hpp>

#include <string>

namespace zem {

// The page background of the active palette ("bg-page").
Color page_background();

// Prints "[zem] render backend: SOFTWARE (reason)" once per process (the
// first caller wins).
void announce_render_backend(const std::string& reason);

}  // namespace zem

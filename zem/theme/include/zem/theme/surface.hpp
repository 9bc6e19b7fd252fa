#pragma once
// A theme surface as painters draw it.

#include <cstddef>
#include <vector>

#include <zem/core/paint.hpp>

namespace zem {

// Gradients hold at most this many stops; longer lists are cut when a theme is
// loaded.
inline constexpr std::size_t max_gradient_stops = 64;

// The fill, the drop shadows under it and the inset shadows inside it.
struct Surface {
    Paint fill;
    std::vector<Shadow> shadows;
    std::vector<Shadow> inset_shadows;

    friend bool operator==(const Surface&, const Surface&) = default;
};

}  // namespace zem

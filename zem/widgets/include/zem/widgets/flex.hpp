#pragma once
// Rules the containers that place several children share.

#include <limits>
#include <optional>
#include <span>

#include <zem/widgets/element.hpp>

namespace zem {

inline constexpr float unbounded = std::numeric_limits<float>::infinity();

// A spacer is fixed in a column when it has a height and in a row when it has
// a width; the answer is then its resolved size, otherwise nothing.
std::optional<float> spacer_is_fixed(const Spacer& spacer, Canvas& canvas);
std::optional<float> row_spacer_is_fixed(const Spacer& spacer, Canvas& canvas);

// The largest cap c for which the widths, each cut to at most c, add up to
// `available`; +infinity when nothing needs to shrink.
float fit_cap(std::span<const float> widths, float available);

// The total of the gaps between `n` children.
inline float spacing_total(float gap, std::size_t n) { return gap * static_cast<float>(n > 0 ? n - 1 : 0); }

}  // namespace zem

#pragma once
// Shared rules of the containers that place several children.

#include <optional>
#include <span>

#include <zem/widget/element.hpp>

namespace zem {

// A spacer is fixed in a column when it has a height and in a row when it has
// a width; the answer is then its resolved size, otherwise nothing.
std::optional<float> spacer_is_fixed(const Spacer& spacer, Canvas& canvas);
std::optional<float> row_spacer_is_fixed(const Spacer& spacer, Canvas& canvas);

// The largest cap c for which the widths, each cut to at most c, add up to
// `available`; +infinity when nothing needs to shrink.
float fit_cap(std::span<const float> widths, float available);

}  // namespace zem

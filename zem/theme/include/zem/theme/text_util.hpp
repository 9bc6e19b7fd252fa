#pragma once
// Small text helpers shared by the colour parser and the loader.

#include <optional>
#include <string_view>

namespace zem::theme::detail {

// Trims Unicode white space (the White_Space property) from both ends.
std::string_view trim_unicode(std::string_view text);

// A decimal floating-point number in the usual forms: sign, digits, fraction,
// exponent, and the words inf, infinity and nan (any letter case). The whole
// text must be the number.
std::optional<double> parse_decimal(std::string_view text);

}  // namespace zem::theme::detail

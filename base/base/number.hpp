#pragma once
// Numbers in the text programs and the kernel print.

#include <cstdint>
#include <optional>
#include <string_view>

namespace base {

// A decimal unsigned integer: digits only, an optional leading '+', no
// blanks; nothing when empty, malformed or above 2^64 - 1.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

} // namespace base

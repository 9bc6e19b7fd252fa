#pragma once
// Strings shown inside messages.

#include <string>
#include <string_view>

namespace base {

// `text` in double quotes as a programmer would write it in a message:
// quotes and backslashes escaped, \n \r \t \0, other control characters
// (and DEL) as \u{x} in lower-case hex; everything else copied.
std::string debug_quote(std::string_view text);

}  // namespace base

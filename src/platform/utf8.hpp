#pragma once
// UTF-8 helpers for text that comes from outside the process (command-line
// arguments, socket lines, environment values).

#include <string>
#include <string_view>

namespace platform {

bool is_valid_utf8(std::string_view s);

// `s` with every invalid sequence replaced by U+FFFD, for showing bytes
// that are not text in a message.
std::string lossy_utf8(std::string_view s);

// `s` without leading and trailing Unicode white space (the White_Space
// property: ASCII blanks and controls 0x09-0x0D, U+0085, U+00A0, U+1680,
// U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
std::string_view trim_space(std::string_view s);

} // namespace platform

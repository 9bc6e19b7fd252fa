#pragma once
// Whole-file reading and writing. Errors are the system's text only; callers
// put the action and path in front.

#include <expected>
#include <string>
#include <string_view>

namespace base {

// The whole file, or the system's text of why it cannot be read.
[[nodiscard]] std::expected<std::string, std::string> read_file(const std::string& path);

// Writes all of `content` to `fd`, retrying on EINTR; 0 or the errno of the
// failure.
[[nodiscard]] int write_all(int fd, std::string_view content);

}  // namespace base

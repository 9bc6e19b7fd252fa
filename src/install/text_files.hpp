#pragma once
// Small file helpers of the engine's configuration steps (whole-file
// reading is base::read_file). Errors are the
// system's text only; callers put the action and path in front.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace install {

// Replaces the file's content in one write (created with mode 0666 before
// the umask when absent; an existing file keeps its mode).
[[nodiscard]] std::expected<void, std::string> write_text(const std::string& path, std::string_view content);

// Lines of a text: each ends at a newline, a carriage return before it is
// dropped; text after the last newline is a line of its own when not empty.
std::vector<std::string> split_lines(std::string_view text);

// `rel` (with or without a leading "/") below `root`.
std::string join(const std::string& root, std::string_view rel);

} // namespace install

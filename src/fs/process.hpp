#pragma once
// Running external programs: explicit argument lists, no shell, output
// captured, descriptors close-on-exec and SIGPIPE back to its default in
// the child.

#include <expected>
#include <string>
#include <vector>

namespace fs {

struct Captured {
    int status = 0;      // raw wait status
    std::string out;     // standard output, raw bytes
    std::string err;     // standard error, raw bytes
    bool exited_ok() const;
};

// Starts argv[0] (searched on PATH) with standard input read from
// `stdin_path`, and waits for it. Fails only when the program cannot be
// started; the error is the system's text.
std::expected<Captured, std::string> capture(const std::vector<std::string>& argv,
                                             const std::string& stdin_path = "/dev/null");

// UTF-8 with every invalid sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

std::string trim(std::string_view s);

} // namespace fs

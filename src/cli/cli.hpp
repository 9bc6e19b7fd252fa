#pragma once
// The command line of `tavix-installer`.
//
// `parse_args` is a pure function over the arguments after the program name:
// it returns the parsed `Cli`, or the `Exit` that ends the process (help on
// standard output with status 0, an error on standard error with status 2).
// `parse` is the thin wrapper that `main` calls: it prints and exits.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

enum class Scenario { Install, Configure };

struct Cli {
    // Size in pixels of a centred window; absent means full screen.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> window_size;
    bool test = false;
    bool daemon = false;
    bool firstboot = false;
    // Forced wizard scenario; absent means start-up decides from the marker file.
    std::optional<Scenario> scenario;
    bool operator==(const Cli&) const = default;
};

// How the process ends instead of running a role.
struct Exit {
    int status = 0;
    std::string out;  // for standard output
    std::string err;  // for standard error
    bool operator==(const Exit&) const = default;
};

// The usage text (27 lines, each ending with a newline).
extern const std::string_view USAGE;

[[nodiscard]] std::expected<Cli, Exit> parse_args(std::span<const std::string> args);

// Parses and returns the command line of this process; prints and ends the
// process on help or error.
Cli parse(int argc, char** argv);

// The pieces of a --windowsize value cut at every "x", "X" and "*", empty
// pieces included.
std::vector<std::string_view> split_window_size(std::string_view value);

// (width, height) of a --windowsize value, or the error line without its
// newline ("error: --windowsize: bad width -1600").
[[nodiscard]] std::expected<std::pair<std::uint32_t, std::uint32_t>, std::string> parse_window_size(std::string_view value);

} // namespace cli

#pragma once
// The wizard's only link to the system's networking: NetworkManager's
// command-line client `nmcli`, run as a child process with an explicit
// argument list (never a shell), waited for, its output read.
//
// The terse-output reader is pure and takes any bytes (it is fuzzed); the
// operations take the program runner as a parameter, so tests and the wizard
// decide where `nmcli` runs and the readers stay free of the toolkit.

#include <base/process.hpp>

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace network {

struct WifiNetwork {
    std::string ssid;
    bool secured = false;
    std::uint8_t bars = 0; // signal strength, 0 to 4

    friend bool operator==(const WifiNetwork&, const WifiNetwork&) = default;
};

// Runs `nmcli` with these arguments (the program name not included) and
// waits for it: what it left, or why it could not start.
using Runner = std::function<std::expected<base::Captured, std::string>(const std::vector<std::string>& args)>;

// The real program, found on the search path, standard input on the null
// device. A start failure reads "<system text> (os error <code>)".
[[nodiscard]] std::expected<base::Captured, std::string> run_nmcli(const std::vector<std::string>& args);

// --- terse output ----------------------------------------------------------

// One field of a terse line with nmcli's escapes undone: a backslash takes
// the character after it literally; a backslash at the very end stays.
std::string nmcli_unescape(std::string_view field);

// One line of "SECURITY,ACTIVE,SIGNAL,SSID": none for fewer than four fields
// or an empty name. The name keeps every ':' after the third separator.
std::optional<WifiNetwork> parse_nmcli_wifi_line(std::string_view line);

// A whole scan listing (raw bytes, shown lossily where they are not UTF-8):
// parsed line by line, strongest first (stable), one entry per name.
std::vector<WifiNetwork> parse_wifi_list(std::string_view output);

// "exit status: N", or "signal: N (SIGNAME)" (+ " (core dumped)").
std::string status_text(int wait_status);

// --- command lines ---------------------------------------------------------

std::vector<std::string> scan_args();
std::vector<std::string> connectivity_args();
std::vector<std::string> delete_args(const std::string& ssid);
std::vector<std::string> add_args(const std::string& ssid, const std::optional<std::string>& password, bool hidden);
std::vector<std::string> up_args(const std::string& ssid);

// --- operations ------------------------------------------------------------

// One fresh scan; empty on any failure, which goes to standard error.
std::vector<WifiNetwork> scan_wifi_networks(const Runner& run = run_nmcli);

// The system reports full connectivity. Every failure is false, silently.
bool network_online(const Runner& run = run_nmcli);

// Replaces any profile of that name, creates it and brings it up. The
// password, when given, is passed even when empty.
[[nodiscard]] std::expected<void, std::string> connect_wifi(const Runner& run, const std::string& ssid,
                                                            const std::optional<std::string>& password,
                                                            bool hidden);

// Why a step failed: its trimmed standard error, else its trimmed standard
// output, else "nmcli <what>: exit <status>".
std::string nmcli_error_text(std::string_view what, const base::Captured& child);

} // namespace network

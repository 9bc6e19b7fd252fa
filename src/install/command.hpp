#pragma once
// The engine's command runners. A command is an explicit argument list whose
// first element is the program (looked up on the search path); it never goes
// through a shell. The program name as given is the one failure texts use.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace install {

using Command = std::vector<std::string>;

// Runs the command with standard input on the null device, captures both
// output streams and waits for it. Fails with "spawn P: E" when it cannot be
// started, or "P exited with <status>: <standard-error tail>".
[[nodiscard]] std::expected<void, std::string> run(const Command& command);

// Like run, but writes `input` to the program's standard input and closes it.
// Serves secrets (passphrases, "user:password" lines) that must never stand
// on a command line.
[[nodiscard]] std::expected<void, std::string> run_with_stdin(const Command& command, std::string_view input);

// "exit status: N", or "signal: N (SIGNAME)" with " (core dumped)" appended
// when a core was written.
std::string wait_status_text(int wait_status);

// The last three lines of a program's standard error, lossily decoded as
// UTF-8 and joined with " | ".
std::string stderr_tail(std::string_view captured);

} // namespace install

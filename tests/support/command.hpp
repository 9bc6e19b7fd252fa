#pragma once
// Running programs from the tests: explicit argument lists (no shell), both
// output streams collected, on the installer's own spawning code.

#include <expected>
#include <string>
#include <vector>

namespace support {

struct CommandResult {
    int exit_code = -1; // -1 when it did not exit normally or could not start
    std::string out;
    std::string err;
};
// Runs argv (argv[0] looked up on PATH) with standard input on /dev/null.
CommandResult run_command(const std::vector<std::string>& argv);
// The same with `input` on the program's standard input.
CommandResult run_command(const std::vector<std::string>& argv, const std::string& input);

// Runs argv and returns its standard output, or a text naming the program,
// its status and its standard error.
std::expected<std::string, std::string> capture_output(const std::vector<std::string>& argv);

// sha256sum's digest of the bytes of a file or device, or a text saying why
// it could not be read (never equal to a digest).
std::string sha256(const std::string& path);

struct ProgramResult {
    int status = -1; // exit status; 128 + signal number when killed
    std::string out; // standard output
    std::string err; // standard error
};
// Runs the program at path argv[0] to completion with standard input on
// /dev/null, for tests that exercise the real executable.
ProgramResult run_program(const std::vector<std::string>& argv);

} // namespace support

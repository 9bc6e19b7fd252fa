#pragma once
// Runs a program to completion and collects what it wrote, for tests that
// exercise the real executable.

#include <optional>
#include <string>
#include <vector>

namespace support {

struct ProgramResult {
    int status = -1;          // exit status; 128 + signal number when killed
    std::string out;          // standard output
    std::string err;          // standard error
};

// `argv[0]` is the program's path. `env`, when given, replaces the whole
// environment. Standard input is /dev/null.
ProgramResult run_program(const std::vector<std::string>& argv,
                          const std::optional<std::vector<std::string>>& env = std::nullopt);

} // namespace support

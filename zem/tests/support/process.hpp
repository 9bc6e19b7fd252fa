#pragma once
// Child processes for toolkit tests: explicit argument lists, an optional
// environment, standard output and error captured into files.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zem::test {

struct Spawned {
    pid_t pid = -1;
    std::string out_path, err_path;
};

// Starts argv[0] (looked up in PATH) with the current environment plus
// `env` (an empty value removes a variable); output goes to files in `dir`.
std::optional<Spawned> spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                             const std::string& dir, const std::string& tag);

// How long a test waits for something that should happen before it calls
// it a failure: generous, since reaching it is never a success.
inline constexpr std::chrono::milliseconds kWaitLimit = std::chrono::seconds(30);

// Checks `cond` until it holds or `limit` has passed; whether it held. Tests
// wait for the condition itself (a socket, a window, a line in a log), never
// for a fixed time that a loaded machine can overrun.
bool wait_until(const std::function<bool()>& cond, std::chrono::milliseconds limit = kWaitLimit);

// Waits up to `timeout`; returns the wait status, or none on timeout.
std::optional<int> wait_for(pid_t pid, std::chrono::milliseconds timeout);

// Runs to completion and returns (exit status, stdout).
std::pair<int, std::string> run_capture(const std::vector<std::string>& argv,
                                        const std::map<std::string, std::string>& env = {});

std::string read_file(const std::string& path);
std::string make_temp_dir(const std::string& prefix);
void remove_tree(const std::string& path);

}  // namespace zem::test

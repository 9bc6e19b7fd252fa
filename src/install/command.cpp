#include "install/command.hpp"

#include <base/error.hpp>
#include <base/process.hpp>
#include <base/sigpipe.hpp>
#include <base/utf8.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/wait.h>

namespace install {

namespace {

using base::errno_text;

// Starts `command` with its output streams on pipes, and standard input on a
// pipe when `with_stdin`, else on the null device. Returns 0 or the errno of
// the failure.
int spawn(const Command& command, bool with_stdin, base::Child& child) {
    if (command.empty() || command.front().empty()) return EINVAL;
    base::ignore_sigpipe();
    base::SpawnOptions options;
    if (with_stdin) options.stdin_mode = base::ChildStdin::Pipe;
    return base::spawn(command, options, child);
}

std::expected<void, std::string> exited_text(const std::string& program, int status,
                                             const std::string& err) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    return std::unexpected(program + " exited with " + wait_status_text(status) + ": " +
                           stderr_tail(err));
}

} // namespace

std::string wait_status_text(int status) {
    if (WIFEXITED(status)) return "exit status: " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        int sig = WTERMSIG(status);
        std::string text = "signal: " + std::to_string(sig);
        if (const char* abbrev = sigabbrev_np(sig)) text += std::string(" (SIG") + abbrev + ")";
        if (WCOREDUMP(status)) text += " (core dumped)";
        return text;
    }
    return "unrecognised wait status: " + std::to_string(status);
}

std::string stderr_tail(std::string_view captured) {
    std::string text = base::utf8::lossy(captured);
    std::vector<std::string_view> lines;
    std::string_view rest = text;
    while (!rest.empty()) {
        auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (nl != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    std::string tail;
    std::size_t first = lines.size() > 3 ? lines.size() - 3 : 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (i > first) tail += " | ";
        tail += lines[i];
    }
    return tail;
}

std::expected<void, std::string> run(const Command& command) {
    const std::string program = command.empty() ? std::string() : command.front();
    base::Child child;
    if (int e = spawn(command, false, child))
        return std::unexpected("spawn " + program + ": " + errno_text(e));
    base::Drained c = base::drain(child, {}, false);
    int status = 0;
    int wait_error = base::reap(child.pid, status);
    if (c.io_error) return std::unexpected("spawn " + program + ": " + errno_text(c.io_error));
    if (wait_error) return std::unexpected("spawn " + program + ": " + errno_text(wait_error));
    return exited_text(program, status, c.err);
}

std::expected<void, std::string> run_with_stdin(const Command& command, std::string_view input) {
    const std::string program = command.empty() ? std::string() : command.front();
    base::Child child;
    if (int e = spawn(command, true, child))
        return std::unexpected("spawn " + program + ": " + errno_text(e));
    base::Drained c = base::drain(child, input, false);
    int status = 0;
    int wait_error = base::reap(child.pid, status);
    if (wait_error) return std::unexpected("wait " + program + ": " + errno_text(wait_error));
    // A program that quit without reading its input is judged by its exit:
    // its own error says more than the broken pipe it left behind.
    bool failed_exit = !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (c.write_error && !(c.write_error == EPIPE && failed_exit))
        return std::unexpected("write to " + program + ": " + errno_text(c.write_error));
    if (c.io_error) return std::unexpected("wait " + program + ": " + errno_text(c.io_error));
    return exited_text(program, status, c.err);
}

} // namespace install

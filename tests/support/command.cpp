#include "support/command.hpp"

#include <base/process.hpp>
#include "support/temp_dir.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

namespace {

CommandResult result_of(std::expected<base::Captured, std::string> c) {
    CommandResult r;
    if (!c) {
        r.err = c.error();
        return r;
    }
    r.out = std::move(c->out);
    r.err = std::move(c->err);
    if (WIFEXITED(c->status)) r.exit_code = WEXITSTATUS(c->status);
    return r;
}

} // namespace

CommandResult run_command(const std::vector<std::string>& argv) { return result_of(base::capture(argv)); }

CommandResult run_command(const std::vector<std::string>& argv, const std::string& input) {
    // The input goes through a file so a program that stops reading early
    // cannot block us.
    TempDir dir;
    std::string file = dir.path() + "/stdin";
    int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && ::write(fd, input.data(), input.size()) == ssize_t(input.size());
    if (fd >= 0) ::close(fd);
    if (!ok) {
        CommandResult r;
        r.err = "cannot write " + file;
        return r;
    }
    return result_of(base::capture(argv, file));
}

std::expected<std::string, std::string> capture_output(const std::vector<std::string>& argv) {
    auto c = base::capture(argv);
    if (!c) return std::unexpected(argv.empty() ? c.error() : argv[0] + ": " + c.error());
    if (c->status != 0)
        return std::unexpected(argv[0] + " failed (status " + std::to_string(c->status) + "): " + c->err);
    return std::move(c->out);
}

ProgramResult run_program(const std::vector<std::string>& argv) {
    ProgramResult r;
    auto c = base::capture(argv);
    if (!c) return r;
    r.out = std::move(c->out);
    r.err = std::move(c->err);
    r.status = WIFEXITED(c->status) ? WEXITSTATUS(c->status) : 128 + WTERMSIG(c->status);
    return r;
}

std::string sha256(const std::string& path) {
    auto r = run_command({"sha256sum", path});
    if (r.exit_code != 0) return "sha256sum " + path + " failed: " + r.err;
    return r.out.substr(0, r.out.find(' '));
}

} // namespace support

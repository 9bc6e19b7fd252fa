#include "install/command.hpp"

#include "platform/sigpipe.hpp"
#include "platform/utf8.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace install {

namespace {

std::string errno_text(int err) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return std::string(strerror_r(err, buf, sizeof buf));
}

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

struct Pipe {
    Fd read, write;
    int open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
        read.fd = fds[0];
        write.fd = fds[1];
        return 0;
    }
};

// One started program with our ends of its pipes.
struct Child {
    pid_t pid = -1;
    Fd in, out, err;
};

// Starts `command` with its standard output and error on pipes, and standard
// input on a pipe when `with_stdin`, else on the null device. Returns 0 or
// the errno of the failure.
int spawn(const Command& command, bool with_stdin, Child& child) {
    if (command.empty() || command.front().empty()) return EINVAL;
    platform::ignore_sigpipe();

    Pipe in, out, err;
    if (int e = out.open()) return e;
    if (int e = err.open()) return e;
    if (with_stdin) {
        if (int e = in.open()) return e;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (with_stdin)
        posix_spawn_file_actions_adddup2(&actions, in.read.fd, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err.write.fd, 2);
    // Descriptors a library opened without close-on-exec stay out as well.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, pipe_only;
    sigemptyset(&none);
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    // We ignore SIGPIPE and some threads block signals; the program gets the
    // ordinary defaults back.
    posix_spawnattr_setsigdefault(&attr, &pipe_only);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return rc;

    child.pid = pid;
    std::swap(child.out.fd, out.read.fd);
    std::swap(child.err.fd, err.read.fd);
    if (with_stdin) std::swap(child.in.fd, in.write.fd);
    return 0;
}

struct Collected {
    std::string stderr_bytes;
    int io_error = 0;    // a read or poll failure
    int write_error = 0; // a failure writing the input (EPIPE included)
};

// Feeds `input` to the program and drains both output streams in one poll
// loop, so that neither side can block the other however much it writes.
Collected pump(Child& child, std::string_view input) {
    Collected c;
    std::size_t written = 0;
    if (child.in.fd >= 0) {
        int flags = ::fcntl(child.in.fd, F_GETFL);
        ::fcntl(child.in.fd, F_SETFL, flags | O_NONBLOCK);
        if (input.empty()) child.in.reset();
    }
    char buf[8192];
    while (child.out.fd >= 0 || child.err.fd >= 0 || child.in.fd >= 0) {
        pollfd fds[3];
        int n = 0;
        int idx_out = -1, idx_err = -1, idx_in = -1;
        if (child.out.fd >= 0) { idx_out = n; fds[n++] = {child.out.fd, POLLIN, 0}; }
        if (child.err.fd >= 0) { idx_err = n; fds[n++] = {child.err.fd, POLLIN, 0}; }
        if (child.in.fd >= 0) { idx_in = n; fds[n++] = {child.in.fd, POLLOUT, 0}; }
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            c.io_error = errno;
            break;
        }
        auto drain = [&](int idx, Fd& fd, std::string* sink) {
            if (idx < 0 || fds[idx].revents == 0) return;
            ssize_t r = ::read(fd.fd, buf, sizeof buf);
            if (r > 0) {
                if (sink) sink->append(buf, static_cast<std::size_t>(r));
            } else if (r == 0) {
                fd.reset();
            } else if (errno != EINTR && errno != EAGAIN) {
                if (!c.io_error) c.io_error = errno;
                fd.reset();
            }
        };
        drain(idx_out, child.out, nullptr);
        drain(idx_err, child.err, &c.stderr_bytes);
        if (idx_in >= 0 && fds[idx_in].revents != 0) {
            ssize_t w = ::write(child.in.fd, input.data() + written, input.size() - written);
            if (w > 0) {
                written += static_cast<std::size_t>(w);
                if (written == input.size()) child.in.reset();
            } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
                c.write_error = errno;
                child.in.reset();
            }
        }
    }
    child.in.reset();
    child.out.reset();
    child.err.reset();
    return c;
}

// Waits for the program; 0 or the errno of the failure.
int reap(pid_t pid, int& status) {
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
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
    std::string text = platform::lossy_utf8(captured);
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
    Child child;
    if (int e = spawn(command, false, child))
        return std::unexpected("spawn " + program + ": " + errno_text(e));
    Collected c = pump(child, {});
    int status = 0;
    int wait_error = reap(child.pid, status);
    if (c.io_error) return std::unexpected("spawn " + program + ": " + errno_text(c.io_error));
    if (wait_error) return std::unexpected("spawn " + program + ": " + errno_text(wait_error));
    return exited_text(program, status, c.stderr_bytes);
}

std::expected<void, std::string> run_with_stdin(const Command& command, std::string_view input) {
    const std::string program = command.empty() ? std::string() : command.front();
    Child child;
    if (int e = spawn(command, true, child))
        return std::unexpected("spawn " + program + ": " + errno_text(e));
    Collected c = pump(child, input);
    int status = 0;
    int wait_error = reap(child.pid, status);
    if (wait_error) return std::unexpected("wait " + program + ": " + errno_text(wait_error));
    // A program that quit without reading its input is judged by its exit:
    // its own error says more than the broken pipe it left behind.
    bool failed_exit = !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (c.write_error && !(c.write_error == EPIPE && failed_exit))
        return std::unexpected("write to " + program + ": " + errno_text(c.write_error));
    if (c.io_error) return std::unexpected("wait " + program + ": " + errno_text(c.io_error));
    return exited_text(program, status, c.stderr_bytes);
}

} // namespace install

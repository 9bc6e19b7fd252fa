#include <base/process.hpp>

#include <base/error.hpp>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace base {

namespace {

struct Pipe {
    Fd read, write;
    int open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
        read.reset(fds[0]);
        write.reset(fds[1]);
        return 0;
    }
};

} // namespace

int spawn(const std::vector<std::string>& argv, const SpawnOptions& options, Child& child) {
    if (argv.empty()) return EINVAL;
    const bool stdin_pipe = options.stdin_mode == ChildStdin::Pipe;

    Pipe in, out, err;
    if (int e = out.open()) return e;
    if (int e = err.open()) return e;
    if (stdin_pipe) {
        if (int e = in.open()) return e;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdin_pipe)
        posix_spawn_file_actions_adddup2(&actions, in.read.get(), 0);
    else if (options.stdin_mode == ChildStdin::File)
        posix_spawn_file_actions_addopen(&actions, 0, options.stdin_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), 2);
    // Descriptors a library opened without close-on-exec stay out as well.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, pipe_only;
    sigemptyset(&none);
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    // The parent may ignore SIGPIPE and some threads block signals; the
    // program gets the ordinary defaults back.
    posix_spawnattr_setsigdefault(&attr, &pipe_only);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (options.own_group) {
        posix_spawnattr_setpgroup(&attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attr, flags);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return rc;

    child.pid = pid;
    child.out = std::move(out.read);
    child.err = std::move(err.read);
    if (stdin_pipe) child.in = std::move(in.write);
    return 0;
}

Drained drain(Child& child, std::string_view input, bool keep_out) {
    Drained c;
    std::size_t written = 0;
    if (child.in.get() >= 0) {
        int flags = ::fcntl(child.in.get(), F_GETFL);
        ::fcntl(child.in.get(), F_SETFL, flags | O_NONBLOCK);
        if (input.empty()) child.in.reset();
    }
    char buf[8192];
    while (child.out.get() >= 0 || child.err.get() >= 0 || child.in.get() >= 0) {
        pollfd fds[3];
        int n = 0;
        int idx_out = -1, idx_err = -1, idx_in = -1;
        if (child.out.get() >= 0) { idx_out = n; fds[n++] = {child.out.get(), POLLIN, 0}; }
        if (child.err.get() >= 0) { idx_err = n; fds[n++] = {child.err.get(), POLLIN, 0}; }
        if (child.in.get() >= 0) { idx_in = n; fds[n++] = {child.in.get(), POLLOUT, 0}; }
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            c.io_error = errno;
            break;
        }
        auto read_one = [&](int idx, Fd& fd, std::string* sink) {
            if (idx < 0 || fds[idx].revents == 0) return;
            ssize_t r = ::read(fd.get(), buf, sizeof buf);
            if (r > 0) {
                if (sink) sink->append(buf, static_cast<std::size_t>(r));
            } else if (r == 0) {
                fd.reset();
            } else if (errno != EINTR && errno != EAGAIN) {
                if (!c.io_error) c.io_error = errno;
                fd.reset();
            }
        };
        read_one(idx_out, child.out, keep_out ? &c.out : nullptr);
        read_one(idx_err, child.err, &c.err);
        if (idx_in >= 0 && fds[idx_in].revents != 0) {
            ssize_t w = ::write(child.in.get(), input.data() + written, input.size() - written);
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

bool Captured::exited_ok() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

std::expected<Captured, std::string> capture(const std::vector<std::string>& argv, const std::string& stdin_path) {
    if (argv.empty()) return std::unexpected(std::string("empty command"));
    SpawnOptions options;
    options.stdin_path = stdin_path;
    Child child;
    if (int e = spawn(argv, options, child)) return std::unexpected(errno_text(e));
    Drained d = drain(child, {}, true);
    Captured c;
    c.out = std::move(d.out);
    c.err = std::move(d.err);
    (void)reap(child.pid, c.status);
    return c;
}

int reap(pid_t pid, int& status) {
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

} // namespace base

#include "platform/process.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

void Fd::reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int Fd::release() {
    int f = fd;
    fd = -1;
    return f;
}

namespace {

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
        posix_spawn_file_actions_adddup2(&actions, in.read.fd, 0);
    else if (options.stdin_mode == ChildStdin::File)
        posix_spawn_file_actions_addopen(&actions, 0, options.stdin_path.c_str(), O_RDONLY, 0);
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
    std::swap(child.out.fd, out.read.fd);
    std::swap(child.err.fd, err.read.fd);
    if (stdin_pipe) std::swap(child.in.fd, in.write.fd);
    return 0;
}

Drained drain(Child& child, std::string_view input, bool keep_out) {
    Drained c;
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
        auto read_one = [&](int idx, Fd& fd, std::string* sink) {
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
        read_one(idx_out, child.out, keep_out ? &c.out : nullptr);
        read_one(idx_err, child.err, &c.err);
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

int reap(pid_t pid, int& status) {
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

} // namespace platform

#include "support/daemon_process.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

namespace {

// Only system calls between fork and exec: the test process may have threads.
[[noreturn]] void child_fail(int report_fd, const char* what) {
    int err = errno;
    char msg[256];
    int n = snprintf(msg, sizeof msg, "%s: %s", what, strerror(err));
    (void)!write(report_fd, msg, static_cast<std::size_t>(n));
    _exit(127);
}

} // namespace

std::expected<std::unique_ptr<DaemonProcess>, std::string>
DaemonProcess::start(const std::string& exe, const Prepare& prepare, bool wait_listening) {
    if (geteuid() != 0) return std::unexpected("a private mount namespace needs root");
    std::unique_ptr<DaemonProcess> d(new DaemonProcess());
    char tmpl[] = "/tmp/tavix-daemon-log-XXXXXX";
    int log_fd = mkstemp(tmpl);
    if (log_fd < 0) return std::unexpected(std::string("mkstemp: ") + strerror(errno));
    d->log_path_ = tmpl;

    int ready[2], go[2];
    if (pipe2(ready, O_CLOEXEC) || pipe2(go, O_CLOEXEC)) return std::unexpected("pipe");
    const char* argv[] = {exe.c_str(), "daemon", nullptr};
    pid_t pid = fork();
    if (pid < 0) return std::unexpected(std::string("fork: ") + strerror(errno));
    if (pid == 0) {
        close(ready[0]);
        close(go[1]);
        if (unshare(CLONE_NEWNS) != 0) child_fail(ready[1], "unshare");
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) child_fail(ready[1], "private /");
        if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) child_fail(ready[1], "tmpfs /run");
        if (mount("tmpfs", "/var/lib", "tmpfs", 0, "mode=0755") != 0) child_fail(ready[1], "tmpfs /var/lib");
        if (mkdir("/var/lib/tavix-installer", 0755) != 0) child_fail(ready[1], "mkdir state dir");
        // The daemon works on the running system ("/"): the locale, the
        // crypttab, the initramfs. Its changes land in throw-away layers.
        if (mkdir("/run/.tavix-overlay", 0700) != 0) child_fail(ready[1], "mkdir overlay");
        for (const char* dir : {"etc", "usr", "boot"}) {
            char top[64], upper[96], work[96], options[320];
            snprintf(top, sizeof top, "/%s", dir);
            struct stat st {};
            if (stat(top, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
            snprintf(upper, sizeof upper, "/run/.tavix-overlay/%s", dir);
            if (mkdir(upper, 0700) != 0) child_fail(ready[1], "mkdir overlay layer");
            snprintf(work, sizeof work, "/run/.tavix-overlay/%s/w", dir);
            snprintf(upper, sizeof upper, "/run/.tavix-overlay/%s/u", dir);
            if (mkdir(upper, 0755) != 0 || mkdir(work, 0700) != 0) child_fail(ready[1], "mkdir overlay dirs");
            snprintf(options, sizeof options, "lowerdir=%s,upperdir=%s,workdir=%s", top, upper, work);
            if (mount("overlay", top, "overlay", 0, options) != 0) child_fail(ready[1], "overlay");
        }
        close(ready[1]); // end of stream: set up
        char c;
        while (read(go[0], &c, 1) < 0 && errno == EINTR) {
        }
        dup2(log_fd, 2);
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(log_fd);
    close(ready[1]);
    close(go[0]);
    d->pid_ = pid;
    d->root_ = "/proc/" + std::to_string(pid) + "/root";
    std::string failure;
    char buf[256];
    ssize_t n;
    while ((n = read(ready[0], buf, sizeof buf)) > 0) failure.append(buf, static_cast<std::size_t>(n));
    close(ready[0]);
    if (!failure.empty()) {
        close(go[1]);
        return std::unexpected(failure);
    }
    if (prepare) prepare(d->root_);
    (void)!write(go[1], "g", 1);
    close(go[1]);
    if (wait_listening && !d->wait_for_log("listening on"))
        return std::unexpected("daemon did not start: " + d->log());
    return d;
}

DaemonProcess::~DaemonProcess() {
    stop();
    if (!log_path_.empty()) unlink(log_path_.c_str());
}

platform::SystemPaths DaemonProcess::paths() const {
    platform::SystemPaths p;
    p.run_dir = root_ + "/run/tavix-installer";
    p.state_dir = root_ + "/var/lib/tavix-installer";
    return p;
}

int connect_unix(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

Exchange exchange(const std::string& socket, const std::string& bytes, bool shutdown_write,
                  std::chrono::milliseconds limit) {
    Exchange ex;
    int fd = connect_unix(socket);
    if (fd < 0) {
        ex.error = std::string("connect ") + socket + ": " + strerror(errno);
        return ex;
    }
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += static_cast<std::size_t>(n);
    }
    ex.sent = off;
    if (shutdown_write) shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            ex.received.append(buf, static_cast<std::size_t>(n));
        } else {
            ex.closed = true;
            break;
        }
    }
    close(fd);
    return ex;
}

} // namespace support

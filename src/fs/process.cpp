#include "fs/process.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs {

namespace {

std::string errno_text(int err) {
    char buf[256];
    return std::string(strerror_r(err, buf, sizeof buf));
}

struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

} // namespace

bool Captured::exited_ok() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

std::expected<Captured, std::string> capture(const std::vector<std::string>& argv, const std::string& stdin_path) {
    if (argv.empty()) return std::unexpected(std::string("empty command"));
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) return std::unexpected(errno_text(errno));
    Fd out_r{out_pipe[0]}, out_w{out_pipe[1]};
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) return std::unexpected(errno_text(errno));
    Fd err_r{err_pipe[0]}, err_w{err_pipe[1]};

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, stdin_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out_w.fd, 1);
    posix_spawn_file_actions_adddup2(&fa, err_w.fd, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t def, none;
    sigemptyset(&def);
    sigaddset(&def, SIGPIPE);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &def);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, args[0], &fa, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return std::unexpected(errno_text(rc));
    out_w.reset();
    err_w.reset();

    Captured c;
    pollfd fds[2] = {{out_r.fd, POLLIN, 0}, {err_r.fd, POLLIN, 0}};
    std::string* sinks[2] = {&c.out, &c.err};
    int open_count = 2;
    char buf[8192];
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, std::size_t(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    c.status = status;
    return c;
}

std::string lossy_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = std::uint8_t(s[i]);
        std::size_t len = 0;
        std::uint32_t min = 0, c = 0;
        if (b < 0x80) {
            out += char(b);
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) len = 2, min = 0x80, c = b & 0x1F;
        else if ((b & 0xF0) == 0xE0) len = 3, min = 0x800, c = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, min = 0x10000, c = b & 0x07;
        std::size_t k = 1;
        if (len) {
            for (; k < len && i + k < s.size(); ++k) {
                auto cb = std::uint8_t(s[i + k]);
                if ((cb & 0xC0) != 0x80) break;
                c = (c << 6) | (cb & 0x3F);
            }
        }
        if (len && k == len && c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            i += std::max<std::size_t>(1, len ? k : 1);
        }
    }
    return out;
}

std::string trim(std::string_view s) {
    const char* ws = " \t\n\r\f\v";
    auto b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    auto e = s.find_last_not_of(ws);
    return std::string(s.substr(b, e - b + 1));
}

} // namespace fs

#include "support/run_program.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace support {

namespace {

std::vector<char*> pointers(const std::vector<std::string>& v) {
    std::vector<char*> p;
    for (const auto& s : v) p.push_back(const_cast<char*>(s.c_str()));
    p.push_back(nullptr);
    return p;
}

} // namespace

ProgramResult run_program(const std::vector<std::string>& argv,
                          const std::optional<std::vector<std::string>>& env) {
    ProgramResult r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return r;
    if (pipe2(err, O_CLOEXEC) != 0) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    auto args = pointers(argv);
    std::vector<char*> envp = env ? pointers(*env) : std::vector<char*>{};
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, args.data(), env ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        ::close(out[0]);
        ::close(err[0]);
        return r;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !fds[k].revents) continue;
            char buf[4096];
            ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[k]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

} // namespace support

#include <zem/app/text_scale.hpp>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zem {

std::optional<float> parse_scaling_factor(std::string_view text) {
    size_t cut = text.find_last_of(" :");
    std::string_view piece = cut == std::string_view::npos ? text : text.substr(cut + 1);
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (!piece.empty() && space(piece.front())) piece.remove_prefix(1);
    while (!piece.empty() && space(piece.back())) piece.remove_suffix(1);
    if (piece.empty()) return std::nullopt;
    std::string s(piece);
    // strtof also takes hexadecimal forms, which are not decimal notation.
    if (s.find_first_of("xX") != std::string::npos && s.find("inf") == std::string::npos) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    float v = std::strtof(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return std::nullopt;
    if (!(v > 0)) return std::nullopt;  // zero, negative and NaN
    return v;
}

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;
};

// Starts `program` with stdout on a pipe, stderr to /dev/null, stdin as
// given, an empty signal mask and default SIGPIPE.
std::optional<Child> spawn(const std::string& program, const char* verb, bool empty_stdin) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (empty_stdin) posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t empty, defaults;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string a1 = verb, a2 = "org.gnome.desktop.interface", a3 = "text-scaling-factor";
    char* argv[] = {const_cast<char*>(program.c_str()), a1.data(), a2.data(), a3.data(), nullptr};
    pid_t pid;
    int rc = posix_spawnp(&pid, program.c_str(), &fa, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(p[1]);
    if (rc != 0) {
        close(p[0]);
        return std::nullopt;
    }
    return Child{pid, p[0]};
}

void reap(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

std::optional<float> read_text_scaling_factor(const std::string& program) {
    auto child = spawn(program, "get", true);
    if (!child) return std::nullopt;
    std::string out;
    char buf[4096];
    while (true) {
        ssize_t n = read(child->out, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(child->out);
    reap(child->pid);
    if (!valid_utf8(out)) return std::nullopt;
    return parse_scaling_factor(out);
}

void watch_text_scaling_factor(event_loop::Sender<float> sender, const std::string& program) {
    if (auto v = read_text_scaling_factor(program)) sender.send(*v);
    auto child = spawn(program, "monitor", false);
    if (!child) return;
    std::string pending;
    char buf[8192];
    bool stop = false;
    while (!stop) {
        ssize_t n = read(child->out, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl + 1);
            pending.erase(0, nl + 1);
            if (!valid_utf8(line)) {
                stop = true;
                break;
            }
            if (auto v = parse_scaling_factor(line)) {
                if (!sender.send(*v)) {
                    stop = true;
                    break;
                }
            }
        }
    }
    close(child->out);
    kill(child->pid, SIGKILL);
    // Reaped, so that no zombie outlives the watcher.
    reap(child->pid);
}

void spawn_text_scale_watcher(event_loop::Sender<float> sender) {
    try {
        std::thread t([s = std::move(sender)]() mutable {
            pthread_setname_np(pthread_self(), "zem-text-scale");
            try {
                watch_text_scaling_factor(std::move(s));
            } catch (...) {
            }
        });
        t.detach();
    } catch (...) {
        // The thread could not start: the sender is dropped, nothing reported.
    }
}

}  // namespace zem

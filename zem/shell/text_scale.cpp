#include <zem/shell/text_scale.hpp>

#include <base/utf8.hpp>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
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

// `program` as found through PATH (a name with a slash is taken as is).
std::optional<std::string> resolve(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? std::optional(program) : std::nullopt;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= dirs.size()) {
        size_t colon = dirs.find(':', pos);
        std::string dir = dirs.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        std::string full = (dir.empty() ? "." : dir) + "/" + program;
        if (access(full.c_str(), X_OK) == 0) return full;
        if (colon == std::string::npos) break;
        pos = colon + 1;
    }
    return std::nullopt;
}

// Starts `program` with stdout on a pipe, stderr to /dev/null, stdin empty
// or inherited, an empty signal mask and default SIGPIPE. The child is
// killed when this process ends, so a monitor never outlives the
// application it reports to.
std::optional<Child> spawn(const std::string& program, const char* verb, bool empty_stdin) {
    auto path = resolve(program);
    if (!path) return std::nullopt;
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return std::nullopt;
    int devnull_w = open("/dev/null", O_WRONLY | O_CLOEXEC);
    int devnull_r = empty_stdin ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
    std::string a1 = verb, a2 = "org.gnome.desktop.interface", a3 = "text-scaling-factor";
    char* argv[] = {const_cast<char*>(program.c_str()), a1.data(), a2.data(), a3.data(), nullptr};
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        dup2(p[1], 1);
        if (devnull_w >= 0) dup2(devnull_w, 2);
        if (devnull_r >= 0) dup2(devnull_r, 0);
        execve(path->c_str(), argv, environ);
        _exit(127);
    }
    close(p[1]);
    if (devnull_w >= 0) close(devnull_w);
    if (devnull_r >= 0) close(devnull_r);
    if (pid < 0) {
        close(p[0]);
        return std::nullopt;
    }
    return Child{pid, p[0]};
}

void reap(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
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
    if (!base::utf8::is_valid(out)) return std::nullopt;
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
            if (!base::utf8::is_valid(line)) {
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

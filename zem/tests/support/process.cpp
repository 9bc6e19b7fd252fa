#include <base/files.hpp>
#include "support/process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zem::test {

namespace {
std::vector<std::string> merged_env(const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    // Clients draw in software unless a test asks for GLES (by erasing this):
    // the pixel comparisons are against the software canvas.
    all["ZEM_FORCE_SOFTWARE"].assign(1, '1');  // (a literal trips a false -Wrestrict in g++ 12)
    for (auto& [k, v] : env) {
        if (v.empty()) all.erase(k);
        else all[k] = v;
    }
    std::vector<std::string> out;
    for (auto& [k, v] : all) out.push_back(k + "=" + v);
    return out;
}
}  // namespace

std::optional<Spawned> spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                             const std::string& dir, const std::string& tag) {
    Spawned s;
    s.out_path = dir + "/" + tag + ".out";
    s.err_path = dir + "/" + tag + ".err";
    // A toolkit program keeps per-application state and refuses to share it
    // with a live copy of itself: each test's programs get the test's own.
    std::map<std::string, std::string> with_state = env;
    if (!with_state.contains("XDG_STATE_HOME")) with_state["XDG_STATE_HOME"] = dir + "/state";
    std::vector<std::string> envs = merged_env(with_state);
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    for (auto& e : envs) cenv.push_back(const_cast<char*>(e.c_str()));
    cenv.push_back(nullptr);
    int out = open(s.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = open(s.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) return std::nullopt;
    pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        dup2(out, 1);
        dup2(err, 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        execvpe(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(out);
    close(err);
    s.pid = pid;
    return s;
}

bool wait_until(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (cond()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        // The conditions are cheap to look at; a few milliseconds between
        // looks leaves the processor to the code under test.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::optional<int> wait_for(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    bool failed = false;
    bool ended = wait_until(
        [&] {
            pid_t r = waitpid(pid, &status, WNOHANG);
            failed = r < 0 && errno != EINTR;
            return r == pid || failed;
        },
        timeout);
    if (!ended || failed) return std::nullopt;
    return status;
}

std::pair<int, std::string> run_capture(const std::vector<std::string>& argv,
                                        const std::map<std::string, std::string>& env) {
    std::string dir = make_temp_dir("zem-run");
    auto s = spawn(argv, env, dir, "cmd");
    if (!s) {
        remove_tree(dir);
        return {-1, {}};
    }
    auto st = wait_for(s->pid, std::chrono::seconds(60));
    if (!st) {
        kill(s->pid, SIGKILL);
        waitpid(s->pid, nullptr, 0);
    }
    std::string out = read_file(s->out_path);
    remove_tree(dir);
    return {st ? *st : -1, out};
}

std::string read_file(const std::string& path) { return base::read_file(path).value_or(""); }

std::string make_temp_dir(const std::string& prefix) {
    std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
    char* p = mkdtemp(tmpl.data());
    return p ? std::string(p) : std::string();
}

void remove_tree(const std::string& path) {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
}

}  // namespace zem::test

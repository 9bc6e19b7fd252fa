#include "install/copy.hpp"

#include "disks/disks.hpp"
#include <base/error.hpp>
#include <base/process.hpp>
#include <base/sigpipe.hpp>
#include "platform/system_paths.hpp"
#include <base/utf8.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace install {

namespace {

constexpr const char* EXCLUDES[] = {"/dev/*", "/proc/*",  "/sys/*",   "/run/*",      "/tmp/*",
                                    "/var/tmp/*", "/mnt/*", "/media/*", "/boot/efi/*", "/lost+found"};

using base::errno_text;

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Whether any process of group `pgid` is still alive (zombies do not count:
// they hold no files).
bool group_alive(pid_t pgid) {
    const std::string proc = platform::paths().proc;
    DIR* dir = ::opendir(proc.c_str());
    if (!dir) return ::kill(-pgid, 0) == 0;
    bool alive = false;
    while (dirent* ent = ::readdir(dir)) {
        if (ent->d_name[0] < '0' || ent->d_name[0] > '9') continue;
        std::ifstream in(proc + "/" + ent->d_name + "/stat");
        std::string stat;
        if (!std::getline(in, stat)) continue;
        // pid (comm) state ppid pgrp ...; comm may hold blanks and parentheses.
        auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) != 3) continue;
        if (pgrp == pgid && state != 'Z' && state != 'X') {
            alive = true;
            break;
        }
    }
    ::closedir(dir);
    return alive;
}

// Stops rsync and the processes it forked (they share its process group),
// so none of them is still writing into the target when it is unmounted.
void kill_rsync(pid_t pid) {
    (void)::kill(-pid, SIGKILL);
    (void)::kill(pid, SIGKILL);
}

void wait_group_gone(pid_t pgid) {
    using namespace std::chrono_literals;
    for (int i = 0; i < 200 && group_alive(pgid); ++i) std::this_thread::sleep_for(50ms);
}

} // namespace

Command rsync_command(const std::string& source, const std::string& target) {
    Command cmd{"rsync", "-aHAXx", "--numeric-ids", "--no-inc-recursive", "--info=progress2"};
    for (const char* pattern : EXCLUDES) {
        cmd.push_back("--exclude");
        cmd.push_back(pattern);
    }
    cmd.push_back(source.ends_with('/') ? source : source + "/");
    cmd.push_back(target + "/");
    return cmd;
}

std::optional<std::uint32_t> progress_percent(std::string_view line) {
    const auto pct = line.find('%');
    if (pct == std::string_view::npos) return std::nullopt;
    std::string_view before = line.substr(0, pct);
    auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (!before.empty() && is_space(before.back())) before.remove_suffix(1);
    std::size_t begin = before.size();
    while (begin > 0 && !is_space(before[begin - 1])) --begin;
    auto n = disks::parse_unsigned(before.substr(begin));
    if (!n || *n > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(*n);
}

float copy_fraction(std::uint32_t percent) {
    return 0.10f + 0.75f * static_cast<float>(percent) / 100.0f;
}

std::string rsync_failure(std::optional<int> exit_code, std::string_view stderr_text) {
    std::vector<std::string_view> lines;
    std::string_view rest = stderr_text;
    while (!rest.empty()) {
        auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (nl != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    std::string tail;
    const std::size_t first = lines.size() > 5 ? lines.size() - 5 : 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (i > first) tail += "\n";
        tail += lines[i];
    }
    const std::string code = exit_code ? "Some(" + std::to_string(*exit_code) + ")" : std::string("None");
    return "rsync failed (" + code + "): " + tail;
}

std::expected<void, std::string> copy_system(const InstallHandle& handle) {
    const auto& paths = platform::paths();
    const Command cmd = rsync_command(paths.host_root, paths.target_root);
    base::ignore_sigpipe();

    base::SpawnOptions options;
    // rsync reads no input: its standard input is left as it is.
    options.stdin_mode = base::ChildStdin::Inherit;
    // A group of its own, so that a cancel reaches the receiver and generator
    // processes rsync forks as well.
    options.own_group = true;
    base::Child child;
    if (int e = base::spawn(cmd, options, child))
        return std::unexpected("spawn rsync: " + errno_text(e));
    const pid_t pid = child.pid;

    int err_fd = child.err.release();
    std::future<std::string> err_text = std::async(std::launch::async, [err_fd] {
        std::string text;
        char buf[4096];
        for (;;) {
            ssize_t n = ::read(err_fd, buf, sizeof buf);
            if (n > 0) text.append(buf, std::size_t(n));
            else if (n < 0 && errno == EINTR) continue;
            else break;
        }
        ::close(err_fd);
        return text;
    });

    int out_fd = child.out.release();
    std::string line;
    bool killed = false;
    char buf[8192];
    auto cancel_if_asked = [&] {
        if (!CANCEL_FLAG.load()) return false;
        kill_rsync(pid);
        killed = true;
        return true;
    };
    while (!killed) {
        // The flag is also looked at while rsync is silent (a large file
        // with no progress line), so a cancel never waits for the next line.
        pollfd p{out_fd, POLLIN, 0};
        int ready = ::poll(&p, 1, 250);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) {
            cancel_if_asked();
            continue;
        }
        ssize_t n = ::read(out_fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            break;
        }
        if (n == 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(buf[i]);
            if (c != '\r' && c != '\n') {
                // Bytes stand for the characters of the same code.
                if (c < 0x80) {
                    line.push_back(char(c));
                } else {
                    line.push_back(char(0xC0 | (c >> 6)));
                    line.push_back(char(0x80 | (c & 0x3F)));
                }
                continue;
            }
            if (auto pct = progress_percent(line))
                set_progress(handle, ipc::InstallPhase::Copy, copy_fraction(*pct));
            line.clear();
            if (cancel_if_asked()) break;
        }
    }
    close_fd(out_fd);

    int status = 0;
    int wait_error = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            wait_error = errno;
            break;
        }
    }
    if (killed) wait_group_gone(pid);
    std::string errors;
    try {
        errors = err_text.get();
    } catch (...) {
    }
    if (wait_error) return std::unexpected("wait rsync: " + errno_text(wait_error));
    if (CANCEL_FLAG.load()) {
        if (!killed) wait_group_gone(pid);
        return std::unexpected(std::string("cancelled"));
    }
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (code == 0 || code == 23 || code == 24) return {};
        return std::unexpected(rsync_failure(code, base::utf8::lossy(errors)));
    }
    return std::unexpected(rsync_failure(std::nullopt, base::utf8::lossy(errors)));
}

} // namespace install

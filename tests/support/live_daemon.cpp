#include "support/live_daemon.hpp"

#include "support/wait.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace support {

namespace {

using namespace std::chrono_literals;

// Runs in the new namespace (unshare -m --propagation private): builds the
// live root and starts the daemon chrooted into it.
constexpr const char* SETUP = R"(set -e
W=$1 TREE=$2 LAYERS=$3 STANDINS=$4 EXE=$5 PRIVATE_MAPPER=$6
mount -t tmpfs -o mode=0755 tmpfs "$W"
mkdir "$W/u" "$W/w" "$W/r"
R=$W/r
mount -t overlay overlay -o "lowerdir=$LAYERS$TREE,upperdir=$W/u,workdir=$W/w" "$R"
mkdir -p "$R/proc" "$R/sys" "$R/dev" "$R/run"
mount -t proc proc "$R/proc"
mount --rbind /sys "$R/sys"
mount --rbind /dev "$R/dev"
# A machine without device-mapper has no /dev/mapper until something makes
# it. $R/dev is the host's /dev bound in, so the directory lands there, as
# the device-mapper driver would make it; what the daemon's stand-ins put
# in it stays in this namespace's tmpfs.
if [ "$PRIVATE_MAPPER" = yes ]; then
  mkdir -p "$R/dev/mapper"
  mount -t tmpfs tmpfs "$R/dev/mapper"
fi
# A tree of another architecture (the AArch64 one) has no loader for the
# host's programs, the daemon's and those it runs: the host's loader and
# libraries are bound in. Mount points: the system copy stays on one file
# system, so only the empty directories come along.
if [ ! -e "$R/lib64/ld-linux-x86-64.so.2" ]; then
  mkdir -p "$R/lib64" "$R/usr/lib/x86_64-linux-gnu"
  mount --bind /lib64 "$R/lib64"
  mount --bind /usr/lib/x86_64-linux-gnu "$R/usr/lib/x86_64-linux-gnu"
fi
mount -t tmpfs -o mode=0755 tmpfs "$R/run"
mkdir "$R/run/host-root" "$R/run/standins"
mount --rbind / "$R/run/host-root"
mount --bind "$STANDINS" "$R/run/standins"
H=/run/host-root
exec chroot "$R" /usr/bin/env -i \
  PATH=/run/standins:$H/usr/local/sbin:$H/usr/local/bin:$H/usr/sbin:$H/usr/bin:$H/sbin:$H/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LD_LIBRARY_PATH=$H/usr/lib/x86_64-linux-gnu:$H/lib/x86_64-linux-gnu \
  "$H$EXE" daemon
)";

// Runs in the daemon's mount namespace (nsenter), with the host's root.
constexpr const char* ENTER = R"(set -e
R=$1
shift
mountpoint -q "$R/tmp" || mount --bind /tmp "$R/tmp"
H=/run/host-root
exec chroot "$R" /usr/bin/env \
  PATH=/run/standins:$H/usr/local/sbin:$H/usr/local/bin:$H/usr/sbin:$H/usr/bin:$H/sbin:$H/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LD_LIBRARY_PATH=$H/usr/lib/x86_64-linux-gnu:$H/lib/x86_64-linux-gnu \
  "$@"
)";

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

std::expected<std::unique_ptr<LiveDaemon>, std::string>
LiveDaemon::start(const std::string& exe, const std::string& tree, const std::vector<std::string>& layers,
                  const std::string& standins, bool private_mapper) {
    if (::geteuid() != 0) return std::unexpected(std::string("a private mount namespace needs root"));
    std::unique_ptr<LiveDaemon> d(new LiveDaemon());
    char work[] = "/tmp/tavix-live-XXXXXX";
    if (!::mkdtemp(work)) return std::unexpected(std::string("mkdtemp: ") + std::strerror(errno));
    d->work_ = work;
    d->log_path_ = d->work_ + ".log";
    d->standins_ = standins;
    int log_fd = ::open(d->log_path_.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    if (log_fd < 0) return std::unexpected(std::string("open log: ") + std::strerror(errno));
    std::string lower;
    for (const auto& l : layers) lower += l + ":";
    const std::string abs_exe = std::filesystem::absolute(exe).string();
    std::vector<std::string> args{"unshare", "-m", "--propagation", "private", "/bin/sh", "-c", SETUP, "live-daemon",
                                  d->work_, tree, lower, standins, abs_exe, private_mapper ? "yes" : "no"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, log_fd, 1);
    posix_spawn_file_actions_adddup2(&fa, log_fd, 2);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, "unshare", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(log_fd);
    if (rc != 0) return std::unexpected(std::string("spawn unshare: ") + std::strerror(rc));
    d->pid_ = pid;
    if (!d->wait_for_log("listening on", std::chrono::seconds(60))) return std::unexpected("daemon did not start: " + d->log());
    return d;
}

LiveDaemon::~LiveDaemon() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    std::error_code ec;
    // The udevadm stand-in's by-uuid links live in the host's /dev.
    std::istringstream links(read_all(standins_ + "/udev-links"));
    for (std::string link; std::getline(links, link);)
        if (link.starts_with("/dev/disk/by-uuid/") && std::filesystem::is_symlink(link, ec))
            std::filesystem::remove(link, ec);
    std::filesystem::remove(standins_ + "/udev-links", ec);
    // The tmpfs was only mounted in the daemon's namespace: an empty directory here.
    std::filesystem::remove(work_, ec);
    std::filesystem::remove(log_path_, ec);
}

platform::SystemPaths LiveDaemon::client_paths() const {
    platform::SystemPaths p;
    p.run_dir = root() + "/run/tavix-installer";
    return p;
}

std::vector<std::string> LiveDaemon::enter_command(const std::vector<std::string>& argv) const {
    std::vector<std::string> cmd{"nsenter", "--target", std::to_string(pid_), "--mount", "--", "/bin/sh", "-c",
                                 ENTER, "live-enter", work_ + "/r"};
    cmd.insert(cmd.end(), argv.begin(), argv.end());
    return cmd;
}

std::string LiveDaemon::mounts() const { return read_all("/proc/" + std::to_string(pid_) + "/mounts"); }

std::string LiveDaemon::log() const { return read_all(log_path_); }

bool LiveDaemon::wait_for_log(const std::string& text, std::chrono::milliseconds limit) const {
    bool gone = false;
    const bool seen = support::wait_until(
        [&] {
            if (log().find(text) != std::string::npos) return true;
            int status;
            gone = ::waitpid(pid_, &status, WNOHANG) == pid_;
            return gone;
        },
        limit);
    if (gone) reaped_ = true;
    return seen && !gone;
}

} // namespace support

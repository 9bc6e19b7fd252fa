#pragma once
// The real daemon running on a live system of the test's making, as it runs
// on an installer medium: inside a private mount namespace whose root is an
// overlay of a Debian root tree (read-only lower layers, a tmpfs upper one),
// so that what the daemon copies, probes and measures as "/" is that tree.
//
// The host stays reachable inside at "/run/host-root" (never copied: "/run"
// is excluded from the system copy): the daemon's executable and the host's
// programs run from there, ahead of the tree's own on PATH. Stand-ins for
// programs that cannot work on this machine go into a directory mounted at
// "/run/standins", first on PATH.
//
// The daemon's view of the file system is reached through /proc/PID/root.

#include "platform/system_paths.hpp"

#include "support/wait.hpp"

#include <chrono>
#include <expected>
#include <memory>
#include <string>
#include <vector>

namespace support {

class LiveDaemon {
public:
    // `layers`: lower layers over the tree, topmost first (the test's own
    // additions: probe files, markers, stand-ins inside the system).
    // `private_mapper`: a tmpfs of the namespace's own over /dev/mapper, for
    // the cryptsetup stand-in's links; off where device-mapper really works,
    // so that its nodes are the kernel's and show through every /dev bound
    // from the host's.
    static std::expected<std::unique_ptr<LiveDaemon>, std::string>
    start(const std::string& exe, const std::string& tree, const std::vector<std::string>& layers,
          const std::string& standins, bool private_mapper = true);
    // Kills the daemon; its namespace and mounts go with it, and the
    // /dev/disk/by-uuid links the udevadm stand-in made are removed.
    ~LiveDaemon();
    LiveDaemon(const LiveDaemon&) = delete;
    LiveDaemon& operator=(const LiveDaemon&) = delete;

    pid_t pid() const { return pid_; }
    std::string root() const { return "/proc/" + std::to_string(pid_) + "/root"; }
    // Paths for a client in the test process: the daemon's socket.
    platform::SystemPaths client_paths() const;
    // The command line that runs `argv` beside the daemon: in its mount
    // namespace, chrooted into the same live root, with the same PATH and
    // the host's libraries, keeping the caller's other environment. argv[0]
    // is a path inside the live root (the host's programs are under
    // "/run/host-root"). The host's /tmp is bound over the live root's (the
    // system copy leaves /tmp out), so sockets the caller made there (a
    // compositor's, a session bus's) are reached at the same paths.
    std::vector<std::string> enter_command(const std::vector<std::string>& argv) const;
    // The daemon's mount table.
    std::string mounts() const;
    std::string log() const;
    bool wait_for_log(const std::string& text, std::chrono::milliseconds limit = WAIT_LIMIT) const;

private:
    LiveDaemon() = default;
    pid_t pid_ = -1;
    mutable bool reaped_ = false;
    std::string work_, log_path_, standins_;
};

} // namespace support

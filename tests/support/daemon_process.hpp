#pragma once
// The real daemon (`tavix-installer daemon`) as a separate process inside a
// private mount namespace: fresh tmpfs over /run and /var/lib, so its socket
// and marker files never touch the host's. The test reaches them through
// /proc/<pid>/root.

#include "platform/system_paths.hpp"
#include "support/child_process.hpp"

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

namespace support {

class DaemonProcess : public ChildProcess {
public:
    // Runs before the daemon starts, with the namespace's root directory
    // (as seen from the test) as argument: place stale files, markers...
    using Prepare = std::function<void(const std::string& root)>;

    // Starts `exe daemon`; with `wait_listening`, returns once it listens.
    static std::expected<std::unique_ptr<DaemonProcess>, std::string>
    start(const std::string& exe, const Prepare& prepare = {}, bool wait_listening = true);

    ~DaemonProcess(); // terminates the daemon
    // "/proc/<pid>/root": the daemon's view of the file system.
    const std::string& root() const { return root_; }
    // The daemon's paths as the test reaches them.
    platform::SystemPaths paths() const;
    std::string socket_path() const { return paths().daemon_socket(); }
    std::string marker(const std::string& name) const { return paths().marker(name); }

    // Waits for the process to end; its wait status, or -1 on time-out.
    int wait_exit(std::chrono::milliseconds limit = WAIT_LIMIT) { return wait_exit_within(limit); }

private:
    DaemonProcess() = default;
    std::string root_;
};

// A raw peer: connects to `socket`, writes `bytes`, optionally shuts down
// its sending side, and reads until the daemon closes the connection (or
// `limit` passes). `closed` tells whether the end was seen.
struct Exchange {
    std::size_t sent = 0; // bytes the daemon took before a write failed
    std::string received;
    bool closed = false;
    std::string error; // connect failure
};
Exchange exchange(const std::string& socket, const std::string& bytes, bool shutdown_write = false,
                  std::chrono::milliseconds limit = std::chrono::seconds(15));

// Connects a Unix stream socket; -1 on failure.
int connect_unix(const std::string& path);

} // namespace support

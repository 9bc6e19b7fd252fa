#pragma once
// The privileged half of the installer: serves the wizard's requests on the
// daemon socket, one request per connection, each on its own thread. Which
// requests it accepts is decided by the marker files, never by the caller.
//
// The namespace is not called `daemon`: glibc declares ::daemon() in
// <unistd.h>, and a namespace of that name cannot live beside it.

#include "install/engine.hpp"
#include "ipc/protocol.hpp"

#include <atomic>
#include <chrono>
#include <expected>
#include <functional>
#include <string>

namespace daemon_server {

// True while one accepted install is being reported (or a disk batch runs):
// a second one is refused with "busy".
inline std::atomic<bool> DAEMON_BUSY{false};

// How long a new connection may take to send its request line. The work
// that follows the line is never bounded.
inline constexpr std::chrono::seconds REQUEST_LINE_TIMEOUT{30};

// After a refused request line, what the peer still sends is read and
// dropped up to these bounds before the connection closes.
inline constexpr std::size_t REFUSED_DRAIN_BYTES = 16u << 20;
inline constexpr std::chrono::seconds REFUSED_DRAIN_TIME{5};

// How the daemon starts an install; tests hand in another engine.
using InstallStarter = std::function<install::InstallHandle(ipc::InstallPlan)>;

// Creates the socket and serves it for as long as the process lives.
// Returns only when the socket cannot be set up, with the reason
// ("mkdir ...", "bind ...", "chmod ...").
[[nodiscard]] std::expected<void, std::string> run();

// Serves one accepted connection (taken over and closed).
void handle_connection(int fd, const InstallStarter& start = install::start);

// Runs and reports one install on the connection.
void handle_install(int fd, ipc::InstallPlan plan, const InstallStarter& start = install::start);

// Leaves the configure scenario: removes "configure-pending" and writes
// "configured".
void finish_configure(int fd);

// Writes one event line; logs and returns false when it cannot.
bool send_event(int fd, const ipc::Event& event);

std::string not_pending();

} // namespace daemon_server

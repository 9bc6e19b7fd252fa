#pragma once
// The wizard's side of the daemon protocol (the wire itself is ipc/). Every operation opens its own
// connection, sends one request and (except cancelling) reads events until
// the answer. Where the daemon cannot be reached, some operations do the
// work in this process instead.

#include "install/engine.hpp"
#include "ipc/protocol.hpp"

#include <expected>
#include <string>
#include <vector>

namespace client {

// Starts an install and returns its handle at once. Test plans always run
// in this process; a real plan goes to the daemon (a reader thread feeds the
// handle), or runs here when the daemon is unreachable and we are root, or
// fails with "no-daemon".
install::InstallHandle start_install(ipc::InstallPlan plan);

// Sets this process's cancel flag and asks the daemon to cancel, without
// waiting for any answer.
void cancel_install();

// Applies a batch of partition-table operations; the failure texts, empty on
// success. "no-daemon" when the daemon is unreachable and we are not root.
std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops);

// Applies a language to the running system, in this process when the daemon
// is unreachable.
[[nodiscard]] std::expected<void, std::string> apply_locale(const std::string& locale);

// Stages the account for the next boot; only the daemon can.
[[nodiscard]] std::expected<void, std::string> stage_account(const std::string& username, const std::string& hostname,
                                               const std::string& password, bool encrypt);

// Sends one request and waits for its Done or Failed.
[[nodiscard]] std::expected<void, std::string> request(const ipc::Request& req);

// Whether this process runs as root (owner of /proc/self).
bool is_root();

// The reader thread of a remote install: runs the exchange and stores its
// error in the handle unless the handle has already ended.
void remote_install_thread(int fd, ipc::InstallPlan plan, install::InstallHandle handle);

// Sends the install on the connection (taken over) and copies the daemon's
// events into the handle until the answer.
[[nodiscard]] std::expected<void, std::string> run_remote_install(int fd, const ipc::InstallPlan& plan,
                                                    const install::InstallHandle& handle);

} // namespace client

#pragma once
// Every fixed system location the installer touches, in one record.
//
// Production code uses the defaults. Tests build their own record over
// temporary directories (or run the real binary inside a private mount
// namespace), so nothing here is ever read from the environment.

#include <string>

namespace platform {

struct SystemPaths {
    std::string run_dir = "/run/tavix-installer";        // daemon socket
    std::string state_dir = "/var/lib/tavix-installer";  // marker files
    std::string target_root = "/run/tavix-install/root"; // mount point of the target during an install
    std::string host_root = "/";                         // the running system (copy source, df, boot probes)
    std::string sys = "/sys";
    std::string proc = "/proc";
    std::string dev = "/dev";
    std::string default_user_home = "/home/vessara"; // present: the image already has its user

    std::string daemon_socket() const { return run_dir + "/daemon.sock"; }
    // A marker file such as "install-pending" under the state directory.
    std::string marker(const std::string& name) const { return state_dir + "/" + name; }
};

// The record in force for this process. Only tests replace it.
const SystemPaths& paths();
void set_paths(SystemPaths p);

} // namespace platform

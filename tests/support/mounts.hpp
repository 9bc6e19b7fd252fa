#pragma once
// Mount namespaces and mount points for tests that mount file systems.

#include <expected>
#include <string>

namespace support {

// Moves the calling process into a private mount namespace whose mounts do
// not propagate to the host, so a test's mounts vanish with it. Must run while
// the process has a single thread.
std::expected<void, std::string> enter_private_mounts();

// Whether `path` is a mount point in this process's namespace.
bool is_mount_point(const std::string& path);

} // namespace support

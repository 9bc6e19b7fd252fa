#pragma once
// The real install: partition, format, copy, make bootable, configure.

#include "install/engine.hpp"
#include "install/mounts.hpp"
#include "install/preflight.hpp"  // NEED_EXTRA, shared with the plan check
#include "ipc/protocol.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

namespace install {

// Carries out a checked plan on the engine thread. Progress goes through
// set_progress; everything mounted is recorded in `mounts` (empty again
// when the run succeeds).
[[nodiscard]] std::expected<void, std::string> run_install(const ipc::InstallPlan& plan, const InstallHandle& handle,
                                             MountList& mounts);

// The room check of the prepared root: fails when `root_bytes` is known and
// below used + used / 10 + 1 GiB.
[[nodiscard]] std::expected<void, std::string> check_root_size(const std::string& root_node,
                                                 std::optional<std::uint64_t> root_bytes,
                                                 std::optional<std::uint64_t> used);

// Size of a block device in bytes from sysfs ("/sys/class/block/NAME/size").
std::optional<std::uint64_t> block_device_bytes(const std::string& node);

} // namespace install

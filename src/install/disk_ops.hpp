#pragma once

#include "ipc/protocol.hpp"

#include <string>
#include <vector>

namespace install {

// Applies a batch of partition-table operations; returns the failure texts
// of the operations that failed, in order (empty: all succeeded).
std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops);

} // namespace install

#pragma once
// Telling the kernel about a partition table that was just written. This
// kernel has no partition parsers, so its partition nodes follow a table only
// through partx.

#include <expected>
#include <string>

namespace disks {

// Makes the kernel's partitions of `disk` match its table: updates the ones
// that changed, drops the ones the table no longer has (busy ones stay) and
// adds the new ones. Fails with partx's text when the table cannot be read;
// the disk then keeps no partition nodes that are not in use.
[[nodiscard]] std::expected<void, std::string> reread_partitions(const std::string& disk);

} // namespace disks

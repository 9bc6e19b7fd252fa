#pragma once
// Changes to the partition table of a disk in place. Each call opens the
// disk, reads its table, edits it in memory and writes it back; asking the
// kernel to re-read the table is the caller's business.

#include "disks/table.hpp"

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace disks {

[[nodiscard]] std::expected<void, std::string> wipe(const std::string& disk);
[[nodiscard]] std::expected<std::uint32_t, std::string> create_partition(const std::string& disk, std::uint64_t start, std::uint64_t size);
[[nodiscard]] std::expected<void, std::string> delete_partitions(const std::string& disk, const std::vector<std::uint32_t>& numbers);
[[nodiscard]] std::expected<void, std::string> resize_partition(const std::string& disk, std::uint32_t n, std::uint64_t new_size);

// Nanoseconds since the UNIX epoch (0 before it); strictly increasing within
// the process, so two GUIDs taken from it never repeat.
unsigned __int128 now_nanos();

// The 16 little-endian bytes of now_nanos(), used as raw GUID bytes.
Guid clock_guid();

} // namespace disks

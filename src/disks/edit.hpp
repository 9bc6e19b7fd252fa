#pragma once
// Changes to the partition table of a disk in place. Each call opens the
// disk, reads its table, edits it in memory and writes it back; asking the
// kernel to re-read the table is the caller's business.

#include "disks/disks.hpp"
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

// The same edits on a disk the caller has already opened (and checked, see
// open_whole_disk); `disk` names it in the texts and for its sector size.
[[nodiscard]] std::expected<void, std::string> wipe(const File& file, const std::string& disk);
[[nodiscard]] std::expected<std::uint32_t, std::string> create_partition(const File& file, const std::string& disk,
                                                           std::uint64_t start, std::uint64_t size);
[[nodiscard]] std::expected<void, std::string> delete_partitions(const File& file, const std::string& disk,
                                                   const std::vector<std::uint32_t>& numbers);
[[nodiscard]] std::expected<void, std::string> resize_partition(const File& file, const std::string& disk, std::uint32_t n,
                                                  std::uint64_t new_size);

// A byte range to create: start and size.
struct NewPartition {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
};

// Deletes `numbers` and then creates `ranges` in order, all in memory, and
// writes the table once: when any step is refused, nothing is written.
// Returns the numbers of the new partitions, in the order of `ranges`.
[[nodiscard]] std::expected<std::vector<std::uint32_t>, std::string> replace_partitions(const File& file, const std::string& disk,
                                                                          const std::vector<std::uint32_t>& numbers,
                                                                          const std::vector<NewPartition>& ranges);

// Nanoseconds since the UNIX epoch (0 before it); strictly increasing within
// the process, so two GUIDs taken from it never repeat.
unsigned __int128 now_nanos();

// The 16 little-endian bytes of now_nanos(), used as raw GUID bytes.
Guid clock_guid();

} // namespace disks

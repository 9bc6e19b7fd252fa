#pragma once
// The machine's block devices with their partitions and free space, and the
// small disk queries the edits, the install engine and the first-boot step
// share. Everything here only reads; sysfs, /proc and /dev are reached
// through platform::paths().

#include <base/fd.hpp>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace disks {

enum class DeviceKind : std::uint8_t { NVMe, IDE, SATA, SCSI, USB, MMC, Virtio, Loop, MD, DM, RAM, PMEM, Other };

struct Partition {
    std::string path;
    std::optional<std::string> name;
    std::optional<std::string> fs;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    std::uint32_t number = 0;
    bool free = false;
    bool logical = false;

    bool operator==(const Partition&) const = default;
};

struct Disk {
    std::string path;
    std::string label;
    std::vector<Partition> partitions;
    std::optional<std::string> table; // "gpt", "msdos", or absent
    std::uint64_t size_bytes = 0;
    std::uint64_t sector_size = 512;
    bool removable = false;
    DeviceKind kind = DeviceKind::Other;
    // One past the last byte a partition may reach: a GPT keeps its backup
    // table behind it. Absent: the disk's end.
    std::optional<std::uint64_t> usable_end;
    // An MBR's extended container (start, size in bytes): its first sector
    // heads the chain of logical partitions, which no primary may cover.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> extended;
};

// Free gaps smaller than or equal to this are not shown.
inline constexpr std::uint64_t MIN_GAP_BYTES = 2u << 20;

std::vector<Disk> enumerate();

// The table step of `enumerate`, on an open device (or image) of the disk
// at `disk_path`: its GPT, else its MBR read with `sector_size`, as the
// partitions and free gaps it describes, file-system types not probed.
// Nothing when neither table is there. The bytes come from whatever was
// plugged in: a hostile table gives an error or a layout, never more.
struct TableLayout {
    std::string table; // "gpt" or "msdos"
    std::vector<Partition> partitions;
    std::optional<std::uint64_t> usable_end;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> extended;
};
std::optional<TableLayout> read_table_layout(int fd, const std::string& disk_path, std::uint64_t sector_size);

std::optional<std::string> read_attr(const std::string& dir, const std::string& name);
std::uint32_t logical_block_size(const std::string& disk);
std::string partition_path(const std::string& disk, std::uint32_t n);
std::optional<std::string> blkid_type(const std::string& node);
DeviceKind device_kind(const std::string& sysfs_name);

// An open descriptor that closes itself.
using File = base::Fd;

[[nodiscard]] std::expected<File, std::string> open_rw(const std::string& disk);

// Opens `disk` for reading and writing only when the path itself (not a
// symbolic link) is a block device that is a whole disk, not a partition.
// The checks are made on the opened descriptor, so the name cannot be
// swapped for something else between the check and the writes: every write
// of a request goes through the descriptor returned here.
[[nodiscard]] std::expected<File, std::string> open_whole_disk(const std::string& disk);

std::optional<std::uint32_t> mbr_free_primaries(const std::string& disk);
std::optional<std::pair<std::uint64_t, std::uint64_t>> extended_range(const std::string& disk);
std::optional<std::pair<std::uint64_t, std::uint64_t>> partition_range(const std::string& disk, std::uint32_t n);
// The same, read through an open descriptor of `disk`.
std::optional<std::pair<std::uint64_t, std::uint64_t>> partition_range(const File& file, const std::string& disk,
                                                                       std::uint32_t n);

// Sorts partitions by start (stable) and inserts the free gaps over 2 MiB
// between them, within [lo, hi) bytes.
void insert_gaps(std::vector<Partition>& parts, const std::string& disk_path, std::uint64_t lo, std::uint64_t hi);

// Unsigned decimal with an optional leading "+", nothing else.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

} // namespace disks

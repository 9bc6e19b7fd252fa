#pragma once
// Reader and writer for GPT and MBR partition tables on an open device.
//
// Everything works on a file descriptor with pread/pwrite, so the same code
// serves block devices and plain image files. Sector numbers are in units of
// the table's own sector size; nothing here converts to bytes on its own.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace disks {

using Guid = std::array<std::uint8_t, 16>;

// "0FC63DAF-8483-4772-8E79-3D69D8477DE4" in the GPT's on-disk byte order
// (first three groups little-endian). Nothing on malformed text.
std::optional<Guid> parse_guid(std::string_view text);
std::string format_guid(const Guid& g);

inline constexpr std::string_view LINUX_DATA_GUID = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
inline constexpr std::string_view EFI_SYSTEM_GUID = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

// Size of the device (or file) behind fd in bytes.
[[nodiscard]] std::expected<std::uint64_t, std::string> device_bytes(int fd);

// ---------------------------------------------------------------- GPT

struct GptEntry {
    Guid type{};   // all zero: the slot is empty
    Guid unique{};
    std::uint64_t first_lba = 0;
    std::uint64_t last_lba = 0;
    std::uint64_t attributes = 0;
    std::array<std::uint8_t, 72> raw_name{}; // UTF-16LE, NUL padded
    std::vector<std::uint8_t> tail;          // bytes past 128 in larger entries, kept as read

    bool used() const;
    std::string name() const;            // UTF-8, up to the first NUL
    void set_name(std::string_view utf8); // cut to 36 UTF-16 units
};

struct Gpt {
    std::uint64_t sector_size = 512;
    Guid disk_guid{};
    std::uint64_t first_usable = 0;
    std::uint64_t last_usable = 0;
    std::uint64_t entries_lba = 2;  // primary entry array
    std::uint64_t backup_lba = 0;   // backup header, the device's last sector
    std::uint32_t entry_size = 128;
    std::vector<GptEntry> entries;  // every slot, used or not

    std::uint64_t entry_array_sectors() const;
    std::uint64_t backup_entries_lba() const { return backup_lba - entry_array_sectors(); }

    // A new empty table of 128 slots filling a device of device_bytes.
    [[nodiscard]] static std::expected<Gpt, std::string> create(std::uint64_t device_bytes, std::uint64_t sector_size,
                                                  const Guid& disk_guid);
};

struct GptError {
    bool no_signature = false; // nothing that looks like a GPT at all
    std::string text;
};

// Reads the GPT for one sector size. A primary copy that fails its checksums
// is replaced by a sound backup. When the device is larger than the table
// says (an image written onto a bigger disk), the backup is placed at the
// device's real end and the usable area extended up to it, so that a write
// repairs the table; a device smaller than the table is an error.
[[nodiscard]] std::expected<Gpt, GptError> read_gpt(int fd, std::uint64_t sector_size);

// The GPT of a device: 512-byte sectors first, then 4096 only when no
// signature was found at 512.
[[nodiscard]] std::expected<Gpt, GptError> find_gpt(int fd);

// Writes primary header and entry array, then backup entry array and header.
[[nodiscard]] std::expected<void, std::string> write_gpt(int fd, const Gpt& gpt);

// A protective MBR covering the device (one 0xEE slot from sector 1).
[[nodiscard]] std::expected<void, std::string> write_protective_mbr(int fd, std::uint64_t sector_size);

// ---------------------------------------------------------------- MBR

struct MbrEntry {
    std::uint8_t boot = 0;
    std::array<std::uint8_t, 3> chs_first{};
    std::uint8_t type = 0;
    std::array<std::uint8_t, 3> chs_last{};
    std::uint32_t start = 0; // sectors; for a logical: relative to its EBR
    std::uint32_t count = 0;
};

struct MbrLogical {
    MbrEntry entry;
    std::uint64_t ebr = 0; // sector of the extended boot record describing it

    std::uint64_t start() const { return ebr + entry.start; }
    std::uint64_t last() const { return start() + entry.count - 1; }
};

bool is_extended_type(std::uint8_t type);

struct Mbr {
    std::uint64_t sector_size = 512;
    std::uint64_t disk_sectors = 0;
    std::array<std::uint8_t, 512> sector0{}; // boot code and disk signature kept on write
    std::array<MbrEntry, 4> primary{};
    std::vector<MbrLogical> logicals;        // chain order: numbers 5, 6, ...

    // First primary slot (0-based) holding an extended partition.
    std::optional<std::size_t> extended_slot() const;

    // Sector count that free regions start on: the largest power of two up
    // to 1 MiB worth of sectors that divides the start of every partition
    // (container and logicals included); 1 MiB worth on an empty table.
    std::uint64_t alignment() const;

    // Free regions as (first sector, sector count), outside and then inside
    // the extended partition.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> free_regions() const;

    // Appends a logical partition at the end of the chain. start and count
    // are absolute sectors; the EBR goes into the free sector before start
    // (the container's first sector for the first logical). Without such a
    // sector the partition is refused rather than moved.
    [[nodiscard]] std::expected<void, std::string> push_logical(std::uint8_t type, std::uint64_t start, std::uint64_t count);

    // Removes logical partition `number` (5 or more); later ones move down.
    bool remove_logical(std::uint32_t number);
};

// Reads the MBR and the extended chain. Refuses a sector without the boot
// signature, with boot flags other than 0x00/0x80, or a protective MBR of a
// GPT disk.
[[nodiscard]] std::expected<Mbr, std::string> read_mbr(int fd, std::uint64_t sector_size);

// Writes sector 0 and every EBR of the chain.
[[nodiscard]] std::expected<void, std::string> write_mbr(int fd, const Mbr& mbr);

} // namespace disks

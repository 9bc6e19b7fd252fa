#pragma once
// The disks as the disk page shows them: labels in the current language, an
// icon class, and for each partition the largest size it may grow to. A
// snapshot, rebuilt only when the wizard asks.

#include "disks/disks.hpp"
#include "install/preflight.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace app {

// The install target. Every choice names its disk by path, never by row, so
// it keeps its meaning when the rows are rebuilt.
using TargetSelection = install::TargetSelection;

// Index into the icon names below, in this order.
enum class DiskIcon : std::uint8_t { HardDisk, HardDrive, Chip, Usb, SdCard };
inline constexpr const char* DISK_ICON_NAMES[] = {"hardware/harddisk", "hardware/harddrive", "hardware/chip",
                                                  "hardware/usb", "hardware/sdcard"};

struct PartitionRow {
    std::string label;
    std::string path;
    std::optional<std::string> fs;
    std::uint64_t size = 0;
    std::uint64_t max_size = 0;
    std::uint64_t start = 0;
    std::uint32_t number = 0; // 0 for a free gap
    bool free = false;
    bool logical = false;
};

struct DiskRow {
    std::string label;
    std::string path;
    std::vector<PartitionRow> partitions;
    std::optional<std::string> table;
    std::uint64_t size = 0;
    DiskIcon icon = DiskIcon::HardDisk;
};

std::vector<DiskRow> disk_rows(const std::vector<disks::Disk>& disks);
std::string disk_label(const disks::Disk& disk);
DiskIcon disk_icon(const disks::Disk& disk);
// The row of entry `i` of `disk`'s partition list.
PartitionRow partition_row_label(const disks::Disk& disk, std::size_t i);

TargetSelection from_row(const std::string& disk_path, const PartitionRow& row);
bool selection_still_present(const TargetSelection& target, const std::vector<DiskRow>& rows);
bool is_none(const TargetSelection& target);
// Whether the target may be kept after the rows went from `before` to
// `after` through a change that can renumber partitions: a partition target
// only while the partition of that number still has its start and size.
bool target_survives(const TargetSelection& target, const std::vector<DiskRow>& before,
                     const std::vector<DiskRow>& after);

} // namespace app

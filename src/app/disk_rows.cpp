#include "app/disk_rows.hpp"

#include "i18n/translate.hpp"

#include <base/utf8.hpp>

#include <algorithm>
#include <cstdint>

namespace app {

namespace {

const char* kind_text(disks::DeviceKind k) {
    using K = disks::DeviceKind;
    switch (k) {
    case K::NVMe: return "NVMe";
    case K::IDE: return "IDE";
    case K::SATA: return "SATA";
    case K::SCSI: return "SCSI";
    case K::USB: return "USB";
    case K::MMC: return "SD/MMC";
    case K::Virtio: return "VirtIO";
    case K::Loop: return "Loop";
    case K::MD: return "MD RAID";
    case K::DM: return "Device Mapper";
    case K::RAM: return "RAM";
    case K::PMEM: return "PMEM";
    case K::Other: return "Disk";
    }
    return "Disk";
}

} // namespace

std::string disk_label(const disks::Disk& d) {
    std::string model(base::utf8::trim(d.label));
    if (!model.empty()) return std::string(kind_text(d.kind)) + " " + model;
    if (d.kind == disks::DeviceKind::Other) return d.path;
    return std::string(kind_text(d.kind)) + " (" + d.path + ")";
}

DiskIcon disk_icon(const disks::Disk& d) {
    using K = disks::DeviceKind;
    switch (d.kind) {
    case K::NVMe: return DiskIcon::Chip;
    case K::IDE:
    case K::Virtio: return DiskIcon::HardDisk;
    case K::USB: return DiskIcon::Usb;
    case K::MMC: return d.removable ? DiskIcon::SdCard : DiskIcon::Chip;
    default: return d.removable ? DiskIcon::HardDrive : DiskIcon::HardDisk;
    }
}

PartitionRow partition_row_label(const disks::Disk& d, std::size_t i) {
    const disks::Partition& p = d.partitions[i];
    // A GPT's backup table sits behind its last usable sector.
    std::uint64_t limit = d.usable_end ? std::min(*d.usable_end, d.size_bytes) : d.size_bytes;
    for (std::size_t j = i + 1; j < d.partitions.size(); ++j)
        if (!d.partitions[j].free) {
            limit = std::min(limit, d.partitions[j].start);
            break;
        }
    // The extended container is never listed, yet its first sector heads
    // the logical chain: a primary in front of it stops there, a logical
    // stays inside it.
    if (d.extended && !p.free) {
        const auto [ext_start, ext_size] = *d.extended;
        if (!p.logical && p.start < ext_start) limit = std::min(limit, ext_start);
        if (p.logical && ext_size <= UINT64_MAX - ext_start) limit = std::min(limit, ext_start + ext_size);
    }
    PartitionRow row;
    if (p.free) {
        row.label = i18n::translate("disk.free_space");
    } else {
        const std::string num = std::to_string(p.number);
        row.label = i18n::translate_with("disk.partition", {{"num", num}});
        if (p.fs) row.label += " (" + *p.fs + ")";
    }
    row.path = p.path;
    row.fs = p.fs;
    row.size = p.size;
    row.max_size = limit > p.start ? limit - p.start : 0;
    row.start = p.start;
    row.number = p.number;
    row.free = p.free;
    row.logical = p.logical;
    return row;
}

std::vector<DiskRow> disk_rows(const std::vector<disks::Disk>& list) {
    std::vector<DiskRow> rows;
    rows.reserve(list.size());
    for (const disks::Disk& d : list) {
        DiskRow r;
        r.label = disk_label(d);
        r.path = d.path;
        for (std::size_t i = 0; i < d.partitions.size(); ++i) r.partitions.push_back(partition_row_label(d, i));
        r.table = d.table;
        r.size = d.size_bytes;
        r.icon = disk_icon(d);
        rows.push_back(std::move(r));
    }
    return rows;
}

TargetSelection from_row(const std::string& disk_path, const PartitionRow& row) {
    if (row.free) return {TargetSelection::FreeSpace{row.start, disk_path}};
    return {TargetSelection::Partition{row.number, disk_path}};
}

bool is_none(const TargetSelection& t) { return std::holds_alternative<TargetSelection::None>(t.kind); }

bool selection_still_present(const TargetSelection& t, const std::vector<DiskRow>& rows) {
    const std::string* disk = nullptr;
    if (auto* w = std::get_if<TargetSelection::WholeDisk>(&t.kind)) disk = &w->disk;
    else if (auto* p = std::get_if<TargetSelection::Partition>(&t.kind)) disk = &p->disk;
    else if (auto* f = std::get_if<TargetSelection::FreeSpace>(&t.kind)) disk = &f->disk;
    if (disk == nullptr) return false;
    for (const DiskRow& r : rows) {
        if (!install::same_path(r.path, *disk)) continue;
        if (std::holds_alternative<TargetSelection::WholeDisk>(t.kind)) return true;
        for (const PartitionRow& p : r.partitions) {
            if (auto* f = std::get_if<TargetSelection::FreeSpace>(&t.kind)) {
                if (p.free && p.start == f->start) return true;
            } else if (auto* n = std::get_if<TargetSelection::Partition>(&t.kind)) {
                if (!p.free && p.number == n->number) return true;
            }
        }
        return false;
    }
    return false;
}

namespace {

const std::string* target_disk(const TargetSelection& t) {
    if (auto* w = std::get_if<TargetSelection::WholeDisk>(&t.kind)) return &w->disk;
    if (auto* p = std::get_if<TargetSelection::Partition>(&t.kind)) return &p->disk;
    if (auto* f = std::get_if<TargetSelection::FreeSpace>(&t.kind)) return &f->disk;
    return nullptr;
}

const PartitionRow* numbered(const std::vector<DiskRow>& rows, const std::string& disk, std::uint32_t number) {
    for (const DiskRow& r : rows) {
        if (!install::same_path(r.path, disk)) continue;
        for (const PartitionRow& p : r.partitions)
            if (!p.free && p.number == number) return &p;
        return nullptr;
    }
    return nullptr;
}

} // namespace

bool target_survives(const TargetSelection& t, const std::vector<DiskRow>& before, const std::vector<DiskRow>& after) {
    if (target_disk(t) == nullptr || !selection_still_present(t, after)) return false;
    const auto* part = std::get_if<TargetSelection::Partition>(&t.kind);
    if (part == nullptr) return true;
    // Deleting a logical partition renumbers those after it: the same number
    // may now name another partition, which an install would overwrite.
    const PartitionRow* was = numbered(before, part->disk, part->number);
    const PartitionRow* now = numbered(after, part->disk, part->number);
    return was != nullptr && now != nullptr && was->start == now->start && was->size == now->size;
}

} // namespace app

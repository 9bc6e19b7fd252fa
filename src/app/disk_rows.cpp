#include "app/disk_rows.hpp"

#include "i18n/translate.hpp"

#include <base/utf8.hpp>

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
    std::uint64_t limit = d.size_bytes;
    for (std::size_t j = i + 1; j < d.partitions.size(); ++j)
        if (!d.partitions[j].free) {
            limit = d.partitions[j].start;
            break;
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

} // namespace app

// The wizard's staged partition-table operations, applied as root.
//
// The daemon's socket is open to every local user, so each request's paths
// are checked before anything is written: a disk must be a whole block
// device, opened once and written only through that descriptor, and a
// resized partition must really be partition `number` of that disk, of the
// size the request believes it has.

#include "install/disk_ops.hpp"

#include "disks/disks.hpp"
#include "disks/edit.hpp"
#include "disks/kernel.hpp"
#include "fs/fs.hpp"
#include "install/mounts.hpp"
#include "platform/system_paths.hpp"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace install {

namespace {

namespace stdfs = std::filesystem;

bool is_block_device(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

std::string dev_text(dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); }

// The kernel's view of the node itself (never of a link to it): its sysfs
// entry holds the partition number and sits below the opened disk's.
std::expected<void, std::string> check_partition(const disks::File& file, const std::string& disk,
                                                 const std::string& part, std::uint32_t n) {
    const std::string refused = part + " is not partition " + std::to_string(n) + " of " + disk;
    struct stat disk_st {}, part_st {};
    if (::fstat(file.get(), &disk_st) != 0 || ::lstat(part.c_str(), &part_st) != 0 || !S_ISBLK(part_st.st_mode))
        return std::unexpected(refused);
    std::error_code ec;
    const stdfs::path dir = stdfs::canonical(platform::paths().sys + "/dev/block/" + dev_text(part_st.st_rdev), ec);
    if (ec) return std::unexpected(refused);
    if (disks::read_attr(dir.string(), "partition") != std::optional<std::string>(std::to_string(n)) ||
        disks::read_attr(dir.parent_path().string(), "dev") != std::optional<std::string>(dev_text(disk_st.st_rdev)))
        return std::unexpected(refused);
    return {};
}

bool shrinkable(fs::FsKind k) { return k == fs::FsKind::Ext || k == fs::FsKind::Ntfs || k == fs::FsKind::Fat; }

void apply_resize(const ipc::RemoteDiskOp::Resize& op, std::vector<std::string>& errors) {
    const std::string disk = op.disk.string(), part = op.part.string();
    auto file = disks::open_whole_disk(disk);
    if (!file) {
        errors.push_back("resize partition: " + file.error());
        return;
    }
    if (auto r = check_partition(*file, disk, part, op.number); !r) {
        errors.push_back("resize partition: " + r.error());
        return;
    }
    // Grow or shrink is decided by the table, never by what a possibly
    // stale request believes: a "grow" below the real size would cut the
    // partition under its file system.
    auto range = disks::partition_range(*file, disk, op.number);
    if (!range) {
        errors.push_back("resize partition: partition " + std::to_string(op.number) + " not found on " + disk);
        return;
    }
    const std::uint64_t current = range->second;
    if (current != op.current_bytes) {
        errors.push_back("resize partition: " + part + " has " + std::to_string(current) + " bytes, not " +
                         std::to_string(op.current_bytes) + " as the request says; list the disks again");
        return;
    }
    std::optional<std::string> type = op.fs;
    if (type && type->empty()) type.reset();
    if (op.new_bytes < current) {
        // Shrinking without a file-system step is only safe when there is
        // no file system at all, so ask the device when the request is silent.
        if (!type) type = disks::blkid_type(part);
        const fs::FsKind kind = fs::FsKind::from_name(type);
        if (type && !shrinkable(kind)) {
            const std::string what = kind == fs::FsKind::Unknown ? *type : std::string(kind.name());
            errors.push_back("FS shrink unsupported for " + what + " on " + part);
            return;
        }
        if (type) {
            if (auto r = fs::shrink(part, kind, op.new_bytes); !r) {
                errors.push_back("FS shrink " + part + ": " + r.error());
                return;
            }
        }
        if (auto r = disks::resize_partition(*file, disk, op.number, op.new_bytes); !r)
            errors.push_back("resize partition: " + r.error());
    } else if (op.new_bytes > current) {
        const fs::FsKind kind = fs::FsKind::from_name(type);
        if (auto r = disks::resize_partition(*file, disk, op.number, op.new_bytes); !r) {
            errors.push_back("resize partition: " + r.error());
            return;
        }
        if (!shrinkable(kind)) return;
        // Without the kernel seeing the new size, resize2fs finds nothing to
        // do and the grow would pass as done.
        if (auto r = disks::reread_partitions(disk); !r) {
            errors.push_back("FS grow " + part + ": " + r.error());
            return;
        }
        if (auto r = fs::grow(part, kind, op.new_bytes); !r) errors.push_back("FS grow " + part + ": " + r.error());
    }
}

} // namespace

std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops) {
    std::vector<std::string> errors;
    std::vector<std::string> touched;
    auto touch = [&](const std::string& disk) {
        if (std::find(touched.begin(), touched.end(), disk) == touched.end()) touched.push_back(disk);
    };
    for (const auto& op : ops) {
        if (const auto* w = op.get<ipc::RemoteDiskOp::Wipe>()) {
            const std::string disk = w->disk.string();
            auto file = disks::open_whole_disk(disk);
            if (!file) {
                errors.push_back("wipe disk: " + file.error());
                continue;
            }
            if (auto r = release_disk(*file, disk); !r) {
                errors.push_back("wipe disk: " + r.error());
                continue;
            }
            touch(disk);
            if (auto r = disks::wipe(*file, disk); !r) errors.push_back("wipe disk: " + r.error());
        } else if (const auto* d = op.get<ipc::RemoteDiskOp::Delete>()) {
            const std::string disk = d->disk.string();
            auto file = disks::open_whole_disk(disk);
            if (!file) {
                errors.push_back("delete partitions: " + file.error());
                continue;
            }
            touch(disk);
            if (auto r = disks::delete_partitions(*file, disk, d->numbers); !r)
                errors.push_back("delete partitions: " + r.error());
        } else if (const auto* c = op.get<ipc::RemoteDiskOp::Create>()) {
            const std::string disk = c->disk.string();
            auto file = disks::open_whole_disk(disk);
            if (!file) {
                errors.push_back("create partition: " + file.error());
                continue;
            }
            touch(disk);
            if (auto r = disks::create_partition(*file, disk, c->start_byte, c->size_bytes); !r)
                errors.push_back("create partition: " + r.error());
        } else if (const auto* z = op.get<ipc::RemoteDiskOp::Resize>()) {
            if (is_block_device(z->disk.string())) touch(z->disk.string());
            apply_resize(*z, errors);
        }
    }
    // The wizard lists the disks again next; the kernel must agree with
    // the tables by then.
    for (const auto& disk : touched) (void)disks::reread_partitions(disk);
    return errors;
}

} // namespace install

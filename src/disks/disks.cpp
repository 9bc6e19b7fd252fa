#include "disks/disks.hpp"

#include <base/utf8.hpp>

#include "disks/io.hpp"
#include "disks/table.hpp"
#include <base/process.hpp>
#include <base/number.hpp>
#include "platform/system_paths.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace disks {

namespace stdfs = std::filesystem;
using io::sat_add;
using io::sat_mul;

namespace {

std::string last_component(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool valid_utf8(const std::string& s) { return base::utf8::lossy(s) == s; }

bool starts_with(const std::string& s, std::string_view p) { return s.rfind(p, 0) == 0; }

std::string sys_block() { return platform::paths().sys + "/block"; }

File open_ro(const std::string& path) { return File(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

std::uint64_t read_u64_attr(const std::string& dir, const std::string& name) {
    auto v = read_attr(dir, name);
    if (!v) return 0;
    return parse_unsigned(*v).value_or(0);
}

// The file-system type is probed afterwards (`enumerate`): reading the table
// stays a pure function of the disk's bytes.
Partition make_part(const std::string& disk, std::uint32_t number, std::uint64_t start, std::uint64_t size) {
    Partition p;
    p.path = partition_path(disk, number);
    p.number = number;
    p.start = start;
    p.size = size;
    return p;
}

std::vector<Partition> gpt_partitions(const std::string& disk, const Gpt& g) {
    // Every LBA of a GPT is in the GPT's own sector size, whatever the
    // device reports as its logical block size.
    const std::uint64_t S = g.sector_size;
    std::vector<Partition> parts;
    for (std::size_t i = 0; i < g.entries.size(); ++i) {
        const auto& e = g.entries[i];
        if (!e.used()) continue;
        std::uint64_t count = sat_add(e.last_lba >= e.first_lba ? e.last_lba - e.first_lba : 0, 1);
        Partition p = make_part(disk, std::uint32_t(i + 1), sat_mul(e.first_lba, S), sat_mul(count, S));
        if (auto n = e.name(); !n.empty()) p.name = n;
        parts.push_back(std::move(p));
    }
    std::uint64_t lo = sat_mul(g.first_usable, S);
    std::uint64_t hi = sat_mul(sat_add(g.last_usable, 1), S);
    insert_gaps(parts, disk, lo, hi);
    return parts;
}

std::vector<Partition> mbr_partitions(const std::string& disk, const Mbr& m, std::uint64_t L) {
    std::vector<Partition> parts;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> ext;
    if (auto slot = m.extended_slot())
        ext = std::pair{std::uint64_t(m.primary[*slot].start) * L, std::uint64_t(m.primary[*slot].count) * L};
    for (std::uint32_t i = 0; i < 4; ++i) {
        const auto& e = m.primary[i];
        if (e.type == 0 || is_extended_type(e.type)) continue;
        parts.push_back(make_part(disk, i + 1, std::uint64_t(e.start) * L, std::uint64_t(e.count) * L));
    }
    for (std::size_t i = 0; i < m.logicals.size(); ++i) {
        const auto& l = m.logicals[i];
        if (l.entry.type == 0) continue;
        Partition p = make_part(disk, std::uint32_t(i + 5), l.start() * L, std::uint64_t(l.entry.count) * L);
        p.logical = true;
        parts.push_back(std::move(p));
    }
    for (auto [first, count] : m.free_regions()) {
        std::uint64_t bytes = sat_mul(count, L);
        if (bytes <= MIN_GAP_BYTES) continue;
        Partition gap;
        gap.path = disk;
        gap.start = sat_mul(first, L);
        gap.size = bytes;
        gap.free = true;
        gap.logical = ext && gap.start >= ext->first && gap.start - ext->first < ext->second;
        parts.push_back(std::move(gap));
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Partition& a, const Partition& b) { return a.start < b.start; });
    return parts;
}

std::vector<Partition> sysfs_partitions(const std::string& name, const std::string& disk, std::uint64_t size_bytes) {
    std::fprintf(stderr, "disks::enumerate: native readers found no table for %s \u2014 sysfs fallback\n", disk.c_str());
    std::vector<Partition> parts;
    std::error_code ec;
    const std::string dir = sys_block() + "/" + name;
    stdfs::directory_iterator it(dir, ec);
    if (ec) return parts;
    for (; it != stdfs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string entry = it->path().filename().string();
        if (!starts_with(entry, name)) continue;
        std::string rest = entry.substr(name.size());
        rest.erase(0, rest.find_first_not_of('p') == std::string::npos ? rest.size() : rest.find_first_not_of('p'));
        auto n = parse_unsigned(rest);
        if (!n || *n == 0 || *n > UINT32_MAX) continue;
        const std::string pdir = dir + "/" + entry;
        Partition p;
        p.path = platform::paths().dev + "/" + entry;
        p.fs = blkid_type(p.path);
        p.number = std::uint32_t(*n);
        p.start = sat_mul(read_u64_attr(pdir, "start"), 512);
        p.size = sat_mul(read_u64_attr(pdir, "size"), 512);
        parts.push_back(std::move(p));
    }
    insert_gaps(parts, disk, 0, size_bytes);
    return parts;
}

} // namespace

std::optional<std::uint64_t> parse_unsigned(std::string_view t) { return base::parse_unsigned(t); }

std::optional<std::string> read_attr(const std::string& dir, const std::string& name) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return std::nullopt;
    std::string t = std::string(base::utf8::trim(ss.str()));
    if (t.empty()) return std::nullopt;
    return t;
}

std::uint32_t logical_block_size(const std::string& disk) {
    auto v = read_attr(sys_block() + "/" + last_component(disk) + "/queue", "logical_block_size");
    if (!v) return 512;
    auto n = parse_unsigned(*v);
    if (!n || *n > UINT32_MAX) return 512;
    return std::uint32_t(*n);
}

std::string partition_path(const std::string& disk, std::uint32_t n) {
    std::string name = last_component(disk);
    bool digit = !name.empty() && name.back() >= '0' && name.back() <= '9';
    return platform::paths().dev + "/" + name + (digit ? "p" : "") + std::to_string(n);
}

std::optional<std::string> blkid_type(const std::string& node) {
    auto r = base::capture({"blkid", "-o", "value", "-s", "TYPE", node});
    if (!r || !r->exited_ok()) return std::nullopt;
    std::string t = std::string(base::utf8::trim(base::utf8::lossy(r->out)));
    if (t.empty()) return std::nullopt;
    return t;
}

DeviceKind device_kind(const std::string& name) {
    if (starts_with(name, "loop")) return DeviceKind::Loop;
    if (starts_with(name, "ram") || starts_with(name, "zram")) return DeviceKind::RAM;
    if (starts_with(name, "md")) return DeviceKind::MD;
    if (starts_with(name, "dm-")) return DeviceKind::DM;
    if (starts_with(name, "pmem") || starts_with(name, "nvdimm")) return DeviceKind::PMEM;
    std::error_code ec;
    stdfs::path p = stdfs::canonical(sys_block() + "/" + name, ec);
    if (ec) return DeviceKind::Other;
    bool scsi = false;
    for (stdfs::path dir = p.parent_path();; dir = dir.parent_path()) {
        stdfs::path link = stdfs::read_symlink(dir / "subsystem", ec);
        if (!ec) {
            std::string sub = link.filename().string();
            if (sub == "virtio") return DeviceKind::Virtio;
            if (sub == "nvme") return DeviceKind::NVMe;
            if (sub == "usb") return DeviceKind::USB;
            if (sub == "mmc") return DeviceKind::MMC;
            if (sub == "ata") return DeviceKind::SATA;
            if (sub == "ide") return DeviceKind::IDE;
            if (sub == "scsi") scsi = true;
        }
        if (dir == dir.root_path() || dir.empty() || dir == dir.parent_path()) break;
    }
    return scsi ? DeviceKind::SCSI : DeviceKind::Other;
}

std::expected<File, std::string> open_rw(const std::string& disk) {
    int fd = ::open(disk.c_str(), O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) return std::unexpected("open " + disk + ": " + io::errno_text(errno));
    return File(fd);
}

std::expected<File, std::string> open_whole_disk(const std::string& disk) {
    // O_PATH opens nothing for reading or writing: a character device named
    // here (a watchdog, a terminal) never sees an open of its own.
    File handle(::open(disk.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (handle.get() < 0) return std::unexpected("open " + disk + ": " + io::errno_text(errno));
    struct stat st {};
    if (::fstat(handle.get(), &st) != 0) return std::unexpected("open " + disk + ": " + io::errno_text(errno));
    if (S_ISLNK(st.st_mode)) return std::unexpected(disk + " is a symbolic link, not a disk");
    if (!S_ISBLK(st.st_mode)) return std::unexpected(disk + " is not a block device");
    const std::string dir = platform::paths().sys + "/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                            std::to_string(minor(st.st_rdev));
    struct stat dir_st {};
    if (::stat(dir.c_str(), &dir_st) != 0) return std::unexpected(disk + " is not a disk the kernel lists");
    if (::stat((dir + "/partition").c_str(), &dir_st) == 0)
        return std::unexpected(disk + " is a partition, not a whole disk");
    // Reopening the descriptor itself reaches the very inode checked above.
    const std::string self = platform::paths().proc + "/self/fd/" + std::to_string(handle.get());
    File rw(::open(self.c_str(), O_RDWR | O_CLOEXEC));
    if (rw.get() < 0) return std::unexpected("open " + disk + ": " + io::errno_text(errno));
    struct stat rw_st {};
    if (::fstat(rw.get(), &rw_st) != 0 || !S_ISBLK(rw_st.st_mode) || rw_st.st_rdev != st.st_rdev)
        return std::unexpected(disk + " is not a block device");
    return rw;
}

std::optional<std::uint32_t> mbr_free_primaries(const std::string& disk) {
    File f = open_ro(disk);
    if (f.get() < 0 || find_gpt(f.get())) return std::nullopt;
    auto m = read_mbr(f.get(), logical_block_size(disk));
    if (!m) return std::nullopt;
    std::uint32_t n = 0;
    for (const auto& e : m->primary) n += e.type == 0;
    return n;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> extended_range(const std::string& disk) {
    File f = open_ro(disk);
    if (f.get() < 0 || find_gpt(f.get())) return std::nullopt;
    std::uint64_t L = logical_block_size(disk);
    auto m = read_mbr(f.get(), L);
    if (!m) return std::nullopt;
    auto slot = m->extended_slot();
    if (!slot) return std::nullopt;
    return std::pair{std::uint64_t(m->primary[*slot].start) * L, std::uint64_t(m->primary[*slot].count) * L};
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> partition_range(const std::string& disk, std::uint32_t n) {
    File f = open_ro(disk);
    if (f.get() < 0) return std::nullopt;
    return partition_range(f, disk, n);
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> partition_range(const File& f, const std::string& disk,
                                                                       std::uint32_t n) {
    if (f.get() < 0 || n == 0) return std::nullopt;
    if (auto g = find_gpt(f.get())) {
        if (n > g->entries.size()) return std::nullopt;
        const auto& e = g->entries[n - 1];
        if (!e.used()) return std::nullopt;
        std::uint64_t S = g->sector_size;
        std::uint64_t count = sat_add(e.last_lba >= e.first_lba ? e.last_lba - e.first_lba : 0, 1);
        return std::pair{sat_mul(e.first_lba, S), sat_mul(count, S)};
    }
    std::uint64_t L = logical_block_size(disk);
    auto m = read_mbr(f.get(), L);
    if (!m) return std::nullopt;
    if (n <= 4) {
        const auto& e = m->primary[n - 1];
        if (e.type == 0) return std::nullopt;
        return std::pair{std::uint64_t(e.start) * L, std::uint64_t(e.count) * L};
    }
    if (n - 5 >= m->logicals.size()) return std::nullopt;
    const auto& l = m->logicals[n - 5];
    if (l.entry.type == 0) return std::nullopt;
    return std::pair{l.start() * L, std::uint64_t(l.entry.count) * L};
}

void insert_gaps(std::vector<Partition>& parts, const std::string& disk, std::uint64_t lo, std::uint64_t hi) {
    std::stable_sort(parts.begin(), parts.end(), [](const Partition& a, const Partition& b) { return a.start < b.start; });
    std::vector<Partition> out;
    auto gap = [&](std::uint64_t from, std::uint64_t to) {
        if (from < to && to - from > MIN_GAP_BYTES) {
            Partition g;
            g.path = disk;
            g.start = from;
            g.size = to - from;
            g.free = true;
            out.push_back(std::move(g));
        }
    };
    std::uint64_t cursor = lo;
    for (auto& p : parts) {
        gap(cursor, std::min(p.start, hi));
        // Never move back: a partition inside another must not open a gap
        // over the outer one.
        cursor = std::max(cursor, sat_add(p.start, p.size));
        out.push_back(std::move(p));
    }
    gap(cursor, hi);
    parts = std::move(out);
}

std::optional<TableLayout> read_table_layout(int fd, const std::string& disk_path, std::uint64_t sector_size) {
    if (auto g = find_gpt(fd)) {
        TableLayout t{"gpt", gpt_partitions(disk_path, *g), std::nullopt, std::nullopt};
        t.usable_end = sat_mul(sat_add(g->last_usable, 1), g->sector_size);
        return t;
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) return std::nullopt;
    if (auto m = read_mbr(fd, sector_size)) {
        TableLayout t{"msdos", mbr_partitions(disk_path, *m, sector_size), std::nullopt, std::nullopt};
        if (auto slot = m->extended_slot())
            t.extended = std::pair{sat_mul(m->primary[*slot].start, sector_size),
                                   sat_mul(m->primary[*slot].count, sector_size)};
        return t;
    }
    return std::nullopt;
}

std::vector<Disk> enumerate() {
    std::vector<Disk> disks;
    std::vector<std::string> names;
    std::error_code ec;
    stdfs::directory_iterator it(sys_block(), ec);
    if (ec) {
        std::fprintf(stderr, "disks::enumerate: read /sys/block: %s\n", ec.message().c_str());
        return disks;
    }
    for (; it != stdfs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string n = it->path().filename().string();
        if (valid_utf8(n)) names.push_back(std::move(n));
    }
    std::sort(names.begin(), names.end());

    for (const auto& name : names) {
        if (starts_with(name, "mmcblk") && (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos))
            continue;
        Disk d;
        d.path = platform::paths().dev + "/" + name;
        d.sector_size = logical_block_size(d.path);
        const std::string dir = sys_block() + "/" + name;
        auto size_text = read_attr(dir, "size");
        auto sectors = size_text ? parse_unsigned(*size_text) : std::nullopt;
        if (!sectors || *sectors == 0) continue;
        d.size_bytes = sat_mul(*sectors, 512);

        auto vendor = read_attr(dir + "/device", "vendor");
        auto model = read_attr(dir + "/device", "model");
        if (vendor && model) d.label = *vendor + " " + *model;
        else if (vendor) d.label = *vendor;
        else if (model) d.label = *model;
        else d.label = read_attr(dir + "/device", "name").value_or(name);

        d.kind = device_kind(name);
        d.removable = read_attr(dir, "removable") == std::optional<std::string>("1");

        File f = open_ro(d.path);
        std::optional<TableLayout> layout;
        if (f.get() >= 0) layout = read_table_layout(f.get(), d.path, d.sector_size);
        if (layout) {
            d.table = std::move(layout->table);
            d.partitions = std::move(layout->partitions);
            d.usable_end = layout->usable_end;
            d.extended = layout->extended;
            for (auto& p : d.partitions)
                if (!p.free) p.fs = blkid_type(p.path);
        } else {
            d.partitions = sysfs_partitions(name, d.path, d.size_bytes);
        }
        disks.push_back(std::move(d));
    }
    return disks;
}

} // namespace disks

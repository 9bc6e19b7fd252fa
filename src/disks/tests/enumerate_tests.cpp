// Listing disks from a fake sysfs tree (device nodes are image files in a
// fake /dev), and from the real one with loop devices.

#include <base/units.hpp>
#include "disks/disks.hpp"
#include "disks/edit.hpp"
#include "disks/table.hpp"
#include "platform/system_paths.hpp"
#include "support/files.hpp"
#include "tools.hpp"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace disks_test;
using disks::DeviceKind;
using support::LoopDisk;
namespace stdfs = std::filesystem;

namespace {

using base::MIB;

using support::PathsGuard;

void write_file(const stdfs::path& p, const std::string& text) {
    stdfs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

// A fake machine: sysfs devices with subsystem links, /sys/block links to
// them, and a /dev whose nodes are plain image files.
class FakeMachine {
public:
    FakeMachine() : sys(dir.path() + "/sys"), dev(dir.path() + "/dev") {
        stdfs::create_directories(sys / "block");
        stdfs::create_directories(sys / "bus");
        stdfs::create_directories(dev);
        for (auto bus : {"usb", "scsi", "mmc", "virtio", "nvme", "ata", "pci"}) stdfs::create_directories(sys / "bus" / bus);
    }

    // A device at devices/<chain>/block/<name>; each chain element may name
    // the bus of its "subsystem" link after a colon ("usb1:usb").
    stdfs::path add(const std::string& name, std::uint64_t sectors, const std::vector<std::string>& chain = {}) {
        stdfs::path at = sys / "devices";
        for (const auto& link : chain) {
            auto colon = link.find(':');
            at /= link.substr(0, colon);
            stdfs::create_directories(at);
            if (colon != std::string::npos && !stdfs::is_symlink(at / "subsystem"))
                stdfs::create_directory_symlink(sys / "bus" / link.substr(colon + 1), at / "subsystem");
        }
        stdfs::path d = at / "block" / name;
        stdfs::create_directories(d);
        write_file(d / "size", std::to_string(sectors) + "\n");
        stdfs::create_directory_symlink(d, sys / "block" / name);
        return d;
    }

    platform::SystemPaths paths() const {
        platform::SystemPaths p;
        p.sys = sys.string();
        p.dev = dev.string();
        return p;
    }

    support::TempDir dir;
    stdfs::path sys, dev;
};

const disks::Disk* find(const std::vector<disks::Disk>& list, const std::string& path) {
    auto it = std::find_if(list.begin(), list.end(), [&](const disks::Disk& d) { return d.path == path; });
    return it == list.end() ? nullptr : &*it;
}

} // namespace

TEST(Enumerate, LabelsKindsRemovableAndSkippedDevices) {
    FakeMachine m;
    auto sda = m.add("sda", 1000, {"pci0:pci", "usb1:usb", "1-1", "host0:scsi", "target0", "0:0:0:0:scsi"});
    write_file(sda / "device" / "vendor", "  Vend \n");
    write_file(sda / "device" / "model", "Stick\n");
    write_file(sda / "removable", "1\n");
    auto sdb = m.add("sdb", 1000, {"pci0:pci", "host1:scsi", "1:0:0:0:scsi"});
    write_file(sdb / "device" / "vendor", "   \n"); // blanks only: absent
    write_file(sdb / "device" / "model", "Disk\n");
    write_file(sdb / "removable", "0\n");
    auto mmc = m.add("mmcblk0", 1000, {"soc", "mmc0:mmc", "mmc0:0001"});
    write_file(mmc / "device" / "name", "SD32G\n");
    for (auto n : {"mmcblk0boot0", "mmcblk0boot1", "mmcblk0rpmb"}) m.add(n, 1000, {"soc", "mmc0:mmc"});
    m.add("loop0", 0);                                     // no backing file
    m.add("loop1", 2048);                                  // no device directory
    m.add("vda", 1000, {"pci0:pci", "virtio0:virtio"});
    m.add("nvme0n1", 1000, {"pci0:pci", "nvme0:nvme", "nvme0n1-ctl"});
    m.add("sdc", 1000, {"pci0:pci", "ata1:ata", "host2:scsi"}); // scsi is only remembered; ata above decides
    m.add("huge", std::uint64_t(1) << 55);                 // 2^55 sectors: bytes saturate
    m.add("md0", 1000);
    write_file(m.sys / "block" / "bad" / "size", "12x\n");
    PathsGuard scope(m.paths());

    testing::internal::CaptureStderr();
    auto list = disks::enumerate();
    testing::internal::GetCapturedStderr();

    std::vector<std::string> paths;
    for (const auto& d : list) paths.push_back(d.path);
    const std::string D = m.dev.string() + "/";
    EXPECT_EQ(paths, (std::vector<std::string>{D + "huge", D + "loop1", D + "md0", D + "mmcblk0", D + "nvme0n1", D + "sda",
                                               D + "sdb", D + "sdc", D + "vda"}));

    struct Expect {
        std::string name, label;
        DeviceKind kind;
        bool removable;
        std::uint64_t size;
    };
    const std::vector<Expect> expected = {
        {"sda", "Vend Stick", DeviceKind::USB, true, 512000},
        {"sdb", "Disk", DeviceKind::SCSI, false, 512000},
        {"sdc", "sdc", DeviceKind::SATA, false, 512000},
        {"mmcblk0", "SD32G", DeviceKind::MMC, false, 512000},
        {"loop1", "loop1", DeviceKind::Loop, false, MIB},
        {"vda", "vda", DeviceKind::Virtio, false, 512000},
        {"nvme0n1", "nvme0n1", DeviceKind::NVMe, false, 512000},
        {"md0", "md0", DeviceKind::MD, false, 512000},
        {"huge", "huge", DeviceKind::Other, false, UINT64_MAX},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        const auto* d = find(list, D + e.name);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->label, e.label);
        EXPECT_EQ(d->kind, e.kind);
        EXPECT_EQ(d->removable, e.removable);
        EXPECT_EQ(d->size_bytes, e.size);
        EXPECT_EQ(d->sector_size, 512u);
        EXPECT_FALSE(d->table);
    }
}

TEST(DeviceKind, ByNameBeforeSysfs) {
    FakeMachine m;
    PathsGuard scope(m.paths());
    const std::vector<std::pair<std::string, DeviceKind>> cases = {
        {"loop7", DeviceKind::Loop}, {"ram0", DeviceKind::RAM},   {"zram0", DeviceKind::RAM},
        {"md127", DeviceKind::MD},   {"dm-0", DeviceKind::DM},    {"pmem0", DeviceKind::PMEM},
        {"nvdimm1", DeviceKind::PMEM}, {"sdz", DeviceKind::Other}, // no such sysfs entry
    };
    for (const auto& [name, kind] : cases) EXPECT_EQ(disks::device_kind(name), kind) << name;
}

TEST(Enumerate, SysfsFallbackListsPartitionsAndLogsOnce) {
    FakeMachine m;
    auto mmc = m.add("mmcblk0", 4 * 1024 * 1024, {"mmc0:mmc"}); // 2 GiB
    write_file(mmc / "mmcblk0p1" / "start", "2048\n");
    write_file(mmc / "mmcblk0p1" / "size", "4096\n");
    write_file(mmc / "mmcblk0p2" / "start", "1050624\n");
    write_file(mmc / "mmcblk0p2" / "size", "+1000\n");
    write_file(mmc / "mmcblk0p0" / "start", "1\n"); // number 0: skipped
    write_file(mmc / "queue" / "logical_block_size", "4096\n");
    PathsGuard scope(m.paths());

    testing::internal::CaptureStderr();
    auto list = disks::enumerate();
    std::string log = testing::internal::GetCapturedStderr();
    const std::string disk = m.dev.string() + "/mmcblk0";
    EXPECT_EQ(log, "disks::enumerate: native readers found no table for " + disk + " \u2014 sysfs fallback\n");
    ASSERT_EQ(list.size(), 1u);
    const auto& d = list[0];
    EXPECT_FALSE(d.table);
    EXPECT_EQ(d.sector_size, 4096u);
    std::vector<disks::Partition> want;
    want.push_back({m.dev.string() + "/mmcblk0p1", {}, {}, MIB, 2 * MIB, 1, false, false});
    want.push_back({disk, {}, {}, 3 * MIB, 1050624 * 512 - 3 * MIB, 0, true, false});
    want.push_back({m.dev.string() + "/mmcblk0p2", {}, {}, 1050624ull * 512, 512000, 2, false, false});
    want.push_back({disk, {}, {}, 1050624ull * 512 + 512000, 2048 * MIB - (1050624ull * 512 + 512000), 0, true, false});
    EXPECT_EQ(d.partitions, want);
}

TEST(Enumerate, UnreadableSysBlockLogsAndGivesNothing) {
    platform::SystemPaths p;
    p.sys = "/nonexistent-sys";
    PathsGuard scope(p);
    testing::internal::CaptureStderr();
    auto list = disks::enumerate();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(log.rfind("disks::enumerate: read /sys/block: ", 0), 0u) << log;
}

// Gaps over 2 MiB only, from a lower bound up to an upper one.
TEST(InsertGaps, OnlyHolesOverTwoMebibytes) {
    struct Case {
        std::string name;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> parts; // start, size
        std::uint64_t lo, hi;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
    };
    const std::uint64_t G = 2 * MIB;
    const std::vector<Case> cases = {
        {"first partition at 1 MiB: no leading gap", {{MIB, MIB}}, 0, 2 * MIB, {}},
        {"hole of exactly 2 MiB", {{MIB, MIB}, {2 * MIB + G, MIB}}, 0, 5 * MIB, {}},
        {"hole one byte over 2 MiB", {{MIB, MIB}, {2 * MIB + G + 1, MIB}}, 0, 5 * MIB + 1, {{2 * MIB, G + 1}}},
        {"trailing space", {{MIB, MIB}}, 0, 100 * MIB, {{2 * MIB, 98 * MIB}}},
        {"empty disk", {}, 0, 100 * MIB, {{0, 100 * MIB}}},
        {"usable area bounds", {}, 17408, 100 * MIB - 17408, {{17408, 100 * MIB - 2 * 17408}}},
        {"nested partition does not reopen space", {{MIB, 50 * MIB}, {2 * MIB, MIB}}, 0, 51 * MIB, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<disks::Partition> parts;
        for (auto [s, n] : c.parts) parts.push_back({"/dev/x1", {}, {}, s, n, 1, false, false});
        disks::insert_gaps(parts, "/dev/x", c.lo, c.hi);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
        for (const auto& p : parts) {
            if (!p.free) continue;
            gaps.emplace_back(p.start, p.size);
            EXPECT_EQ(p.path, "/dev/x");
            EXPECT_EQ(p.number, 0u);
        }
        EXPECT_EQ(gaps, c.gaps);
    }
}

TEST(SmallQueries, PathsSectorSizesAndAttributes) {
    FakeMachine m;
    auto d = m.add("nvme0n1", 100);
    write_file(d / "queue" / "logical_block_size", " +4096 \n");
    auto bad = m.add("sdq", 100);
    write_file(bad / "queue" / "logical_block_size", "4k\n");
    write_file(d / "blank", " \t\n");
    PathsGuard scope(m.paths());
    EXPECT_EQ(disks::logical_block_size("/dev/nvme0n1"), 4096u);
    EXPECT_EQ(disks::logical_block_size("/dev/sdq"), 512u);
    EXPECT_EQ(disks::logical_block_size("/dev/none"), 512u);
    EXPECT_EQ(disks::read_attr(d.string(), "blank"), std::nullopt);
    EXPECT_EQ(disks::read_attr(d.string(), "size"), std::optional<std::string>("100"));
    const std::string D = m.dev.string();
    EXPECT_EQ(disks::partition_path("/dev/sda", 3), D + "/sda3");
    EXPECT_EQ(disks::partition_path("/dev/nvme0n1", 2), D + "/nvme0n1p2");
    EXPECT_EQ(disks::partition_path("/dev/mmcblk0", 1), D + "/mmcblk0p1");
    EXPECT_EQ(disks::partition_path("/dev/loop0", 1), D + "/loop0p1");
    auto opened = disks::open_rw("/nonexistent/disk");
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), "open /nonexistent/disk: No such file or directory");
}

// The real sysfs with loop devices: GPT numbering by slot, names, file
// systems, gaps inside the usable area; MBR with a logical chain.
TEST(EnumerateLoop, GptDiskWithSlotNumbersNamesAndFileSystems) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto disk = LoopDisk::create(128 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    // Slots 1 and 3 in use, slot 3 first on the disk.
    sfdisk_script(disk->path(), "label: gpt\n"
                                "1: start=81920, size=20480, name=data\n"
                                "3: start=2048, size=40960\n");
    ASSERT_TRUE(disk->refresh());
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", disk->part(3)}).exit_code, 0);
    auto list = disks::enumerate();
    const auto* d = find(list, disk->path());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->table, std::optional<std::string>("gpt"));
    EXPECT_EQ(d->kind, DeviceKind::Loop);
    EXPECT_EQ(d->label, disk->name());
    EXPECT_EQ(d->size_bytes, 128 * MIB);
    std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t, bool>> got;
    for (const auto& p : d->partitions) got.emplace_back(p.number, p.start, p.size, p.free);
    const std::uint64_t end = (128 * MIB / 512 - 33) * 512; // last usable (sector count - 34) + 1
    EXPECT_EQ(got, (std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t, bool>>{
                       {3, MIB, 20 * MIB, false},
                       {0, 21 * MIB, 19 * MIB, true},
                       {1, 40 * MIB, 10 * MIB, false},
                       {0, 50 * MIB, end - 50 * MIB, true}}));
    EXPECT_EQ(d->partitions[0].fs, std::optional<std::string>("ext4"));
    EXPECT_EQ(d->partitions[0].path, disk->part(3));
    EXPECT_FALSE(d->partitions[0].name);
    EXPECT_EQ(d->partitions[2].name, std::optional<std::string>("data"));
    EXPECT_FALSE(d->partitions[2].fs);
    EXPECT_EQ(disks::partition_range(disk->path(), 3), std::pair(MIB, 20 * MIB));
    EXPECT_EQ(disks::partition_range(disk->path(), 2), std::nullopt);
    EXPECT_EQ(disks::mbr_free_primaries(disk->path()), std::nullopt);
    EXPECT_EQ(disks::extended_range(disk->path()), std::nullopt);
}

TEST(EnumerateLoop, MbrDiskHidesTheContainerAndFlagsLogicals) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    for (std::uint32_t ss : {512u, 4096u}) {
        SCOPED_TRACE("sector size " + std::to_string(ss));
        auto disk = LoopDisk::create(128 * MIB, ss);
        ASSERT_TRUE(disk) << disk.error();
        const std::uint64_t m = MIB / ss;
        auto at = [&](std::uint64_t mib) { return std::to_string(mib * m); };
        sfdisk_script(disk->path(), "label: dos\n"
                                    "start=" + at(1) + ", size=" + at(8) + ", type=83\n"
                                    "start=" + at(16) + ", size=" + at(100) + ", type=5\n"
                                    "start=" + at(17) + ", size=" + at(10) + ", type=83\n"
                                    "start=" + at(60) + ", size=" + at(10) + ", type=83\n");
        auto list = disks::enumerate();
        const auto* d = find(list, disk->path());
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->table, std::optional<std::string>("msdos"));
        EXPECT_EQ(d->sector_size, ss);
        std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t, bool, bool>> got;
        for (const auto& p : d->partitions) got.emplace_back(p.number, p.start / MIB, p.size / MIB, p.free, p.logical);
        EXPECT_EQ(got, (std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t, bool, bool>>{
                           {1, 1, 8, false, false},
                           {0, 9, 7, true, false},
                           {5, 17, 10, false, true},
                           {0, 27, 33, true, true},
                           {6, 60, 10, false, true},
                           {0, 70, 46, true, true},
                           {0, 116, 12, true, false}}));
        EXPECT_EQ(d->partitions[2].path, disk->part(5));
        EXPECT_EQ(disks::mbr_free_primaries(disk->path()), std::optional<std::uint32_t>(2));
        EXPECT_EQ(disks::extended_range(disk->path()), std::pair(16 * MIB, 100 * MIB));
        EXPECT_EQ(disks::partition_range(disk->path(), 6), std::pair(60 * MIB, 10 * MIB));
        EXPECT_EQ(disks::partition_range(disk->path(), 7), std::nullopt);
        EXPECT_EQ(disks::partition_range(disk->path(), 2), std::pair(16 * MIB, 100 * MIB));
    }
}

TEST(EnumerateLoop, RawFileSystemOnTheWholeDeviceFallsBackToSysfs) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto disk = LoopDisk::create(32 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"mkfs.vfat", disk->path()}).exit_code, 0);
    testing::internal::CaptureStderr();
    auto list = disks::enumerate();
    std::string log = testing::internal::GetCapturedStderr();
    const auto* d = find(list, disk->path());
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->table);
    EXPECT_NE(log.find("native readers found no table for " + disk->path() + " \u2014 sysfs fallback\n"), std::string::npos);
    ASSERT_EQ(d->partitions.size(), 1u);
    EXPECT_TRUE(d->partitions[0].free);
}

// A GPT written for 4096-byte sectors on a device that reports 512: every
// LBA of that table is in its own sector size, for listing and for edits.
TEST(EnumerateLoop, GptSectorSizeWinsOverTheDevices) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto disk = LoopDisk::create(64 * MIB, 512);
    ASSERT_TRUE(disk) << disk.error();
    {
        int fd = ::open(disk->path().c_str(), O_RDWR | O_CLOEXEC);
        auto g = disks::Gpt::create(disk->bytes(), 4096, disks::clock_guid());
        ASSERT_TRUE(g) << g.error();
        g->entries[0].type = *disks::parse_guid(disks::LINUX_DATA_GUID);
        g->entries[0].first_lba = 256; // 1 MiB
        g->entries[0].last_lba = 511;
        ASSERT_TRUE(disks::write_protective_mbr(fd, 4096));
        ASSERT_TRUE(disks::write_gpt(fd, *g));
        ::close(fd);
    }
    auto created = disks::create_partition(disk->path(), 10 * MIB, 5 * MIB);
    ASSERT_TRUE(created) << created.error();
    EXPECT_EQ(*created, 2u);
    ASSERT_TRUE(disks::resize_partition(disk->path(), 1, 2 * MIB));
    auto list = disks::enumerate();
    const auto* d = find(list, disk->path());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->sector_size, 512u);
    EXPECT_EQ(d->table, std::optional<std::string>("gpt"));
    std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> got;
    for (const auto& p : d->partitions)
        if (!p.free) got.emplace_back(p.number, p.start, p.size);
    EXPECT_EQ(got, (std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>>{{1, MIB, 2 * MIB},
                                                                                          {2, 10 * MIB, 5 * MIB}}));
    EXPECT_EQ(disks::partition_range(disk->path(), 2), std::pair(10 * MIB, 5 * MIB));
    // Gaps stay inside the 4096-byte table's usable area.
    const auto& last = d->partitions.back();
    ASSERT_TRUE(last.free);
    EXPECT_EQ(last.start + last.size, (64 * MIB / 4096 - 5) * 4096);
}

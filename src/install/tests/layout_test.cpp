#include "install/layout.hpp"
#include "install/pipeline.hpp"
#include "platform/system_paths.hpp"
#include "support/loop_disk.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace sfs = std::filesystem;

namespace {

using install::MIB;
using install::TargetLayout;

// One partition as sfdisk reports it.
struct Part {
    std::uint32_t number;
    std::uint64_t start; // sectors
    std::uint64_t size;  // sectors
    std::string type;
    std::string name;
    bool operator==(const Part&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Part& p) {
    return os << "{" << p.number << ", " << p.start << ", " << p.size << ", " << p.type << ", " << p.name << "}";
}

std::vector<Part> sfdisk_parts(const std::string& disk, std::string* label = nullptr) {
    auto r = support::run_command({"sfdisk", "--json", disk});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<Part> parts;
    if (r.exit_code != 0) return parts;
    auto j = nlohmann::json::parse(r.out)["partitiontable"];
    if (label) *label = j.value("label", "");
    for (const auto& p : j.value("partitions", nlohmann::json::array())) {
        std::string node = p["node"];
        auto pos = node.find_last_not_of("0123456789");
        parts.push_back({std::uint32_t(std::stoul(node.substr(pos + 1))), p["start"], p["size"], p["type"],
                         p.value("name", "")});
    }
    return parts;
}

constexpr const char* ESP_TYPE = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
constexpr const char* LINUX_TYPE = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

ipc::InstallPlan plan_for(const std::string& disk, ipc::TargetMode mode) {
    ipc::InstallPlan plan;
    plan.disk = disk;
    plan.mode = mode;
    plan.locale = "en";
    return plan;
}

// Layout tests run with a live system of their own choosing: its /boot
// decides the boot scheme.
class Layout : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
        saved_ = platform::paths();
        platform::SystemPaths p = saved_;
        p.host_root = live_.path();
        platform::set_paths(p);
    }
    void TearDown() override {
        if (!saved_.host_root.empty()) platform::set_paths(saved_);
    }
    void board(const std::string& file) {
        sfs::create_directories(sfs::path(live_.path() + "/" + file).parent_path());
        std::ofstream(live_.path() + "/" + file) << "x\n";
    }
    support::TempDir live_;
    platform::SystemPaths saved_;
};

TEST_F(Layout, WholeDiskByBootSchemeAndSectorSize) {
    struct Case {
        const char* name;
        const char* board_file; // nullptr: a UEFI machine
        std::uint32_t sector;
        std::vector<Part> parts; // sizes of the last partition filled in from the disk
        std::optional<std::uint32_t> esp;
        std::uint32_t root;
        bool fresh;
    };
    const std::uint64_t disk_bytes = 2048 * MIB;
    const std::vector<Case> cases = {
        {"uefi", nullptr, 512, {{1, 2048, 1048576, ESP_TYPE, "esp"}, {2, 1050624, 0, LINUX_TYPE, "root"}}, 1, 2, true},
        {"uefi 4k", nullptr, 4096, {{1, 256, 131072, ESP_TYPE, "esp"}, {2, 131328, 0, LINUX_TYPE, "root"}}, 1, 2, true},
        {"extlinux", "boot/extlinux/extlinux.conf", 512, {{1, 32768, 0, LINUX_TYPE, "root"}}, std::nullopt, 1, false},
        {"boot.scr", "boot/boot.scr", 4096, {{1, 4096, 0, LINUX_TYPE, "root"}}, std::nullopt, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sfs::remove_all(live_.path() + "/boot");
        if (c.board_file) board(c.board_file);
        auto disk = support::LoopDisk::create(disk_bytes, c.sector);
        ASSERT_TRUE(disk) << disk.error();
        // Something old on the disk first: it goes.
        ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()}, "label: dos\n,10MiB,83\n").exit_code, 0);

        auto layout = install::prepare_target(plan_for(disk->path(), ipc::TargetMode::WholeDisk{}), false, "");
        ASSERT_TRUE(layout) << layout.error();
        std::string label;
        auto parts = sfdisk_parts(disk->path(), &label);
        EXPECT_EQ(label, "gpt");
        ASSERT_EQ(parts.size(), c.parts.size());
        // The root runs to the last usable sector: the backup entry array
        // (32 sectors of 512 bytes, 4 of 4096) and header follow it.
        const std::uint64_t total = disk_bytes / c.sector;
        const std::uint64_t tail = 1 + 16384 / c.sector;
        auto want = c.parts;
        want.back().size = total - tail - want.back().start;
        EXPECT_EQ(parts, want);
        EXPECT_EQ(layout->root, disk->part(c.root));
        EXPECT_EQ(layout->esp, c.esp ? std::optional(disk->part(*c.esp)) : std::nullopt);
        EXPECT_FALSE(layout->boot);
        EXPECT_FALSE(layout->luks);
        EXPECT_EQ(layout->fresh_table, c.fresh);
        EXPECT_TRUE(sfs::exists(layout->root)) << "the node appeared";
        auto verify = support::run_command({"sgdisk", "-v", disk->path()});
        EXPECT_NE(verify.out.find("No problems found"), std::string::npos) << verify.out;
    }
}

TEST_F(Layout, WholeDiskTooSmallFailsAfterTheWipe) {
    // 513 MiB: the root would start where the usable area already ended.
    auto disk = support::LoopDisk::create(513 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()}, "label: dos\n,10MiB,83\n").exit_code, 0);
    auto layout = install::prepare_target(plan_for(disk->path(), ipc::TargetMode::WholeDisk{}), false, "");
    ASSERT_FALSE(layout);
    EXPECT_EQ(layout.error(), disk->path() + " is too small for an install");
    auto r = support::run_command({"sfdisk", "--json", disk->path()});
    EXPECT_NE(r.exit_code, 0) << "the old table was wiped: " << r.out;
}

TEST_F(Layout, ExistingPartitionAndFreeGapKeepTheDisksEsp) {
    auto disk = support::LoopDisk::create(1024 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()},
                                   std::string("label: gpt\n,100MiB,") + ESP_TYPE + "\n,200MiB,L\n")
                  .exit_code,
              0);
    ASSERT_TRUE(disk->refresh());

    auto part = install::prepare_target(plan_for(disk->path(), ipc::TargetMode::Partition{2}), false, "");
    ASSERT_TRUE(part) << part.error();
    EXPECT_EQ(*part, (TargetLayout{disk->part(2), disk->part(1), std::nullopt, std::nullopt, false}));

    const std::uint64_t gap_start = 301 * MIB, gap_size = 500 * MIB;
    auto gap = install::prepare_target(
        plan_for(disk->path(), ipc::TargetMode::FreeSpace{gap_start, gap_size}), false, "");
    ASSERT_TRUE(gap) << gap.error();
    EXPECT_EQ(*gap, (TargetLayout{disk->part(3), disk->part(1), std::nullopt, std::nullopt, false}));
    auto parts = sfdisk_parts(disk->path());
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[2], (Part{3, gap_start / 512, gap_size / 512, LINUX_TYPE, ""}));
    // The new node was created although the disk cannot re-read its table.
    EXPECT_TRUE(sfs::exists(disk->part(3)));
    EXPECT_EQ(install::block_device_bytes(disk->part(3)), gap_size);
}

TEST_F(Layout, EncryptedRegionRefusals) {
    struct Case {
        const char* name;
        std::string script;
        ipc::TargetMode mode;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"gap of exactly 800 MiB", "label: gpt\n,100MiB,L\n", ipc::TargetMode::FreeSpace{101 * MIB, 800 * MIB},
         "target region too small for an encrypted install"},
        {"four primaries, one of them replaced", "label: dos\n,100MiB,83\n,100MiB,83\n,100MiB,83\n,100MiB,83\n",
         ipc::TargetMode::Partition{2},
         "the MBR partition table is full; encryption needs room for a /boot partition"},
        {"three primaries, a gap needs two slots", "label: dos\n,100MiB,83\n,100MiB,83\n,100MiB,83\n",
         ipc::TargetMode::FreeSpace{301 * MIB, 900 * MIB},
         "the MBR partition table is full; encryption needs room for a /boot partition"},
        {"missing partition", "label: gpt\n,100MiB,L\n", ipc::TargetMode::Partition{5}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto disk = support::LoopDisk::create(1536 * MIB);
        ASSERT_TRUE(disk) << disk.error();
        ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()}, c.script).exit_code, 0);
        const auto before = sfdisk_parts(disk->path());
        auto layout = install::prepare_target(plan_for(disk->path(), c.mode), true, "pw");
        ASSERT_FALSE(layout);
        const std::string want = c.error.empty() ? "partition 5 not found on " + disk->path() : c.error;
        EXPECT_EQ(layout.error(), want);
        EXPECT_EQ(sfdisk_parts(disk->path()), before) << "nothing was changed";
    }
}

// Regions that pass the checks get their /boot and root partitions; the
// container is formatted for real and then cannot be opened here (no
// device-mapper), which ends the step with cryptsetup's own text.
TEST_F(Layout, EncryptedRegionsThatFit) {
    struct Case {
        const char* name;
        std::string script;
        ipc::TargetMode mode;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> created; // start, size in sectors
    };
    const std::vector<Case> cases = {
        {"gap of 800 MiB and one byte", "label: gpt\n,100MiB,L\n", ipc::TargetMode::FreeSpace{101 * MIB, 800 * MIB + 1},
         {{101 * 2048, 768 * 2048}, {869 * 2048, 32 * 2048}}},
        {"logical partition of a full MBR",
         "label: dos\nstart=2048,size=20480,type=83\nstart=22528,size=20480,type=83\n"
         "start=43008,size=20480,type=83\nstart=63488,size=2000000,type=5\nstart=65536,size=1900000,type=83\n",
         ipc::TargetMode::Partition{5},
         {{65536, 768 * 2048}, {65536 + 768 * 2048, 1900000 - 768 * 2048}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto disk = support::LoopDisk::create(1536 * MIB);
        ASSERT_TRUE(disk) << disk.error();
        ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()}, c.script).exit_code, 0);
        ASSERT_TRUE(disk->refresh());
        auto layout = install::prepare_target(plan_for(disk->path(), c.mode), true, "pw");
        auto parts = sfdisk_parts(disk->path());
        ASSERT_GE(parts.size(), 2u);
        const auto& boot = parts[parts.size() - 2];
        const auto& root = parts.back();
        EXPECT_EQ(std::pair(boot.start, boot.size), c.created[0]);
        // An MBR logical partition starts one EBR sector (or an alignment
        // step) late; its end is what was asked for.
        EXPECT_EQ(root.start + root.size, c.created[1].first + c.created[1].second);
        EXPECT_EQ(support::run_command({"blkid", "-p", "-o", "value", "-s", "TYPE", disk->part(root.number)}).out,
                  "crypto_LUKS\n");
        if (layout) {
            EXPECT_EQ(layout->luks, disk->part(root.number));
            EXPECT_EQ(layout->boot, disk->part(boot.number));
        } else {
            EXPECT_TRUE(layout.error().starts_with("cryptsetup exited with ")) << layout.error();
        }
    }
}

TEST_F(Layout, FindEsp) {
    struct Case {
        const char* name;
        std::string script;
        std::optional<std::uint32_t> esp;
    };
    const std::vector<Case> cases = {
        {"gpt, second slot", std::string("label: gpt\n,10MiB,L\n,10MiB,") + ESP_TYPE + "\n", 2},
        {"gpt without one", "label: gpt\n,10MiB,L\n", std::nullopt},
        {"mbr primary", "label: dos\n,10MiB,83\n,10MiB,ef\n", 2},
        {"mbr logical 6",
         "label: dos\nstart=2048,size=20480,type=83\nstart=22528,size=122880,type=5\n"
         "start=24576,size=20480,type=83\nstart=47104,size=20480,type=ef\n",
         6},
        {"no table", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto disk = support::LoopDisk::create(128 * MIB);
        ASSERT_TRUE(disk) << disk.error();
        if (!c.script.empty()) {
            ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()}, c.script).exit_code, 0);
        }
        EXPECT_EQ(install::find_esp(disk->path()), c.esp ? std::optional(disk->part(*c.esp)) : std::nullopt);
    }
    EXPECT_EQ(install::find_esp("/dev/tavix-missing"), std::nullopt);
}

} // namespace

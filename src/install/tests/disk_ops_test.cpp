// The disk-operation batch on loop devices: real tables, real ext4 and LUKS,
// and once through the real daemon.

#include <base/units.hpp>
#include "disks/disks.hpp"
#include "install/disk_ops.hpp"
#include "support/daemon_process.hpp"
#include "support/loop_disk.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <map>
#include <sstream>
#include <sys/stat.h>

using ipc::RemoteDiskOp;
using support::LoopDisk;
using support::run_command;
namespace stdfs = std::filesystem;

namespace {

using base::MIB;

// Partition sizes in bytes by number, as sfdisk reads the table.
std::map<std::uint32_t, std::uint64_t> sizes(const LoopDisk& d) {
    std::map<std::uint32_t, std::uint64_t> out;
    auto r = run_command({"sfdisk", "--json", d.path()});
    if (r.exit_code != 0) return out;
    auto json = nlohmann::json::parse(r.out)["partitiontable"];
    for (const auto& p : json["partitions"]) {
        // sfdisk lists a freed GPT slot that still holds its old range.
        if (p["type"] == "00000000-0000-0000-0000-000000000000") continue;
        std::string node = p["node"];
        auto n = std::stoul(node.substr(d.path().size() + 1));
        out[std::uint32_t(n)] = p["size"].get<std::uint64_t>() * json["sectorsize"].get<std::uint64_t>();
    }
    return out;
}

std::uint64_t ext_bytes(const std::string& node) {
    auto r = run_command({"dumpe2fs", "-h", node});
    std::istringstream in(r.out);
    std::uint64_t count = 0, size = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Block count:", 0) == 0) count = std::stoull(line.substr(12));
        if (line.rfind("Block size:", 0) == 0) size = std::stoull(line.substr(11));
    }
    return count * size;
}

bool exists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

// A GPT loop disk with two 64 MiB partitions at 1 MiB and 129 MiB.
std::expected<LoopDisk, std::string> two_partitions() {
    auto d = LoopDisk::create(256 * MIB);
    if (!d) return d;
    auto r = run_command({"sfdisk", "-q", d->path()}, "label: gpt\nstart=2048, size=131072\nstart=264192, size=131072\n");
    if (r.exit_code != 0) return std::unexpected(r.err);
    if (auto p = d->refresh(); !p) return std::unexpected(p.error());
    return d;
}

RemoteDiskOp::Resize resize(const LoopDisk& d, std::uint32_t n, std::uint64_t from, std::uint64_t to,
                            std::optional<std::string> fs) {
    return RemoteDiskOp::Resize{d.path(), d.part(n), n, from, to, std::move(fs)};
}

} // namespace

TEST(DiskOps, EmptyBatch) { EXPECT_TRUE(install::apply_disk_ops({}).empty()); }

// Requests name paths that must be block devices (and, for a resize, that
// disk's partition with that number) before anything is opened to write.
TEST(DiskOps, RefusesPathsThatAreNotTheDisksTheyClaim) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    support::TempDir dir;
    const std::string file = dir.path() + "/not-a-disk";
    std::ofstream(file) << "precious";
    const std::string D = disk->path();
    std::vector<RemoteDiskOp> ops = {
        RemoteDiskOp::Wipe{file},
        RemoteDiskOp::Delete{file, {1}},
        RemoteDiskOp::Create{file, MIB, MIB},
        RemoteDiskOp::Resize{file, disk->part(1), 1, 64 * MIB, 32 * MIB, std::nullopt},
        RemoteDiskOp::Resize{D, file, 1, 64 * MIB, 32 * MIB, std::nullopt},
        RemoteDiskOp::Resize{D, disk->part(2), 1, 64 * MIB, 32 * MIB, std::nullopt}, // wrong number
        RemoteDiskOp::Resize{D, D, 1, 64 * MIB, 32 * MIB, std::nullopt},             // the disk itself
    };
    auto errors = install::apply_disk_ops(ops);
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "wipe disk: " + file + " is not a block device",
                          "delete partitions: " + file + " is not a block device",
                          "create partition: " + file + " is not a block device",
                          "resize partition: " + file + " is not a block device",
                          "resize partition: " + file + " is not partition 1 of " + D,
                          "resize partition: " + disk->part(2) + " is not partition 1 of " + D,
                          "resize partition: " + D + " is not partition 1 of " + D,
                      }));
    std::ifstream in(file);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "precious");
    EXPECT_EQ(sizes(*disk), (std::map<std::uint32_t, std::uint64_t>{{1, 64 * MIB}, {2, 64 * MIB}}));
}

TEST(DiskOps, AFailureDoesNotStopTheBatchAndNodesFollowTheTable) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    const std::string D = disk->path();
    auto errors = install::apply_disk_ops({
        RemoteDiskOp::Create{D, 0, MIB},          // over the primary GPT: refused
        RemoteDiskOp::Delete{D, {2}},
        RemoteDiskOp::Create{D, 200 * MIB, 20 * MIB},
    });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("create partition: range 0+1048576 on " + D + " lies outside the usable area", 0), 0u)
        << errors[0];
    EXPECT_EQ(sizes(*disk), (std::map<std::uint32_t, std::uint64_t>{{1, 64 * MIB}, {2, 20 * MIB}}));
    // The kernel was told: partition 2 is the new one.
    EXPECT_EQ(disks::partition_range(D, 2), std::pair(200 * MIB, 20 * MIB));
    std::ifstream size_file("/sys/block/" + disk->name() + "/" + disk->name() + "p2/size");
    std::uint64_t sectors = 0;
    size_file >> sectors;
    EXPECT_EQ(sectors * 512, 20 * MIB);
}

TEST(DiskOps, WipeLeavesNoTableAndNoPartitionNodes) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_TRUE(exists(disk->part(1)));
    testing::internal::CaptureStderr();
    auto errors = install::apply_disk_ops({RemoteDiskOp::Wipe{disk->path()}});
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(errors.empty()) << errors[0];
    EXPECT_TRUE(sizes(*disk).empty());
    EXPECT_FALSE(exists(disk->part(1)));
}

// Real ext4: a grow is seen by the file system (the kernel learns the new
// size first), a shrink moves the file system before the table.
TEST(DiskOps, ExtGrowAndShrinkReachTheFileSystem) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", disk->part(1)}).exit_code, 0);
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", disk->part(2)}).exit_code, 0);
    testing::internal::CaptureStderr();
    auto errors = install::apply_disk_ops({
        resize(*disk, 1, 64 * MIB, 128 * MIB, "ext4"),
        resize(*disk, 2, 64 * MIB, 40 * MIB, "ext4"),
    });
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(sizes(*disk), (std::map<std::uint32_t, std::uint64_t>{{1, 128 * MIB}, {2, 40 * MIB}}));
    EXPECT_EQ(ext_bytes(disk->part(1)), 128 * MIB);
    EXPECT_EQ(ext_bytes(disk->part(2)), 40 * MIB);
    EXPECT_EQ(run_command({"e2fsck", "-f", "-n", disk->part(1)}).exit_code, 0);
    EXPECT_EQ(run_command({"e2fsck", "-f", "-n", disk->part(2)}).exit_code, 0);
}

TEST(DiskOps, FailedFileSystemShrinkLeavesThePartitionAlone) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", disk->part(1)}).exit_code, 0);
    testing::internal::CaptureStderr();
    auto errors = install::apply_disk_ops({resize(*disk, 1, 64 * MIB, 512 * 1024, "ext4")});
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("FS shrink " + disk->part(1) + ": resize2fs failed: ", 0), 0u) << errors[0];
    EXPECT_EQ(sizes(*disk)[1], 64 * MIB);
}

// What cannot be shrunk is refused whether the request names it or the
// device reveals it; only a partition with nothing in it moves alone.
TEST(DiskOps, ShrinkRefusalsAndFileSystemFreeMoves) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    auto luks = run_command({"cryptsetup", "luksFormat", "-q", "--type", "luks2", "--pbkdf", "pbkdf2",
                             "--pbkdf-force-iterations", "1000", disk->part(2), "-"},
                            "secret");
    if (luks.exit_code != 0) GTEST_SKIP() << "cryptsetup luksFormat: " << luks.err;
    const std::string P1 = disk->part(1), P2 = disk->part(2);
    auto errors = install::apply_disk_ops({
        resize(*disk, 1, 64 * MIB, 32 * MIB, "btrfs"),
        resize(*disk, 1, 64 * MIB, 32 * MIB, "swap"),
        resize(*disk, 2, 64 * MIB, 32 * MIB, "crypto_LUKS"),
        resize(*disk, 2, 64 * MIB, 32 * MIB, std::nullopt), // the request is silent; the device is not
    });
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "FS shrink unsupported for Btrfs on " + P1,
                          "FS shrink unsupported for Swap on " + P1,
                          "FS shrink unsupported for crypto_LUKS on " + P2,
                          "FS shrink unsupported for crypto_LUKS on " + P2,
                      }));
    EXPECT_EQ(sizes(*disk), (std::map<std::uint32_t, std::uint64_t>{{1, 64 * MIB}, {2, 64 * MIB}}));

    // Partition 1 holds nothing: shrink and grow move only its end, and an
    // unrecognised type on a grow touches no file system.
    errors = install::apply_disk_ops({resize(*disk, 1, 64 * MIB, 32 * MIB, std::nullopt)});
    EXPECT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(sizes(*disk)[1], 32 * MIB);
    errors = install::apply_disk_ops({resize(*disk, 1, 32 * MIB, 100 * MIB, "crypto_LUKS"),
                                      resize(*disk, 1, 100 * MIB, 100 * MIB, "ext4")}); // equal: nothing
    EXPECT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(sizes(*disk)[1], 100 * MIB);
}

TEST(DiskOps, GrowIntoTheNextPartitionIsRefused) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    auto errors = install::apply_disk_ops({resize(*disk, 1, 64 * MIB, 200 * MIB, std::nullopt)});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "resize partition: range 1048576+209715200 on " + disk->path() + " overlaps partition 2");
    EXPECT_EQ(sizes(*disk)[1], 64 * MIB);
}

// The request as the wizard sends it, through the real daemon.
TEST(DiskOpsDaemon, BatchOverTheSocket) {
    REQUIRE_LOOP();
    auto disk = two_partitions();
    ASSERT_TRUE(disk) << disk.error();
    auto daemon = support::DaemonProcess::start(TAVIX_INSTALLER_EXE, [](const std::string& root) {
        stdfs::create_directories(root + "/var/lib/tavix-installer");
        std::ofstream(root + "/var/lib/tavix-installer/install-pending") << "";
    });
    if (!daemon) GTEST_SKIP() << daemon.error();
    const std::string D = disk->path();
    const std::string line = R"({"cmd":"disk_ops","ops":[{"Delete":{"disk":")" + D + R"(","numbers":[2]}},)" +
                             R"({"Create":{"disk":")" + D + R"(","start_byte":0,"size_bytes":1048576}},)" +
                             R"({"Resize":{"disk":")" + D + R"(","part":")" + disk->part(1) +
                             R"(","number":1,"current_bytes":67108864,"new_bytes":134217728,"fs":null}}]})";
    auto ex = support::exchange((*daemon)->socket_path(), line + "\n");
    auto event = nlohmann::json::parse(ex.received);
    EXPECT_EQ(event["event"], "failed");
    EXPECT_EQ(event["message"].get<std::string>().rfind("create partition: range 0+1048576 on " + D, 0), 0u)
        << ex.received;
    EXPECT_EQ(sizes(*disk), (std::map<std::uint32_t, std::uint64_t>{{1, 128 * MIB}})) << ex.received << (*daemon)->log();
    EXPECT_FALSE(exists(disk->part(2))); // the kernel dropped the deleted partition

    ex = support::exchange((*daemon)->socket_path(),
                           R"({"cmd":"disk_ops","ops":[{"Create":{"disk":")" + D +
                               R"(","start_byte":209715200,"size_bytes":10485760}}]})" "\n");
    EXPECT_EQ(ex.received, "{\"event\":\"done\"}\n");
    EXPECT_EQ(sizes(*disk), (std::map<std::uint32_t, std::uint64_t>{{1, 128 * MIB}, {2, 10 * MIB}}));
}

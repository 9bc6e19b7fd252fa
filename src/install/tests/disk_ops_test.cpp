// The disk-operation batch on loop devices: real tables, real ext4 and LUKS,
// and once through the real daemon.

#include <base/units.hpp>
#include "disks/disks.hpp"
#include "install/disk_ops.hpp"
#include "install/layout.hpp"
#include "support/files.hpp"
#include "support/mounts.hpp"
#include "support/rooted_process.hpp"
#include "support/daemon_process.hpp"
#include "support/loop_disk.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <map>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

namespace {

std::string line_of(const ipc::Request& r) {
    auto text = ipc::encode(r);
    return text ? *text + "\n" : std::string();
}

std::string install_line(const std::string& disk, ipc::TargetMode mode, bool encrypt = false) {
    ipc::InstallPlan plan;
    plan.disk = disk;
    plan.mode = mode;
    plan.locale = "en";
    if (encrypt) plan.account = ipc::AccountSetup{"ann", "box", "pw"};
    plan.encrypt = encrypt;
    return line_of(ipc::Request::Install{plan});
}

std::string ops_line(RemoteDiskOp op) { return line_of(ipc::Request::DiskOps{{std::move(op)}}); }

// The message of the daemon's closing event (after any progress lines).
std::string failure_of(const std::string& received) {
    std::string last;
    std::istringstream in(received);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) last = line;
    if (last.empty()) return "(no answer)";
    auto event = nlohmann::json::parse(last, nullptr, false);
    if (event.is_discarded() || event["event"] != "failed") return "(not a failure) " + last;
    return event["message"];
}

} // namespace

// Requests a local user could send (the socket is open to all) or a wizard
// holding a stale disk list would send, through the real daemon. Each is
// refused before anything is written: the file or disk it names keeps
// every byte.
TEST(DiskOpsDaemon, HostileRequestsChangeNothing) {
    REQUIRE_LOOP();
    auto gpt = two_partitions();
    ASSERT_TRUE(gpt) << gpt.error();
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", gpt->part(1)}).exit_code, 0);
    // Logical 5 ends at sector 88063; the listed gap after it starts at 88064.
    auto mbr = LoopDisk::partitioned(256 * MIB, "label: dos\nstart=2048, size=20480\n"
                                                "start=40960, size=400000, type=5\nstart=43008, size=45056\n");
    ASSERT_TRUE(mbr) << mbr.error();
    support::TempDir dir;
    const std::string file = dir.path() + "/shadow";
    {
        std::string content;
        for (int i = 0; i < 60 * 1024; ++i) content.push_back(char('a' + i % 26));
        std::ofstream(file) << content;
    }
    const std::string link = dir.path() + "/disk-link";
    stdfs::create_symlink(gpt->path(), link);
    const std::string part_link = dir.path() + "/part-link";
    stdfs::create_symlink(gpt->part(1), part_link);
    auto daemon = support::DaemonProcess::start(TAVIX_INSTALLER_EXE, [](const std::string& root) {
        std::ofstream(root + "/var/lib/tavix-installer/install-pending") << "";
    });
    if (!daemon) GTEST_SKIP() << daemon.error();

    const std::string G = gpt->path(), M = mbr->path(), P1 = gpt->part(1), P2 = gpt->part(2);
    using ipc::TargetMode;
    struct Case {
        const char* name;
        std::string request;
        std::string watched; // the file or disk that must keep its bytes
        std::string message;
    };
    const std::vector<Case> cases = {
        {"install on a regular file", install_line(file, TargetMode::WholeDisk{}), file,
         file + " is not a block device"},
        {"free-space install on a regular file", install_line(file, TargetMode::FreeSpace{MIB, MIB}), file,
         file + " is not a block device"},
        {"install on a character device", install_line("/dev/null", TargetMode::WholeDisk{}), G,
         "/dev/null is not a block device"},
        {"install on a partition", install_line(P2, TargetMode::WholeDisk{}), G,
         P2 + " is a partition, not a whole disk"},
        {"install through a symbolic link", install_line(link, TargetMode::WholeDisk{}), G,
         link + " is a symbolic link, not a disk"},
        {"encrypted install into a partition too small", install_line(G, TargetMode::Partition{2}, true), G,
         "target region too small for an encrypted install"},
        {"wipe of a regular file", ops_line(RemoteDiskOp::Wipe{file}), file,
         "wipe disk: " + file + " is not a block device"},
        {"wipe of a partition", ops_line(RemoteDiskOp::Wipe{P1}), G,
         "wipe disk: " + P1 + " is a partition, not a whole disk"},
        {"wipe through a symbolic link", ops_line(RemoteDiskOp::Wipe{link}), G,
         "wipe disk: " + link + " is a symbolic link, not a disk"},
        {"shrink through a link to the partition",
         ops_line(RemoteDiskOp::Resize{G, part_link, 1, 64 * MIB, 32 * MIB, "ext4"}), G,
         "resize partition: " + part_link + " is not partition 1 of " + G},
        {"grow below the real size", ops_line(resize(*gpt, 1, 1, 20 * MIB, "ext4")), G,
         "resize partition: " + P1 + " has 67108864 bytes, not 1 as the request says; list the disks again"},
        {"shrink above the real size", ops_line(resize(*gpt, 1, 100 * MIB, 80 * MIB, "ext4")), G,
         "resize partition: " + P1 + " has 67108864 bytes, not 104857600 as the request says; list the disks again"},
        {"logical without room for its boot record", ops_line(RemoteDiskOp::Create{M, 88064 * 512, 20 * MIB}), M,
         "create partition: push logical on " + M + ": no room for the extended boot record in front of sector 88064"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = support::sha256(c.watched);
        auto ex = support::exchange((*daemon)->socket_path(), c.request);
        EXPECT_EQ(failure_of(ex.received), c.message) << (*daemon)->log();
        EXPECT_EQ(support::sha256(c.watched), before);
    }
    // The tools agree nothing moved.
    EXPECT_EQ(sizes(*gpt), (std::map<std::uint32_t, std::uint64_t>{{1, 64 * MIB}, {2, 64 * MIB}}));
    EXPECT_EQ(run_command({"e2fsck", "-f", "-n", P1}).exit_code, 0);
    auto verified = run_command({"sgdisk", "-v", G});
    EXPECT_NE(verified.out.find("No problems found"), std::string::npos) << verified.out;
    EXPECT_EQ(run_command({"blkid", "-p", "-o", "value", "-s", "TYPE", P1}).out, "ext4\n");
}

namespace {

std::string dev_of(const std::string& node) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0) return "0:0";
    return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}

// A /proc of the test's making: the mount table and swap list it holds,
// and the process's real descriptors (the disk is reopened through them).
platform::SystemPaths with_proc(const std::string& dir, const std::string& mountinfo, const std::string& swaps) {
    stdfs::create_directories(dir + "/self");
    support::write_file(dir + "/self/mountinfo", mountinfo);
    support::write_file(dir + "/swaps", "Filename\tType\tSize\tUsed\tPriority\n" + swaps);
    std::error_code ec;
    stdfs::create_symlink("/proc/self/fd", dir + "/self/fd", ec);
    platform::SystemPaths p = platform::paths();
    p.proc = dir;
    return p;
}

} // namespace

// A disk the running system stands on is never wiped, neither by a batch
// nor by a whole-disk install: the root on one of its partitions (directly,
// or under a live system's overlay whose lower layer is a loop device
// backed by a file on it), a partition that is active swap, and a mount
// that cannot be released. The running system's view comes from a /proc of
// the test's making (the busy mount is real).
TEST(DiskOps, TheRunningSystemsDiskIsNotWiped) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::partitioned(256 * MIB, "label: gpt\nsize=64MiB\nsize=64MiB\nsize=64MiB\n");
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", disk->part(1)}).exit_code, 0);
    // The live system's squashfs: a loop device over a file that, in the
    // made-up mount table, lies on partition 3.
    auto squash = LoopDisk::create(8 * MIB);
    ASSERT_TRUE(squash) << squash.error();
    const std::string medium_dir = stdfs::path(squash->image()).parent_path().string();
    const std::string D = disk->path(), P1 = disk->part(1), P2 = disk->part(2), P3 = disk->part(3);

    support::TempDir dir;
    auto busy = support::Mounted::create(P1);
    ASSERT_TRUE(busy) << busy.error();
    const std::string busy_dir = (*busy)->path();

    struct Case {
        const char* name;
        std::optional<platform::SystemPaths> paths; // absent: the real /proc
        std::string message;
    };
    int n = 0;
    auto proc = [&](const std::string& mountinfo, const std::string& swaps) {
        return with_proc(dir.path() + "/proc" + std::to_string(++n), mountinfo, swaps);
    };
    const std::vector<Case> cases = {
        {"root on partition 2", proc("20 1 " + dev_of(P2) + " / / rw - ext4 " + P2 + " rw\n", ""),
         P2 + " holds the running system"},
        {"live overlay on a loop file of partition 3",
         proc("20 1 0:30 / / rw - overlay overlay rw,lowerdir=/run/live/rootfs,upperdir=/run/live/cow/up,"
              "workdir=/run/live/cow/work\n"
              "21 20 0:31 / /run/live/cow rw - tmpfs tmpfs rw\n"
              "22 20 " + dev_of(P3) + " / " + medium_dir + " ro - ext4 " + P3 + " ro\n"
              "23 20 " + dev_of(squash->path()) + " / /run/live/rootfs ro - squashfs " + squash->path() + " ro\n",
              ""),
         P3 + " holds the running system"},
        {"partition 3 is swap", proc("20 1 0:30 / / rw - overlay overlay rw,lowerdir=/lower\n",
                                     P3 + "\tpartition\t65532\t0\t-2\n"),
         P3 + " is in use as swap"},
        {"a mount that stays", std::nullopt,
         P1 + " is still mounted at " + busy_dir + " and could not be unmounted"},
    };
    // Keeps the mount busy: an unmount now fails with EBUSY.
    const int held = ::open((busy_dir + "/lost+found").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<support::PathsGuard> guard;
        if (c.paths) guard.emplace(*c.paths);
        const std::string before = support::sha256(D);
        testing::internal::CaptureStderr();
        auto errors = install::apply_disk_ops({RemoteDiskOp::Wipe{D}});
        ipc::InstallPlan plan;
        plan.disk = D;
        plan.mode = ipc::TargetMode::WholeDisk{};
        auto layout = install::prepare_target(plan, false, "");
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors, std::vector<std::string>{"wipe disk: " + c.message});
        ASSERT_FALSE(layout);
        EXPECT_EQ(layout.error(), c.message);
        EXPECT_EQ(support::sha256(D), before);
    }
    ::close(held);
    EXPECT_EQ(sizes(*disk).size(), 3u);
    EXPECT_EQ(run_command({"e2fsck", "-f", "-n", P1}).exit_code, 0);

    // Once the mount can be released, it is, and the wipe goes ahead.
    testing::internal::CaptureStderr();
    auto errors = install::apply_disk_ops({RemoteDiskOp::Wipe{D}});
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(errors.empty()) << errors[0];
    EXPECT_FALSE(support::is_mount_point(busy_dir));
    EXPECT_TRUE(sizes(*disk).empty());
}

#include "install/command.hpp"
#include "install/file_systems.hpp"
#include "install/mounts.hpp"
#include "platform/system_paths.hpp"
#include "support/loop_disk.hpp"
#include "support/mounts.hpp"
#include "support/temp_dir.hpp"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(MountsOfDevice, SelectsTheDiskAndItsPartitionsOnly) {
    const std::string table =
        "/dev/sda1 /mnt ext4 rw 0 0\n"
        "/dev/sda2 /mnt/data ext4 rw 0 0\n"
        "/dev/sda12 /srv ext4 rw 0 0\n"
        "/dev/sda /whole ext4 rw 0 0\n"
        "/dev/sdab1 /other ext4 rw 0 0\n"
        "/dev/sdb1 /b ext4 rw 0 0\n"
        "/dev/nvme0n1p2 /n ext4 rw 0 0\n"
        "/dev/nvme0n10p1 /n10 ext4 rw 0 0\n"
        "/dev/nvme0n1 /n-whole ext4 rw 0 0\n"
        "/dev/loop1p1 /l1 ext4 rw 0 0\n"
        "/dev/loop10 /l10 ext4 rw 0 0\n"
        "/dev/loop1 /media/live\\040disk ext4 rw 0 0\n"
        "/dev/mmcblk0p1 /boot vfat rw 0 0\n"
        "/dev/mmcblk0boot0 /weird ext4 rw 0 0\n"
        "short-line\n"
        "\n"
        "overlay / overlay rw 0 0\n";
    struct Case {
        std::string device;
        std::vector<std::string> points;
    };
    const std::vector<Case> cases = {
        // Deeper mount points come first.
        {"/dev/sda", {"/whole", "/srv", "/mnt/data", "/mnt"}},
        // A partition owns no other partition: sda1 is not sda11's disk.
        {"/dev/sda1", {"/mnt"}},
        {"/dev/nvme0n1", {"/n-whole", "/n"}},
        {"/dev/loop1", {"/media/live disk", "/l1"}},
        {"/dev/loop10", {"/l10"}},
        {"/dev/mmcblk0", {"/boot"}},
        {"/dev/sdc", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(install::mounts_of_device(table, c.device), c.points) << c.device;
    }
}

// Every test here mounts; they run in a mount namespace of their own so that
// nothing leaks to the host even when a test fails half-way.
class Mounts : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
        static bool private_ns = false;
        if (!private_ns) {
            auto r = support::enter_private_mounts();
            if (!r) GTEST_SKIP() << r.error();
            private_ns = true;
        }
        saved_ = platform::paths();
    }
    void TearDown() override { platform::set_paths(saved_); }

    // A loop disk with two ext4 partitions.
    std::optional<support::LoopDisk> two_partition_disk() {
        auto img = support::LoopDisk::partitioned(64 << 20, "label: gpt\nsize=24MiB\nsize=24MiB\n");
        if (!img) return std::nullopt;
        for (int n : {1, 2}) {
            auto r = install::make_file_systems(img->part(n), std::nullopt, std::nullopt);
            if (!r) return std::nullopt;
        }
        return std::move(*img);
    }

    platform::SystemPaths saved_;
    support::TempDir dir_;
};

TEST_F(Mounts, MountRecordsAndUnmountAllReleases) {
    auto disk = two_partition_disk();
    if (!disk) GTEST_SKIP() << "no loop device";
    const std::string a = dir_ / "a", b = dir_ / "a/b";
    fs::create_directories(a);
    install::MountList list;
    ASSERT_TRUE(install::mount(disk->part(1), a, {}, list));
    fs::create_directories(b);
    ASSERT_TRUE(install::mount(disk->part(2), b, {"-t", "ext4"}, list));
    ASSERT_TRUE(install::mount("tmpfs", b + "/lost+found", {"-t", "tmpfs"}, list));
    EXPECT_EQ(list, (install::MountList{a, b, b + "/lost+found"}));

    // A failed mount reports mount's own words and records nothing.
    auto bad = install::mount(disk->part(1), dir_ / "missing", {}, list);
    ASSERT_FALSE(bad.has_value());
    EXPECT_TRUE(bad.error().starts_with("mount exited with exit status: 32: ")) << bad.error();
    EXPECT_EQ(list.size(), 3u);

    install::unmount_all(list);
    EXPECT_TRUE(list.empty());
    for (const auto& p : {a, b, b + "/lost+found"}) EXPECT_FALSE(support::is_mount_point(p)) << p;
}

TEST_F(Mounts, BusyTargetIsDetachedLazily) {
    auto disk = two_partition_disk();
    if (!disk) GTEST_SKIP() << "no loop device";
    const std::string a = dir_ / "busy";
    fs::create_directories(a);
    install::MountList list;
    ASSERT_TRUE(install::mount(disk->part(1), a, {}, list));
    // An open file keeps a plain umount refusing with "target is busy".
    int held = ::open((a + "/held").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    install::unmount_all(list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(support::is_mount_point(a));
    ::close(held);
}

TEST_F(Mounts, UnmountDiskReleasesNestedPartitionsDeepestFirst) {
    auto disk = two_partition_disk();
    if (!disk) GTEST_SKIP() << "no loop device";
    const std::string mnt = dir_ / "mnt", data = dir_ / "mnt/data";
    fs::create_directories(mnt);
    install::MountList list;
    ASSERT_TRUE(install::mount(disk->part(1), mnt, {}, list));
    fs::create_directories(data);
    ASSERT_TRUE(install::mount(disk->part(2), data, {}, list));
    // A file system of another disk stays put.
    auto other = support::LoopDisk::create(16 << 20);
    ASSERT_TRUE(other.has_value()) << other.error();
    ASSERT_TRUE(install::make_file_systems(other->path(), std::nullopt, std::nullopt));
    const std::string keep = dir_ / "keep";
    fs::create_directories(keep);
    ASSERT_TRUE(install::mount(other->path(), keep, {}, list));

    // unmount_disk ignores failures: had it taken /mnt first, /mnt would
    // still be mounted (busy with /mnt/data below it).
    install::unmount_disk(disk->path());
    EXPECT_FALSE(support::is_mount_point(data));
    EXPECT_FALSE(support::is_mount_point(mnt));
    EXPECT_TRUE(support::is_mount_point(keep));
    install::MountList rest{keep};
    install::unmount_all(rest);
}

TEST_F(Mounts, BindMountsUnderTheTargetRoot) {
    const std::string root = dir_ / "root";
    for (const char* d : {"dev", "proc", "sys"}) fs::create_directories(root + "/" + d);
    auto p = platform::paths();
    p.target_root = root;
    platform::set_paths(p);

    install::MountList list;
    auto r = install::bind_mounts(list);
    ASSERT_TRUE(r.has_value()) << r.error();
    install::MountList want{root + "/dev", root + "/dev/pts", root + "/proc", root + "/sys"};
    if (fs::exists("/sys/firmware/efi/efivars")) want.push_back(root + "/sys/firmware/efi/efivars");
    EXPECT_EQ(list, want);
    EXPECT_TRUE(fs::exists(root + "/proc/self/mounts"));
    EXPECT_TRUE(fs::exists(root + "/sys/class"));
    install::unmount_all(list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(support::is_mount_point(root + "/dev"));

    // Without "proc" under the root the third mount fails and ends the step:
    // the first two stay recorded for the clean-up, sysfs is never tried.
    fs::remove(root + "/proc");
    r = install::bind_mounts(list);
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().starts_with("mount exited with exit status: 32: ")) << r.error();
    EXPECT_EQ(list, (install::MountList{root + "/dev", root + "/dev/pts"}));
    install::unmount_all(list);
    EXPECT_FALSE(support::is_mount_point(root + "/dev"));
}

TEST_F(Mounts, MediumDisk) {
    auto disk = two_partition_disk();
    if (!disk) GTEST_SKIP() << "no loop device";
    const std::string proc = dir_ / "proc";
    fs::create_directories(proc + "/self");
    auto p = platform::paths();
    p.proc = proc;
    platform::set_paths(p);
    const std::string dev_name = fs::path(disk->path()).filename().string();

    struct Case {
        const char* name;
        std::optional<std::string> mounts; // absent: unreadable
        std::optional<std::string> disk;
    };
    const std::vector<Case> cases = {
        {"root on a partition", disk->part(2) + " / ext4 rw 0 0\n", "/dev/" + dev_name},
        {"root on the whole device", disk->path() + " / ext4 rw 0 0\n", "/dev/" + dev_name},
        {"first root line wins",
         "overlay / overlay rw 0 0\n" + disk->part(1) + " / ext4 rw 0 0\n", std::nullopt},
        {"live overlay", "proc /proc proc rw 0 0\noverlay / overlay rw 0 0\n", std::nullopt},
        {"no root line", "proc /proc proc rw 0 0\n", std::nullopt},
        {"unknown device", "/dev/tavix-none / ext4 rw 0 0\n", std::nullopt},
        {"unreadable table", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(proc + "/self/mounts");
        if (c.mounts) std::ofstream(proc + "/self/mounts") << *c.mounts;
        EXPECT_EQ(install::medium_disk(), c.disk);
    }
}

TEST_F(Mounts, MakeFileSystems) {
    auto img = support::LoopDisk::partitioned(128 << 20,
                                             "label: gpt\nsize=40MiB\nsize=24MiB\nsize=40MiB\n");
    if (!img) GTEST_SKIP() << img.error();
    auto& disk = *img;
    auto r = install::make_file_systems(disk.part(1), disk.part(2), disk.part(3));
    ASSERT_TRUE(r.has_value()) << r.error();
    struct Want {
        int n;
        const char* type;
        const char* label;
    };
    for (const Want& w : {Want{1, "ext4", "tavix-root"}, Want{2, "ext4", "tavix-boot"},
                          Want{3, "vfat", "EFI"}}) {
        auto out = support::capture_output({"blkid", "-p", "-o", "export", disk.part(w.n)});
        ASSERT_TRUE(out.has_value()) << out.error();
        EXPECT_NE(out->find(std::string("\nTYPE=") + w.type + "\n"), std::string::npos) << *out;
        EXPECT_NE(out->find(std::string("LABEL=") + w.label + "\n"), std::string::npos) << *out;
    }
    auto fat = support::capture_output({"blkid", "-p", "-o", "export", disk.part(3)});
    EXPECT_NE(fat->find("VERSION=FAT32"), std::string::npos) << *fat;

    // The first failure ends the step: the ESP after a failed /boot is untouched.
    ASSERT_TRUE(install::run({"wipefs", "-a", "-q", disk.part(3)}));
    r = install::make_file_systems(disk.part(1), dir_ / "no-such-node", disk.part(3));
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().starts_with("mkfs.ext4 exited with exit status: 1: ")) << r.error();
    auto after = support::capture_output({"blkid", "-p", "-o", "export", disk.part(3)});
    EXPECT_EQ(after.value_or("").find("\nTYPE="), std::string::npos) << after.value_or("");
}

} // namespace

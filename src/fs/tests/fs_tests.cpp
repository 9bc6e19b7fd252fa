// File-system kinds, tool lookup, the tools' report readers, and real ext4
// grown and shrunk on loop devices.

#include <base/units.hpp>
#include "disks/edit.hpp"
#include "fs/fs.hpp"
#include "support/loop_disk.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>
#include <unistd.h>

using fs::FsKind;
using support::LoopDisk;
using support::run_command;
namespace stdfs = std::filesystem;

namespace {

using base::MIB;

// Sets PATH (or unsets it) for one test and restores it.
class PathEnv {
public:
    explicit PathEnv(const char* value) {
        if (const char* old = std::getenv("PATH")) saved_ = old;
        if (value) ::setenv("PATH", value, 1);
        else ::unsetenv("PATH");
    }
    ~PathEnv() {
        if (saved_) ::setenv("PATH", saved_->c_str(), 1);
        else ::unsetenv("PATH");
    }

private:
    std::optional<std::string> saved_;
};

std::uint64_t dumpe2fs_field(const std::string& node, const std::string& field) {
    auto r = run_command({"dumpe2fs", "-h", node});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1));
    ADD_FAILURE() << "no " << field << " in dumpe2fs output";
    return 0;
}

} // namespace

TEST(FsKind, FromBlkidNames) {
    const std::vector<std::pair<std::optional<std::string>, FsKind>> cases = {
        {"ext2", FsKind::Ext},          {"ext3", FsKind::Ext},        {"ext4", FsKind::Ext},
        {"EXT4", FsKind::Ext},          {"btrfs", FsKind::Btrfs},     {"xfs", FsKind::Xfs},
        {"ntfs", FsKind::Ntfs},         {"vfat", FsKind::Fat},        {"FAT32", FsKind::Fat},
        {"fat12", FsKind::Fat},         {"fat16", FsKind::Fat},       {"exfat", FsKind::Exfat},
        {"swap", FsKind::Swap},         {"linux-swap", FsKind::Swap}, {"linux-swap(v1)", FsKind::Swap},
        {"crypto_LUKS", FsKind::Unknown}, {"", FsKind::Unknown},      {std::nullopt, FsKind::Unknown},
        {"ext4 ", FsKind::Unknown},
    };
    for (const auto& [name, kind] : cases) EXPECT_EQ(FsKind::from_name(name), kind) << name.value_or("(absent)");
    const std::vector<std::pair<FsKind, std::string>> names = {
        {FsKind::Ext, "Ext"},     {FsKind::Btrfs, "Btrfs"}, {FsKind::Xfs, "Xfs"},   {FsKind::Ntfs, "Ntfs"},
        {FsKind::Fat, "Fat"},     {FsKind::Exfat, "Exfat"}, {FsKind::Swap, "Swap"}, {FsKind::Unknown, "Unknown"},
    };
    for (const auto& [kind, text] : names) EXPECT_EQ(kind.name(), text);
}

TEST(FindInPath, RegularFilesOnlyAndEmptyPiecesMeanHere) {
    support::TempDir dir;
    const std::string sbin = dir.path() + "/sbin", bin = dir.path() + "/bin";
    stdfs::create_directories(sbin);
    stdfs::create_directories(bin);
    std::ofstream(sbin + "/resize2fs") << "";                // not executable: still counts
    stdfs::create_symlink(sbin + "/resize2fs", bin + "/linked");
    stdfs::create_directories(bin + "/tune2fs");             // a directory does not count
    {
        PathEnv env((sbin + ":" + bin).c_str());
        EXPECT_TRUE(fs::find_in_path("resize2fs"));
        EXPECT_TRUE(fs::find_in_path("linked"));
        EXPECT_FALSE(fs::find_in_path("tune2fs"));
        EXPECT_FALSE(fs::find_in_path("ntfsresize"));
        EXPECT_FALSE(fs::resize_supported(FsKind::Ntfs));
        EXPECT_FALSE(fs::resize_supported(FsKind::Ext)); // tune2fs missing
        EXPECT_FALSE(fs::resize_supported(FsKind::Btrfs));
    }
    {
        stdfs::remove(bin + "/tune2fs");
        std::ofstream(bin + "/tune2fs") << "";
        PathEnv env((sbin + ":" + bin).c_str());
        EXPECT_TRUE(fs::resize_supported(FsKind::Ext));
    }
    {
        auto cwd = stdfs::current_path();
        stdfs::current_path(sbin);
        PathEnv env(("/nonexistent::" + bin).c_str());
        EXPECT_TRUE(fs::find_in_path("resize2fs"));
        stdfs::current_path(cwd);
    }
    {
        PathEnv env(nullptr);
        EXPECT_FALSE(fs::find_in_path("sh"));
    }
    {
        PathEnv env((sbin + ":\xff").c_str());
        EXPECT_FALSE(fs::find_in_path("resize2fs"));
    }
}

TEST(Run, OutputAndBothFailureTexts) {
    auto ok = fs::run({"printf", "  two\\nlines \\n"});
    ASSERT_TRUE(ok) << ok.error();
    EXPECT_EQ(*ok, "  two\nlines \n"); // not trimmed

    testing::internal::CaptureStderr();
    auto failed = fs::run({"sh", "-c", "echo partial; printf ' \\t oops\\n\\n' >&2; exit 3"});
    auto missing = fs::run({"tavix-no-such-program", "x"});
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), "sh failed: oops");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "spawn tavix-no-such-program: No such file or directory");
    EXPECT_EQ(log, "fs::run: sh failed: oops\nfs::run: spawn tavix-no-such-program: No such file or directory\n");
}

TEST(ToolReports, MinimumSizesAndBlockSize) {
    EXPECT_EQ(fs::parse_resize2fs_minimum("resize2fs 1.47.0 (5-Feb-2023)\nEstimated minimum size of the filesystem: 12345\n"),
              12345u);
    EXPECT_EQ(fs::parse_resize2fs_minimum("label: +77: later\r\n"), 77u);
    // The first line with a colon decides, even when it holds no number.
    EXPECT_EQ(fs::parse_resize2fs_minimum("first: none\nsecond: 5\n"), std::nullopt);
    EXPECT_EQ(fs::parse_resize2fs_minimum("no colon at all\n"), std::nullopt);

    EXPECT_EQ(fs::parse_block_size("Filesystem volume name:   <none>\nBlock size:               1024\n"), 1024u);
    EXPECT_EQ(fs::parse_block_size("  Block size: 1024\n"), std::nullopt); // must begin the line
    EXPECT_EQ(fs::parse_block_size("Block size: big\n"), std::nullopt);

    EXPECT_EQ(fs::parse_ntfsresize_minimum("Checking filesystem consistency ...\n"
                                           "You might resize at 5000000000 bytes or 5000 MB (freeing 1 MB).\n"),
              5000000000u);
    EXPECT_EQ(fs::parse_ntfsresize_minimum("resize at many bytes\nresize at 42 bytes\n"), 42u);
    EXPECT_EQ(fs::parse_ntfsresize_minimum("nothing here\n"), std::nullopt);

    EXPECT_EQ(fs::parse_fatresize_minimum("FAT: fat32\n  Min size: 33554432\nMax size: 1\n"), 33554432u);
    EXPECT_EQ(fs::parse_fatresize_minimum("Min size: x\nMin size: 5\n"), std::nullopt);
    EXPECT_EQ(fs::parse_fatresize_minimum("Size: 5\n"), std::nullopt);
}

TEST(ExtShrinkTarget, WholeMebibytesNeverBelowOne) {
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {
        {10 * MIB + MIB / 2, "10M"}, {MIB + MIB / 2, "1M"}, {300 * 1024, "1M"}, {0, "1M"},
        {2 * MIB, "2M"},             {2 * MIB - 1, "1M"},   {1ull << 40, "1048576M"},
    };
    for (const auto& [size, text] : cases) EXPECT_EQ(fs::ext_shrink_target(size), text) << size;
}

TEST(UnsupportedKinds, RefusedWithoutRunningAnything) {
    PathEnv env("/nonexistent"); // nothing could run anyway
    auto g = fs::grow("/dev/null", FsKind::Btrfs, MIB);
    ASSERT_FALSE(g);
    EXPECT_EQ(g.error(), "grow unsupported for Btrfs");
    auto s = fs::shrink("/dev/null", FsKind::from_name(std::nullopt), MIB);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error(), "shrink unsupported for Unknown");
    EXPECT_EQ(fs::min_size("/dev/null", FsKind::Xfs), std::nullopt);
}

// Real ext4 on a loop partition: the minimum is what the tools report, a
// shrink honours the target, a grow fills the partition.
TEST(ExtOnLoop, MinimumShrinkAndGrow) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto disk = LoopDisk::create(256 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"sfdisk", "-q", disk->path()}, "label: gpt\nstart=2048, size=131072\n").exit_code, 0);
    ASSERT_TRUE(disk->refresh());
    const std::string node = disk->part(1);
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", "-b", "1024", node}).exit_code, 0);
    EXPECT_TRUE(fs::resize_supported(FsKind::Ext));

    auto min = fs::min_size(node, FsKind::Ext);
    ASSERT_TRUE(min);
    auto p = run_command({"resize2fs", "-P", node});
    auto blocks = fs::parse_resize2fs_minimum(p.out);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(*min, *blocks * 1024); // the block size comes from tune2fs, not the 4096 default

    testing::internal::CaptureStderr();
    ASSERT_TRUE(fs::shrink(node, FsKind::Ext, 40 * MIB + 1000));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(dumpe2fs_field(node, "Block count"), 40u * 1024);

    // Grow the partition first, as the batch does, then the file system.
    ASSERT_TRUE(disks::resize_partition(disk->path(), 1, 100 * MIB));
    ASSERT_TRUE(disk->refresh());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(fs::grow(node, FsKind::Ext, 100 * MIB));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(dumpe2fs_field(node, "Block count"), 100u * 1024);
    EXPECT_EQ(run_command({"e2fsck", "-f", "-n", node}).exit_code, 0);
}

TEST(ExtOnLoop, FailingShrinkReportsTheToolsText) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto disk = LoopDisk::create(64 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", disk->path()}).exit_code, 0);
    testing::internal::CaptureStderr();
    auto r = fs::shrink(disk->path(), FsKind::Ext, 300 * 1024); // far below its minimum
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().rfind("resize2fs failed: ", 0), 0u) << r.error();
    EXPECT_NE(log.find("fs::run: " + r.error()), std::string::npos);
}

// ntfsresize and fatresize as installed.
TEST(OtherToolsOnLoop, NtfsMinimumAndShrink) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    if (!fs::find_in_path("mkntfs") || !fs::resize_supported(FsKind::Ntfs)) GTEST_SKIP() << "ntfs tools not installed";
    auto disk = LoopDisk::create(64 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"mkntfs", "-q", "-F", "-f", disk->path()}).exit_code, 0);
    testing::internal::CaptureStderr();
    auto min = fs::min_size(disk->path(), FsKind::Ntfs);
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(min) << log;
    EXPECT_GT(*min, 0u);
    EXPECT_LT(*min, 64 * MIB);

    testing::internal::CaptureStderr();
    auto shrunk = fs::shrink(disk->path(), FsKind::Ntfs, 40 * MIB);
    log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(shrunk) << shrunk.error();
    auto info = run_command({"ntfsresize", "--info", "--force", disk->path()});
    auto at = info.out.find("Current volume size: ");
    ASSERT_NE(at, std::string::npos) << info.out;
    std::uint64_t now = std::stoull(info.out.substr(at + 21));
    EXPECT_LE(now, 40 * MIB);
    EXPECT_GT(now, 39 * MIB);
}

TEST(OtherToolsOnLoop, FatMinimumIsWhatFatresizeReports) {
    if (auto why = LoopDisk::unavailable()) GTEST_SKIP() << *why;
    if (!fs::resize_supported(FsKind::Fat) || !fs::find_in_path("mkfs.vfat")) GTEST_SKIP() << "FAT tools not installed";
    auto disk = LoopDisk::create(128 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"sfdisk", "-q", disk->path()}, "label: dos\nstart=2048, size=200000, type=c\n").exit_code, 0);
    ASSERT_TRUE(disk->refresh());
    auto mkfs = run_command({"mkfs.vfat", "-F", "32", disk->part(1)});
    ASSERT_EQ(mkfs.exit_code, 0) << mkfs.out << mkfs.err;
    // fatresize 1.1 cannot find the disk of a partition on a loop device
    // numbered 10 or more, and says nothing but its version.
    auto info = run_command({"fatresize", "--info", disk->part(1)});
    if (info.exit_code != 0) GTEST_SKIP() << "fatresize cannot read " << disk->part(1) << ": " << info.out << info.err;
    auto expected = fs::parse_fatresize_minimum(info.out);
    ASSERT_TRUE(expected) << info.out;
    EXPECT_EQ(fs::min_size(disk->part(1), FsKind::Fat), expected);
}

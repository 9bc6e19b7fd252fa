#include "install/bootloader.hpp"
#include "install/pipeline.hpp"
#include "platform/system_paths.hpp"
#include "support/loop_disk.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>
#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t GIB = 1ull << 30;

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(RootSizeCheck, NeedIsUsedPlusATenthPlusOneGib) {
    struct Case {
        std::optional<std::uint64_t> have, used;
        std::string error; // empty: passes
    };
    const std::uint64_t used = 5'000'000'000;
    const std::uint64_t need = used + used / 10 + GIB; // 6,573,741,824
    const std::vector<Case> cases = {
        {need, used, ""},
        {need - 1, used, "/dev/sdb2 has 6.6 GB but the system needs at least 6.6 GB"},
        {1'000'000'000, used, "/dev/sdb2 has 1.0 GB but the system needs at least 6.6 GB"},
        {0, 0, "/dev/sdb2 has 0.0 GB but the system needs at least 1.1 GB"},
        // Either number unknown: no check.
        {std::nullopt, used, ""},
        {1, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        auto r = install::check_root_size("/dev/sdb2", c.have, c.used);
        EXPECT_EQ(r ? std::string() : r.error(), c.error);
    }
}

TEST(RootSizeCheck, SizeFromSysfs) {
    support::TempDir sys;
    auto saved = platform::paths();
    auto p = saved;
    p.sys = sys.path();
    platform::set_paths(p);
    struct Case {
        std::string name, content;
        std::optional<std::uint64_t> bytes;
    };
    const std::vector<Case> cases = {
        {"sdb2", "2048\n", 1048576}, {"sdc1", " +4 ", 2048}, {"sdd1", "x", std::nullopt}, {"sde1", "", std::nullopt}};
    for (const auto& c : cases) {
        std::filesystem::create_directories(sys / ("class/block/" + c.name));
        std::ofstream(sys / ("class/block/" + c.name + "/size")) << c.content;
        EXPECT_EQ(install::block_device_bytes("/dev/" + c.name), c.bytes) << c.name;
    }
    // An opened container has no entry of that name.
    EXPECT_EQ(install::block_device_bytes("/dev/mapper/tavix_crypt"), std::nullopt);
    platform::set_paths(saved);
}

TEST(Bootloader, UefiWithoutAnEspInstallsNothing) {
    ipc::InstallPlan plan;
    plan.disk = "/dev/tavix-none";
    plan.mode = ipc::TargetMode::Partition{2};
    install::TargetLayout layout{"/dev/tavix-none2", std::nullopt, std::nullopt, std::nullopt, false};
    auto r = install::install_bootloader(plan, layout, platform::BootScheme::Efi);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "no bootloader could be installed");
}

// On a U-Boot board a fresh whole-disk layout gets the medium's U-Boot area
// (32 KiB up to 16 MiB), unless the medium is the target itself or unknown;
// then the root is named in the copy's extlinux settings.
TEST(Bootloader, UbootAreaOfTheMediumOnAWholeDisk) {
    if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto medium = support::LoopDisk::create(20 << 20);
    ASSERT_TRUE(medium) << medium.error();
    {
        std::string pattern(20 << 20, '\0');
        for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = char('a' + i % 23);
        std::ofstream(medium->path(), std::ios::binary | std::ios::in | std::ios::out) << pattern;
    }
    struct Case {
        const char* name;
        std::string root_source; // "/" in the mount table; "" for the target itself
        bool copied;
        bool logged;
    };
    const std::vector<Case> cases = {
        {"medium elsewhere", medium->path(), true, false},
        {"medium is the target", "", false, false},
        {"live root on an overlay", "overlay", false, true},
    };
    auto saved = platform::paths();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto target = support::LoopDisk::create(20 << 20);
        ASSERT_TRUE(target) << target.error();
        support::TempDir dir;
        std::filesystem::create_directories(dir / "proc/self");
        std::ofstream(dir / "proc/self/mounts")
            << (c.root_source.empty() ? target->path() : c.root_source) << " / ext4 rw 0 0\n";
        auto p = saved;
        p.proc = dir / "proc";
        p.target_root = dir / "root";
        std::filesystem::create_directories(p.target_root + "/etc/default");
        platform::set_paths(p);

        ipc::InstallPlan plan;
        plan.disk = target->path();
        plan.mode = ipc::TargetMode::WholeDisk{};
        install::TargetLayout layout{"/dev/mapper/tavix_crypt", std::nullopt, target->part(1), target->part(2), false};
        testing::internal::CaptureStderr();
        auto r = install::install_bootloader(plan, layout, platform::BootScheme::Extlinux);
        const std::string err = testing::internal::GetCapturedStderr();
        platform::set_paths(saved);
        // No u-boot-update in this bare root: the last step fails with chroot's text.
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().starts_with("chroot exited with ")) << r.error();
        EXPECT_EQ(read(p.target_root + "/etc/default/u-boot"), "U_BOOT_ROOT=\"root=/dev/mapper/tavix_crypt\"\n");
        EXPECT_EQ(err.find("install: cannot locate the medium's disk, u-boot area not copied\n") != std::string::npos,
                  c.logged)
            << err;
        const std::string src = read(medium->path()), dst = read(target->path());
        ASSERT_EQ(dst.size(), std::size_t(20 << 20));
        EXPECT_EQ(dst.substr(0, 32768), std::string(32768, '\0'));
        EXPECT_EQ(dst.substr(32768, (16 << 20) - 32768) == src.substr(32768, (16 << 20) - 32768), c.copied);
        EXPECT_EQ(dst.substr(16 << 20), std::string((20 << 20) - (16 << 20), '\0'));
    }
}

} // namespace

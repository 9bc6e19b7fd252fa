// Boot scheme detection and the U-Boot steps. Commands inside a root run in a
// writable overlay of the Debian test root, where u-boot-update and mkimage
// are logging stand-ins (no board to build for here).
#include "install/boot_platform.hpp"
#include "platform/system_paths.hpp"
#include "support/debian_root.hpp"
#include "support/files.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace {

namespace stdfs = std::filesystem;

using support::read_file;
using support::write_file;
using support::PathsGuard;

TEST(BootScheme, FirstExistingProbeWins) {
    struct Case {
        const char* name;
        std::vector<std::string> present; // below the temp dir: sys/..., root/...
        platform::BootScheme scheme;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, platform::BootScheme::Efi},
        {"EFI firmware", {"sys/firmware/efi/", "root/boot/extlinux/extlinux.conf"}, platform::BootScheme::Efi},
        {"extlinux and a boot script", {"root/boot/extlinux/extlinux.conf", "root/boot/boot.scr"},
         platform::BootScheme::Extlinux},
        {"boot script", {"root/boot/boot.scr"}, platform::BootScheme::BootScr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        support::TempDir dir;
        stdfs::create_directories(dir.path() + "/sys");
        stdfs::create_directories(dir.path() + "/root");
        for (const auto& p : c.present) {
            if (p.ends_with("/"))
                stdfs::create_directories(dir.path() + "/" + p);
            else
                write_file(dir.path() + "/" + p, "");
        }
        platform::SystemPaths paths;
        paths.sys = dir.path() + "/sys";
        paths.host_root = dir.path() + "/root";
        PathsGuard guard(paths);
        EXPECT_EQ(platform::detect_boot_scheme(), c.scheme);
    }
}

TEST(BootScheme, LineRewriters) {
    EXPECT_EQ(platform::set_envtxt_rootdev("rootdev=/dev/mmcblk0p2", "UUID=ab"), "rootdev=UUID=ab");
    EXPECT_EQ(platform::set_envtxt_rootdev(" rootdev=x", "UUID=ab"), " rootdev=x");
    EXPECT_EQ(platform::set_bootcmd_rootdev("setenv rootdev /dev/sda1", "UUID=ab"), "setenv rootdev \"UUID=ab\"");
    EXPECT_EQ(platform::set_bootcmd_rootdev("setenv rootdevice x", "UUID=ab"), "setenv rootdevice x");
}

TEST(UbootArea, CopiesTheRangeBetween32KiBAnd16MiB) {
    support::TempDir dir;
    const std::string src = dir.path() + "/src", dst = dir.path() + "/dst";
    struct Case {
        const char* name;
        std::size_t source_bytes;
    };
    const std::vector<Case> cases = {{"large source", 20u << 20}, {"source smaller than 16 MiB", 5u << 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string s(c.source_bytes, '\0');
        for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
        write_file(src, s);
        const std::string before(20u << 20, 'Z');
        write_file(dst, before);
        ASSERT_TRUE(platform::copy_uboot_area(src, dst));
        const std::string after = *read_file(dst);
        ASSERT_EQ(after.size(), before.size());
        const std::size_t end = std::min<std::size_t>(c.source_bytes, 16u << 20);
        EXPECT_EQ(after.substr(0, 32768), before.substr(0, 32768));
        EXPECT_TRUE(after.substr(32768, end - 32768) == s.substr(32768, end - 32768));
        EXPECT_EQ(after.substr(end), before.substr(end));
    }
    // The target is opened, never created.
    auto r = platform::copy_uboot_area(src, dir.path() + "/missing");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "open " + dir.path() + "/missing: No such file or directory");
    EXPECT_FALSE(stdfs::exists(dir.path() + "/missing"));
    r = platform::copy_uboot_area(dir.path() + "/none", dst);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "open " + dir.path() + "/none: No such file or directory");
}

class BootFiles : public ::testing::Test {
protected:
    void SetUp() override {
        auto pristine = support::debian_root();
        if (!pristine) GTEST_SKIP() << pristine.error();
        auto o = support::OverlayRoot::create(*pristine, "overlay");
        ASSERT_TRUE(o) << o.error();
        root_ = std::move(*o);
        R = root_->path();
        for (const char* s : {"u-boot-update", "mkimage"}) support::install_standin(R, s);
    }
    std::unique_ptr<support::OverlayRoot> root_;
    std::string R;
};

TEST_F(BootFiles, UbootRootIsNamedAndTheMenuRegenerated) {
    struct Case {
        const char* name;
        std::optional<std::string> before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"missing file", std::nullopt, "U_BOOT_ROOT=\"root=UUID=42\"\n"},
        {"commented line", "# settings\r\n#U_BOOT_ROOT=\"root=/dev/sda\"\nU_BOOT_TIMEOUT=\"10\"",
         "# settings\nU_BOOT_ROOT=\"root=UUID=42\"\nU_BOOT_TIMEOUT=\"10\"\n"},
        {"no such line", "U_BOOT_TIMEOUT=\"10\"\n", "U_BOOT_TIMEOUT=\"10\"\nU_BOOT_ROOT=\"root=UUID=42\"\n"},
        {"two lines", "U_BOOT_ROOT=\"a\"\nU_BOOT_ROOT=\"b\"\n",
         "U_BOOT_ROOT=\"root=UUID=42\"\nU_BOOT_ROOT=\"root=UUID=42\"\n"},
    };
    const std::string path = R + "/etc/default/u-boot";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stdfs::remove(path);
        if (c.before) write_file(path, *c.before);
        ASSERT_TRUE(platform::set_uboot_root(R, "root=UUID=42"));
        EXPECT_EQ(read_file(path), c.after);
    }
    EXPECT_EQ(support::standin_calls(R), std::vector<std::string>(cases.size(), "u-boot-update"));
    // The generator's failure is the outcome; the rewritten file stays.
    support::standin_answer(R, "u-boot-update", "", 2, "broken\n");
    auto r = platform::set_uboot_root(R, "root=UUID=43");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "chroot exited with exit status: 2: broken");
    EXPECT_EQ(read_file(path), "U_BOOT_ROOT=\"root=UUID=43\"\nU_BOOT_ROOT=\"root=UUID=43\"\n");
}

TEST_F(BootFiles, BootScriptNamesTheRootAndIsCompiled) {
    write_file(R + "/boot/env.txt", "verbosity=1\nrootdev=/dev/mmcblk0p2\nrootdev=/dev/sda1\r\noverlays=x");
    write_file(R + "/boot/boot.cmd", "setenv rootdev /dev/mmcblk0p2\nsetenv rootdevice keep\nload ${devtype}\n");
    ASSERT_TRUE(platform::update_boot_scr(R, "UUID=42"));
    EXPECT_EQ(read_file(R + "/boot/env.txt"), "verbosity=1\nrootdev=UUID=42\nrootdev=UUID=42\noverlays=x\n");
    EXPECT_EQ(read_file(R + "/boot/boot.cmd"), "setenv rootdev \"UUID=42\"\nsetenv rootdevice keep\nload ${devtype}\n");
    EXPECT_EQ(support::standin_calls(R),
              std::vector<std::string>{"mkimage -C none -A arm64 -T script -d /boot/boot.cmd /boot/boot.scr"});

    // Without a rootdev line env.txt only gains line ends; without boot.cmd
    // the step fails before compiling, env.txt already rewritten.
    write_file(R + "/boot/env.txt", "verbosity=1\r\noverlays=x");
    stdfs::remove(R + "/boot/boot.cmd");
    auto r = platform::update_boot_scr(R, "UUID=42");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "read " + R + "/boot/boot.cmd: No such file or directory");
    EXPECT_EQ(read_file(R + "/boot/env.txt"), "verbosity=1\noverlays=x\n");
    EXPECT_EQ(support::standin_calls(R).size(), 1u);
}

TEST_F(BootFiles, RamdisksForEveryInitramfs) {
    for (const char* f : {"initrd.img-6.1.0", "initrd.img-6.6.3", "vmlinuz-6.6.3"}) write_file(R + "/boot/" + f, "x");
    ASSERT_TRUE(platform::make_uinitrd(R));
    auto calls = support::standin_calls(R);
    EXPECT_EQ(std::set<std::string>(calls.begin(), calls.end()),
              (std::set<std::string>{
                  "mkimage -n uInitrd -A arm64 -O linux -T ramdisk -C gzip -d /boot/initrd.img-6.1.0 /boot/uInitrd-6.1.0",
                  "mkimage -n uInitrd -A arm64 -O linux -T ramdisk -C gzip -d /boot/initrd.img-6.6.3 /boot/uInitrd-6.6.3"}));
    EXPECT_EQ(calls.size(), 2u);
    // The first failing build ends the step.
    support::standin_answer(R, "mkimage", "", 1, "bad image\n");
    auto r = platform::make_uinitrd(R);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "chroot exited with exit status: 1: bad image");
    EXPECT_EQ(support::standin_calls(R).size(), 3u);

    stdfs::remove_all(R + "/boot");
    r = platform::make_uinitrd(R);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "read " + R + "/boot: No such file or directory");
}

} // namespace

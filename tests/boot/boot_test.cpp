// Installs that boot: the AArch64 Debian root installed through the real
// daemon onto a loop disk, with the real grub-install, update-grub and
// update-initramfs running in the target under qemu-user, then the disk
// started in an emulated AArch64 machine with UEFI firmware. What only a real
// boot checks: that firmware finds the loader on the ESP, GRUB its
// configuration and the kernel, the initramfs the root (unlocking it first
// when encrypted), and systemd reaches the login prompt.
//
// Stand-ins on the live side only (tests/support/live_standins.hpp): FAT is
// mounted through mtools (no vfat mounting here). The encrypted install needs
// the real device-mapper: the container is opened with the real cryptsetup,
// GRUB's probe of "/" resolves /dev/mapper/tavix_crypt in the target, and the
// initramfs hook finds the root's crypt mapping through dmsetup and sysfs.
// None of that can be stood in for without standing in for what is checked,
// so on a kernel without device-mapper the encrypted case is skipped.
//
// Slow (a bootstrap of the root under emulation when it is not cached, minutes
// per boot without KVM): `make boot-test` runs it, `make test` does not.

#include <base/files.hpp>
#include <base/units.hpp>
#include "client/client.hpp"
#include "platform/system_paths.hpp"
#include "support/command.hpp"
#include "support/debian_root.hpp"
#include "support/emulated_machine.hpp"
#include "support/live_daemon.hpp"
#include "support/live_standins.hpp"
#include "support/loop_disk.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <gtest/gtest.h>

namespace sfs = std::filesystem;

namespace {

using namespace std::chrono_literals;
using base::MIB;
using Clock = std::chrono::steady_clock;

// Deadlines: reaching one means failure, so they are wide.
constexpr auto INSTALL_LIMIT = 40min;
constexpr auto BOOT_LIMIT = 20min;

const std::string PASSPHRASE = "s3cret pass";

// Why device-mapper cannot be used here, or nothing when it can.
std::optional<std::string> no_device_mapper() {
    const std::string misc = base::read_file("/proc/misc").value_or("");
    if (misc.find(" device-mapper\n") == std::string::npos)
        return std::string("this kernel has no device-mapper driver (no \"device-mapper\" in /proc/misc), so no "
                           "LUKS container can be opened for the install");
    return std::nullopt;
}

void write_file(const std::string& path, const std::string& text, sfs::perms mode = sfs::perms(0644)) {
    sfs::create_directories(sfs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    sfs::permissions(path, mode);
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void note(const std::string& text) {
    std::fprintf(stderr, "[boot] %s\n", text.c_str());
    std::fflush(stderr);
}

// Once the system is up, this unit of the image writes the root's source and
// the kernel command line to the console, where the test reads them.
const char* CHECK_SCRIPT = R"SH(#!/bin/sh
echo "tavix-boot-check root=$(findmnt -n -o SOURCE /) cmdline=$(cat /proc/cmdline) tavix-boot-check-end" > /dev/console
)SH";
const char* CHECK_UNIT = R"(
[Unit]
Description=Report the root and the kernel command line on the console
After=local-fs.target

[Service]
Type=oneshot
ExecStart=/usr/local/sbin/tavix-boot-check

[Install]
WantedBy=multi-user.target
)";

class BootOnEmulatedArm64 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (auto why = support::LoopDisk::unavailable()) {
            skip_ = *why;
            return;
        }
        if (auto why = support::EmulatedMachine::unavailable()) {
            skip_ = *why;
            return;
        }
        const auto started = Clock::now();
        auto root = support::arm64_root();
        if (!root) {
            skip_ = root.error();
            return;
        }
        note("AArch64 root ready in " + std::to_string(int(seconds_since(started))) + " s: " + *root);
        tree_ = *root;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        saved_ = platform::paths();
    }
    void TearDown() override {
        if (skip_.empty()) platform::set_paths(saved_);
    }

    std::string make_layer() {
        const std::string l = dir_.path() + "/layer";
        write_file(l + "/var/lib/tavix-installer/install-pending", "");
        write_file(l + "/usr/local/sbin/tavix-boot-check", CHECK_SCRIPT, sfs::perms(0755));
        write_file(l + "/etc/systemd/system/tavix-boot-check.service", CHECK_UNIT);
        sfs::create_directories(l + "/etc/systemd/system/multi-user.target.wants");
        sfs::create_symlink("../tavix-boot-check.service",
                            l + "/etc/systemd/system/multi-user.target.wants/tavix-boot-check.service");
        return l;
    }

    // The install through the real daemon; the daemon's log on failure.
    void install(const support::LoopDisk& disk, bool encrypt) {
        const std::string standins = dir_.path() + "/standins";
        // An encrypted install runs only where device-mapper works: the real
        // cryptsetup, and the kernel's /dev/mapper.
        support::write_live_standins(standins, !encrypt);
        auto daemon = support::LiveDaemon::start(TAVIX_INSTALLER_EXE, tree_, {make_layer()}, standins, !encrypt);
        ASSERT_TRUE(daemon) << daemon.error();
        platform::set_paths((*daemon)->client_paths());
        ipc::InstallPlan plan;
        plan.disk = disk.path();
        plan.mode = ipc::TargetMode::WholeDisk{};
        plan.locale = "en";
        plan.account = ipc::AccountSetup{"ann", "annbox", PASSPHRASE};
        plan.encrypt = encrypt;
        const auto started = Clock::now();
        auto handle = client::start_install(plan);
        install::InstallSnapshot end;
        const bool ended = support::wait_until(
            [&] {
                end = handle->snapshot();
                return end.done || end.error.has_value();
            },
            INSTALL_LIMIT);
        (*daemon)->wait_for_log(end.done ? "daemon: install finished" : "daemon: install failed");
        log_ = (*daemon)->log();
        ASSERT_TRUE(ended) << "install did not end: " << log_;
        ASSERT_TRUE(end.done) << end.error.value_or("") << "\n" << log_;
        note(std::string(encrypt ? "encrypted " : "") + "install took " + std::to_string(int(seconds_since(started))) +
             " s");
    }

    // The root file system's UUID as the engine wrote it into fstab; an
    // encrypted root is opened read-only with the passphrase for the look.
    std::string fstab_root_uuid(const std::string& node, bool encrypted = false) {
        const std::string mnt = dir_.path() + "/look";
        sfs::create_directories(mnt);
        const std::string look =
            encrypted ? "cryptsetup open --readonly --key-file - \"$1\" tavix_boot_look && "
                        "mount -o ro /dev/mapper/tavix_boot_look \"$2\" && cat \"$2/etc/fstab\"; s=$?; "
                        "umount \"$2\"; cryptsetup close tavix_boot_look; exit $s"
                      : "mount -o ro \"$1\" \"$2\" && cat \"$2/etc/fstab\"";
        auto r = support::run_command({"unshare", "-m", "--propagation", "private", "sh", "-c", look, "sh", node, mnt},
                                      PASSPHRASE);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        for (std::size_t at = 0; at < r.out.size();) {
            const std::size_t end = r.out.find('\n', at);
            const std::string line = r.out.substr(at, end - at);
            at = end == std::string::npos ? r.out.size() : end + 1;
            if (line.starts_with("UUID=") && line.find("\t/\t") != std::string::npos)
                return line.substr(5, line.find('\t') - 5);
        }
        ADD_FAILURE() << "no root line in fstab:\n" << r.out;
        return "";
    }

    // Boots the disk; types the passphrase when the initramfs asks for it.
    // Returns the kernel command line and the root's source, as the booted
    // system reported them.
    struct Booted {
        std::string cmdline, root;
    };
    Booted boot(const support::LoopDisk& disk, bool encrypted) {
        Booted b;
        const auto started = Clock::now();
        auto m = support::EmulatedMachine::start(disk.image(), dir_.path());
        if (!m) {
            ADD_FAILURE() << m.error();
            return b;
        }
        auto& machine = **m;
        if (encrypted) {
            const std::string prompt = "Please unlock disk tavix_crypt";
            if (!machine.wait_for(prompt, BOOT_LIMIT)) {
                ADD_FAILURE() << "no passphrase prompt:\n" << machine.console();
                return b;
            }
            note("passphrase prompt after " + std::to_string(int(seconds_since(started))) + " s");
            // askpass reads a line from the console once it has printed.
            const auto after = machine.find(prompt) + prompt.size();
            support::wait_until([&] { return machine.find(":", after) != std::string::npos; }, 60s);
            machine.type(PASSPHRASE + "\r");
        }
        const std::string marker = "tavix-boot-check root=", end_marker = " tavix-boot-check-end";
        if (!machine.wait_for(end_marker, BOOT_LIMIT)) {
            ADD_FAILURE() << "the system did not report in:\n" << machine.console();
            return b;
        }
        const std::string console = machine.console();
        const auto end = console.find(end_marker);
        const auto at = console.rfind(marker, end);
        if (at == std::string::npos) {
            ADD_FAILURE() << "no report line:\n" << console;
            return b;
        }
        const std::string line = console.substr(at + marker.size(), end - at - marker.size());
        const auto cmd = line.find(" cmdline=");
        b.root = line.substr(0, cmd);
        b.cmdline = cmd == std::string::npos ? "" : line.substr(cmd + 9);
        // The prompt may come before or after the report: getty starts beside it.
        if (!machine.wait_for("annbox login:", BOOT_LIMIT))
            ADD_FAILURE() << "no login prompt:\n" << machine.console();
        else
            note(std::string(encrypted ? "encrypted " : "") + "boot to the login prompt took " +
                 std::to_string(int(seconds_since(started))) + " s");
        write_file(dir_.path() + "/console.copy", machine.console());
        if (::testing::Test::HasFailure()) std::fprintf(stderr, "%s\n", machine.console().c_str());
        return b;
    }

    static inline std::string tree_;
    static inline std::string skip_;
    platform::SystemPaths saved_;
    support::TempDir dir_;
    std::string log_;
};

TEST_F(BootOnEmulatedArm64, UefiInstallReachesTheLoginPrompt) {
    auto disk = support::LoopDisk::create(4096 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_NO_FATAL_FAILURE(install(*disk, false));
    const std::string uuid = fstab_root_uuid(disk->part(2));
    ASSERT_FALSE(uuid.empty());
    auto booted = boot(*disk, false);
    EXPECT_NE((" " + booted.cmdline + " ").find(" root=UUID=" + uuid + " "), std::string::npos) << booted.cmdline;
    EXPECT_EQ(booted.root, "/dev/vda2");
}

TEST_F(BootOnEmulatedArm64, EncryptedUefiInstallUnlocksAtThePromptAndReachesTheLoginPrompt) {
    if (auto why = no_device_mapper()) GTEST_SKIP() << *why;
    auto disk = support::LoopDisk::create(4096 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_NO_FATAL_FAILURE(install(*disk, true));
    const std::string uuid = fstab_root_uuid(disk->part(3), true);
    ASSERT_FALSE(uuid.empty());
    auto booted = boot(*disk, true);
    EXPECT_NE((" " + booted.cmdline + " ").find(" root=UUID=" + uuid + " "), std::string::npos) << booted.cmdline;
    EXPECT_EQ(booted.root, "/dev/mapper/tavix_crypt");
}

} // namespace

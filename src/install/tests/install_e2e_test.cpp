// Whole installs through the real daemon, from a Debian root tree onto loop
// disks, checked afterwards the way a user would look at the result.
//
// Stand-ins replace what cannot run on this machine, and log their calls:
// on the live side (first on the daemon's PATH) cryptsetup open/close (no
// device-mapper: the container's data area is mapped through a loop device;
// luksFormat is the real one), clevis (no TPM), udevadm (no udev: settle
// makes the by-uuid links of the target's devices) and mount/umount for FAT (no
// vfat mounting: a tmpfs synchronised with mtools); inside the copied system (where chroot finds
// them) grub-install, update-grub, update-initramfs, u-boot-update and mkimage.

#include <base/files.hpp>
#include <base/units.hpp>
#include "install/engine.hpp"
#include "client/client.hpp"
#include "platform/system_paths.hpp"
#include "support/debian_root.hpp"
#include "support/installed_system.hpp"
#include "support/live_daemon.hpp"
#include "support/live_standins.hpp"
#include "support/loop_disk.hpp"
#include "support/wait.hpp"

#include <chrono>
#include <functional>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

namespace sfs = std::filesystem;

namespace {

using namespace std::chrono_literals;
using ipc::InstallPhase;

using base::MIB;

std::string read_file(const std::string& path) { return base::read_file(path).value_or(""); }

void write_file(const std::string& path, const std::string& text, sfs::perms mode = sfs::perms(0644)) {
    sfs::create_directories(sfs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    sfs::permissions(path, mode);
}

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

struct Live {
    std::string scheme = "efi"; // "efi", "extlinux", "bootscr"
    std::vector<std::string> fail; // target stand-ins that fail
    std::vector<std::pair<std::string, std::string>> standins = {}; // extra live-side programs
    // The client asks to cancel once it sees a step for which this is true.
    std::function<bool(ipc::InstallPhase, float)> cancel_at = {};
};

struct Step {
    InstallPhase phase;
    float fraction;
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << "(" << ipc::phase_name(s.phase) << ", " << s.fraction << ")";
}

struct Outcome {
    install::InstallSnapshot end;
    std::vector<Step> steps;
    std::string log;
    std::string mounts;
    std::string calls; // live-side stand-in calls
    std::string key;   // the passphrase cryptsetup open received
};

class InstallEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (auto why = support::LoopDisk::unavailable()) {
            skip_ = *why;
            return;
        }
        auto root = support::debian_root();
        if (!root) {
            skip_ = root.error();
            return;
        }
        tree_ = *root;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        saved_ = platform::paths();
    }
    void TearDown() override {
        if (skip_.empty()) platform::set_paths(saved_);
    }

    // The live system's own additions, as an overlay layer.
    std::string make_layer(const Live& live) {
        const std::string l = dir_.path() + "/layer";
        support::write_live_layer(l, live.scheme, live.fail);
        return l;
    }

    Outcome install(const Live& live, const ipc::InstallPlan& plan) {
        Outcome o;
        const std::string standins = dir_.path() + "/standins";
        sfs::remove_all(standins);
        support::write_live_standins(standins);
        for (const auto& [name, script] : live.standins) write_file(standins + "/" + name, script, sfs::perms(0755));
        auto daemon = support::LiveDaemon::start(TAVIX_INSTALLER_EXE, tree_, {make_layer(live)}, standins);
        if (!daemon) {
            ADD_FAILURE() << daemon.error();
            return o;
        }
        platform::set_paths((*daemon)->client_paths());
        auto handle = client::start_install(plan);
        bool cancelled = false;
        const bool ended = support::wait_until(
            [&] {
                auto s = handle->snapshot();
                Step step{s.phase, s.fraction};
                if (o.steps.empty() || !(o.steps.back() == step)) {
                    o.steps.push_back(step);
                    if (live.cancel_at && !cancelled && live.cancel_at(s.phase, s.fraction)) {
                        client::cancel_install();
                        cancelled = true;
                    }
                }
                o.end = s;
                return s.done || s.error.has_value();
            },
            240s);
        if (!ended) ADD_FAILURE() << "install did not end: " << (*daemon)->log();
        (*daemon)->wait_for_log(o.end.done ? "daemon: install finished" : "daemon: install failed");
        o.log = (*daemon)->log();
        o.mounts = (*daemon)->mounts();
        o.calls = read_file(standins + "/calls.log");
        o.key = read_file(standins + "/key");
        EXPECT_FALSE(sfs::exists(standins + "/crypt-loop")) << "the container was closed";
        // Nothing of the target stays mounted. (The host's own mounts show
        // up below /run/host-root and are none of our business.)
        std::istringstream table(o.mounts);
        std::string line;
        const std::string disk = plan.disk.string();
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string source, point;
            fields >> source >> point;
            if (point.starts_with("/run/host-root")) continue;
            const bool ours = source == disk || (source.starts_with(disk + "p") &&
                                                 source.find_first_not_of("0123456789", disk.size() + 1) ==
                                                     std::string::npos);
            EXPECT_FALSE(ours) << line;
            EXPECT_FALSE(point == "/run/tavix-install/root" || point.starts_with("/run/tavix-install/root/")) << line;
        }
        return o;
    }

    // Copies the interesting parts of a file system out of `node` (mounted
    // read-only in a namespace of its own; `offset` skips a LUKS header).
    std::string look_inside(const std::string& node, std::uint64_t offset = 0) {
        const std::string out = dir_.path() + "/look-" + std::to_string(++looks_);
        support::look_inside(node, out, offset);
        return out;
    }

    static nlohmann::json sfdisk(const std::string& disk) { return support::sfdisk_table(disk); }

    static std::string blkid(const std::string& node, const std::string& tag) { return support::blkid_tag(node, tag); }

    static ipc::InstallPlan plan_for(const support::LoopDisk& disk, ipc::TargetMode mode, bool encrypt,
                                     const std::string& locale = "de") {
        ipc::InstallPlan plan;
        plan.disk = disk.path();
        plan.mode = mode;
        plan.locale = locale;
        plan.account = ipc::AccountSetup{"ann", "annbox", "s3cret pass"};
        plan.encrypt = encrypt;
        return plan;
    }

    // The progress the client saw: forward only, legal values only, ending
    // in done; the daemon samples every 200 ms, so quick steps may be skipped.
    static void check_progress(const Outcome& o) {
        ASSERT_FALSE(o.steps.empty());
        EXPECT_EQ(o.steps.back(), (Step{InstallPhase::Finalize, 1.0f}));
        bool copy_seen = false;
        for (std::size_t i = 0; i < o.steps.size(); ++i) {
            const auto& s = o.steps[i];
            const bool legal = (s.phase == InstallPhase::Partition && (s.fraction == 0.0f || s.fraction == 0.01f)) ||
                               (s.phase == InstallPhase::Format && s.fraction == 0.05f) ||
                               (s.phase == InstallPhase::Copy && s.fraction >= 0.10f && s.fraction <= 0.85f) ||
                               (s.phase == InstallPhase::Bootloader && (s.fraction == 0.85f || s.fraction == 0.92f)) ||
                               (s.phase == InstallPhase::Finalize && (s.fraction == 0.96f || s.fraction == 1.0f));
            EXPECT_TRUE(legal) << s;
            copy_seen |= s.phase == InstallPhase::Copy;
            if (i > 0) {
                EXPECT_GE(int(s.phase), int(o.steps[i - 1].phase)) << s;
                EXPECT_GE(s.fraction, o.steps[i - 1].fraction) << s;
            }
        }
        EXPECT_TRUE(copy_seen);
    }

    // What every finished install leaves in its root file system.
    void check_configured(const std::string& t, const std::string& hostname = "annbox") {
        support::check_installed_root(t, {"ann", hostname, "s3cret pass", "de_DE.UTF-8", "de", "Europe/Berlin"});
    }

    static inline std::string tree_;
    static inline std::string skip_;
    platform::SystemPaths saved_;
    support::TempDir dir_;
    int looks_ = 0;
};

TEST_F(InstallEndToEnd, WholeDiskOnUefi) {
    auto disk = support::LoopDisk::create(6144 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    auto o = install({"efi", {}}, plan_for(*disk, ipc::TargetMode::WholeDisk{}, false));
    ASSERT_TRUE(o.end.done) << o.end.error.value_or("") << "\n" << o.log;
    check_progress(o);

    auto table = sfdisk(disk->path());
    EXPECT_EQ(table["label"], "gpt");
    ASSERT_EQ(table["partitions"].size(), 2u);
    EXPECT_EQ(table["partitions"][0]["start"], 2048);
    EXPECT_EQ(table["partitions"][0]["size"], 1048576);
    EXPECT_EQ(table["partitions"][0]["type"], "C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
    EXPECT_EQ(table["partitions"][0]["name"], "esp");
    EXPECT_EQ(table["partitions"][1]["start"], 1050624);
    EXPECT_EQ(table["partitions"][1]["name"], "root");
    EXPECT_EQ(blkid(disk->part(1), "TYPE"), "vfat");
    EXPECT_EQ(blkid(disk->part(1), "LABEL"), "EFI");
    EXPECT_EQ(blkid(disk->part(2), "TYPE"), "ext4");
    EXPECT_EQ(blkid(disk->part(2), "LABEL"), "tavix-root");

    const std::string t = look_inside(disk->part(2));
    check_configured(t);
    EXPECT_EQ(read_file(t + "/etc/fstab"),
              "UUID=" + blkid(disk->part(2), "UUID") + "\t/\text4\terrors=remount-ro\t0\t1\n"
              "UUID=" + blkid(disk->part(1), "UUID") + "\t/boot/efi\tvfat\tumask=0077\t0\t1\n"
              "/swapfile\tnone\tswap\tsw\t0\t0\n");
    EXPECT_FALSE(sfs::exists(t + "/etc/crypttab"));
    EXPECT_EQ(read_file(t + "/swapfile.stat"), "2147483648 600\n");
    EXPECT_NE(read_file(t + "/etc/default/grub").find("GRUB_DISABLE_OS_PROBER=false\n"), std::string::npos);
    // The kernel finds its root by UUID, not by the name the disk had here.
    const std::string root_uuid = blkid(disk->part(2), "UUID");
    EXPECT_EQ(read_file(t + "/boot/grub/grub.cfg"), "linux /vmlinuz root=UUID=" + root_uuid + " ro\n");
    EXPECT_FALSE(sfs::is_symlink("/dev/disk/by-uuid/" + root_uuid)) << "the stand-in's link outlived the daemon";
    // No UEFI firmware here: only the removable-path GRUB.
    EXPECT_EQ(read_file(t + "/var/log/tavix-standins.log"),
              "grub-install --target=arm64-efi --efi-directory=/boot/efi --boot-directory=/boot "
              "--bootloader-id=Vessara --removable --recheck\n"
              "update-grub \nupdate-initramfs -u\n");
    // GRUB wrote into the ESP mounted at /boot/efi.
    auto esp = support::run_command({"mdir", "-b", "-i", disk->part(1), "::/EFI/BOOT"});
    EXPECT_NE(esp.out.find("BOOTAA64.EFI"), std::string::npos) << esp.out << esp.err;
    EXPECT_EQ(o.calls, "mount " + disk->part(1) + " /run/tavix-install/root/boot/efi\n");
    EXPECT_NE(o.log.find("install: rereadpt " + disk->path() + ": "), std::string::npos);
}

TEST_F(InstallEndToEnd, EncryptedWholeDiskOnAnExtlinuxBoard) {
    auto disk = support::LoopDisk::create(2560 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    // A cancel after the copy comes too late to stop anything.
    Live live{"extlinux", {}};
    live.cancel_at = [](InstallPhase phase, float) { return phase >= InstallPhase::Bootloader; };
    auto o = install(live, plan_for(*disk, ipc::TargetMode::WholeDisk{}, true));
    ASSERT_TRUE(o.end.done) << o.end.error.value_or("") << "\n" << o.log;
    check_progress(o);

    auto table = sfdisk(disk->path());
    ASSERT_EQ(table["partitions"].size(), 2u);
    // The first 16 MiB stay free for the board's U-Boot area.
    EXPECT_EQ(table["partitions"][0]["start"], 32768);
    EXPECT_EQ(table["partitions"][0]["size"], 768 * 2048);
    EXPECT_EQ(table["partitions"][0]["name"], "boot");
    EXPECT_EQ(table["partitions"][1]["start"], 784 * 2048);
    EXPECT_EQ(table["partitions"][1]["name"], "root");
    EXPECT_EQ(blkid(disk->part(1), "LABEL"), "tavix-boot");
    EXPECT_EQ(blkid(disk->part(2), "TYPE"), "crypto_LUKS");
    // The password is the passphrase, as typed: no newline added.
    EXPECT_EQ(o.key, "s3cret pass");
    const std::string luks = disk->part(2);
    EXPECT_EQ(o.calls, "cryptsetup luksFormat --type luks2 --batch-mode --key-file - " + luks + "\n"
                       "cryptsetup open --key-file - " + luks + " tavix_crypt\n"
                       "clevis luks list -d " + luks + "\n"
                       // The pipeline's close, then the engine thread's, which
                       // finds nothing open.
                       "cryptsetup close tavix_crypt\n"
                       "cryptsetup close tavix_crypt\n");
    EXPECT_NE(o.log.find("install: no TPM 2.0 present, boot will ask for the password\n"), std::string::npos);
    EXPECT_NE(o.log.find("install: cannot locate the medium's disk, u-boot area not copied\n"), std::string::npos);

    const std::string t = look_inside(luks, 16 * MIB);
    check_configured(t);
    const std::string fstab = read_file(t + "/etc/fstab");
    EXPECT_NE(fstab.find("\t/boot\text4\tdefaults\t0\t2\n"), std::string::npos) << fstab;
    EXPECT_EQ(fstab.find("/boot/efi"), std::string::npos) << fstab;
    EXPECT_EQ(read_file(t + "/etc/crypttab"),
              "tavix_crypt\tUUID=" + blkid(luks, "UUID") + "\tnone\tluks,discard\n");
    EXPECT_NE(read_file(t + "/etc/default/u-boot").find("U_BOOT_ROOT=\"root=/dev/mapper/tavix_crypt\"\n"),
              std::string::npos);
    EXPECT_EQ(read_file(t + "/var/log/tavix-standins.log"), "u-boot-update \nupdate-initramfs -u\n");
    const std::string b = look_inside(disk->part(1));
    EXPECT_TRUE(sfs::exists(b + "/extlinux/extlinux.conf")) << "the copy's /boot landed on the boot partition";
}

TEST_F(InstallEndToEnd, FreeGapOnABootScriptBoardWithAFailingInitramfs) {
    auto disk = support::LoopDisk::create(2048 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()}, "label: gpt\n,100MiB,L\n").exit_code, 0);
    ASSERT_TRUE(disk->refresh());
    auto o = install({"bootscr", {"update-initramfs"}},
                     plan_for(*disk, ipc::TargetMode::FreeSpace{101 * MIB, 1900 * MIB}, false));
    ASSERT_TRUE(o.end.done) << o.end.error.value_or("") << "\n" << o.log;
    // A failing initramfs rebuild is only logged.
    EXPECT_NE(o.log.find("install: update-initramfs: chroot exited with exit status: 1: update-initramfs failed on purpose\n"),
              std::string::npos)
        << o.log;
    auto table = sfdisk(disk->path());
    ASSERT_EQ(table["partitions"].size(), 2u);
    EXPECT_EQ(table["partitions"][1]["start"], 101 * 2048);
    EXPECT_EQ(table["partitions"][1]["size"], 1900 * 2048);
    const std::string root = disk->part(2);
    const std::string t = look_inside(root);
    check_configured(t);
    const std::string uuid = blkid(root, "UUID");
    EXPECT_EQ(read_file(t + "/boot/boot.cmd"), "setenv rootdev \"UUID=" + uuid + "\"\nbooti ${kernel_addr_r}\n");
    EXPECT_EQ(read_file(t + "/boot/env.txt"), "verbosity=1\nrootdev=UUID=" + uuid + "\n");
    EXPECT_EQ(read_file(t + "/boot/uInitrd-6.1.0"), "image\n");
    EXPECT_EQ(read_file(t + "/var/log/tavix-standins.log"),
              "mkimage -C none -A arm64 -T script -d /boot/boot.cmd /boot/boot.scr\n"
              "update-initramfs -u\n"
              "mkimage -n uInitrd -A arm64 -O linux -T ramdisk -C gzip -d /boot/initrd.img-6.1.0 /boot/uInitrd-6.1.0\n");
    // Only a whole disk gets the medium's U-Boot area.
    EXPECT_EQ(o.log.find("u-boot area"), std::string::npos) << o.log;
    // Too small for a swap file of twice its size.
    EXPECT_FALSE(sfs::exists(t + "/swapfile.stat") && !read_file(t + "/swapfile.stat").empty());
    EXPECT_NE(o.log.find("install: skipping swapfile, only "), std::string::npos);
}

TEST_F(InstallEndToEnd, ExistingPartitionKeepsTheEspAndAFailingUpdateGrubEndsTheInstall) {
    auto disk = support::LoopDisk::create(2048 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(support::run_command({"sfdisk", "-q", disk->path()},
                                   "label: gpt\n,64MiB,C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n,,L\n")
                  .exit_code,
              0);
    ASSERT_TRUE(disk->refresh());
    ASSERT_EQ(support::run_command({"mkfs.vfat", "-F", "32", "-n", "OTHER", disk->part(1)}).exit_code, 0);
    ASSERT_EQ(support::run_command({"mmd", "-i", disk->part(1), "::/other-os"}).exit_code, 0);
    auto o = install({"efi", {"update-grub"}}, plan_for(*disk, ipc::TargetMode::Partition{2}, false));
    EXPECT_FALSE(o.end.done);
    EXPECT_EQ(o.end.error, "chroot exited with exit status: 1: update-grub failed on purpose");
    EXPECT_EQ(o.end.phase, InstallPhase::Bootloader);
    EXPECT_NE(o.log.find("daemon: install failed: chroot exited with exit status: 1: update-grub failed on purpose\n"),
              std::string::npos);
    // The ESP that was there is used, never formatted.
    EXPECT_EQ(blkid(disk->part(1), "LABEL"), "OTHER");
    auto dir = support::run_command({"mdir", "-b", "-i", disk->part(1), "::/"});
    EXPECT_NE(dir.out.find("other-os"), std::string::npos) << dir.out;
    EXPECT_NE(dir.out.find("EFI"), std::string::npos) << dir.out;
    const std::string t = look_inside(disk->part(2));
    EXPECT_NE(read_file(t + "/etc/fstab").find("UUID=" + blkid(disk->part(1), "UUID") + "\t/boot/efi\tvfat\t"),
              std::string::npos);
}

TEST_F(InstallEndToEnd, TooSmallTargetFailsBeforeFormatting) {
    auto disk = support::LoopDisk::create(1024 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    // Encryption asked for without an account: nothing to unlock with, so a
    // plain root (whose size is then checked) and no container.
    auto plan = plan_for(*disk, ipc::TargetMode::WholeDisk{}, true);
    plan.account.reset();
    auto o = install({"efi", {}}, plan);
    ASSERT_TRUE(o.end.error.has_value());
    // The live root is a fresh overlay with next to nothing used, so a
    // little over 1 GiB is needed; the root has 1024 - 513 MiB less a few
    // sectors.
    EXPECT_EQ(*o.end.error, disk->part(2) + " has 0.5 GB but the system needs at least 1.1 GB");
    EXPECT_EQ(o.end.phase, InstallPhase::Partition);
    EXPECT_EQ(sfdisk(disk->path())["partitions"].size(), 2u) << "no /boot partition";
    EXPECT_EQ(blkid(disk->part(2), "TYPE"), "") << "nothing was formatted";
    EXPECT_EQ(o.calls.find("cryptsetup luksFormat"), std::string::npos) << o.calls;
}

TEST_F(InstallEndToEnd, CancelPoints) {
    // Each program is slowed down (or, for rsync, never ends) so that the
    // cancel surely arrives while it runs.
    const std::string slow_blockdev = "#!/bin/sh\nsleep 2\nexec /run/host-root/usr/sbin/blockdev \"$@\"\n";
    const std::string slow_mkfs = "#!/bin/sh\nsleep 2\nexec /run/host-root/usr/sbin/mkfs.ext4 \"$@\"\n";
    // Stands for a copy that takes long; its child stands for rsync's
    // receiver, which must die with it.
    const std::string endless_rsync =
        "#!/bin/sh\nsleep 600 & echo $! > /run/standins/child.pid\n"
        "while :; do printf '  1,000  12%%  1MB/s  0:01:00\\r'; sleep 0.1; done\n";
    struct Case {
        const char* name;
        std::pair<std::string, std::string> standin;
        InstallPhase at;
        bool encrypt;
        std::string root_type; // of the root partition afterwards
    };
    const std::vector<Case> cases = {
        {"while partitioning", {"blockdev", slow_blockdev}, InstallPhase::Partition, false, ""},
        {"while formatting", {"mkfs.ext4", slow_mkfs}, InstallPhase::Format, false, "ext4"},
        {"during the copy of an encrypted install", {"rsync", endless_rsync}, InstallPhase::Copy, true,
         "crypto_LUKS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto disk = support::LoopDisk::create(2560 * MIB);
        ASSERT_TRUE(disk) << disk.error();
        Live live{"efi", {}, {c.standin}};
        const InstallPhase at = c.at;
        live.cancel_at = [at](InstallPhase phase, float fraction) { return phase == at && fraction > 0.0f; };
        auto o = install(live, plan_for(*disk, ipc::TargetMode::WholeDisk{}, c.encrypt));
        EXPECT_EQ(o.end.error, "cancelled") << o.log;
        EXPECT_EQ(o.end.phase, c.at);
        EXPECT_NE(o.log.find("daemon: install failed: cancelled\n"), std::string::npos) << o.log;
        // The new table stays; nothing is rolled back.
        EXPECT_EQ(sfdisk(disk->path())["label"], "gpt");
        const std::string root = disk->part(c.encrypt ? 3 : 2);
        EXPECT_EQ(blkid(root, "TYPE"), c.root_type);
        if (c.encrypt) {
            EXPECT_TRUE(o.calls.ends_with("cryptsetup close tavix_crypt\n")) << o.calls;
            const std::string pid = trim(read_file(dir_.path() + "/standins/child.pid"));
            ASSERT_FALSE(pid.empty());
            const std::string stat = read_file("/proc/" + pid + "/stat");
            EXPECT_TRUE(stat.empty() || stat.find(") Z") != std::string::npos) << "rsync's child survived: " << stat;
        }
    }
}

} // namespace

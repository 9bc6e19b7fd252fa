// A real install driven from the wizard's screen: the executable without
// --test under a headless sway, beside the real daemon in its private mount
// namespace whose root is an overlay of the Debian live root
// (support::LiveDaemon), so the wizard reaches the daemon on its production
// socket. wizard_walk.py walks language, welcome, the disk page choosing the
// test's loop disk (by its row's text, and checks that the confirmation
// names it: no other disk of this machine can be chosen), the account with
// encryption switched on, the progress page to its end and the restart on
// the finish page, pressing everything with the virtual pointer and typing
// with wtype; AT-SPI only tells which page is shown and where its controls
// are. Afterwards the loop disk is checked as the engine's end-to-end tests
// check an install.
//
// Stand-ins, for what cannot work here: on the live side cryptsetup
// open/close (no device-mapper), clevis (no TPM), the FAT mount, and
// systemctl (PID 1 is not systemd; the restart must never reach this
// machine); inside the copied system the boot-loader tools.

#include "app/disk_rows.hpp"
#include "disks/disks.hpp"
#include "support/command.hpp"
#include "support/compositors.hpp"
#include "support/debian_root.hpp"
#include "support/installed_system.hpp"
#include "support/live_daemon.hpp"
#include "support/live_standins.hpp"
#include "support/loop_disk.hpp"
#include "support/process.hpp"

#include <base/files.hpp>
#include <base/units.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using zem::test::run_capture;
namespace sfs = std::filesystem;

bool executable(const char* path) { return ::access(path, X_OK) == 0; }

bool in_path(const std::string& name) { return run_capture({"/bin/sh", "-c", "command -v " + name}).first == 0; }

std::string read_file(const std::string& path) { return base::read_file(path).value_or(""); }

// systemctl on the live side: logs its call with the other stand-ins and
// answers as a successful restart request would.
constexpr const char* SYSTEMCTL = "#!/bin/sh\n"
                                  "# Stand-in for systemctl: PID 1 is not systemd here, and a restart must\n"
                                  "# never reach the machine the tests run on.\n"
                                  "echo \"systemctl $*\" >> /run/standins/calls.log\n";

// The account the walk types (wizard_walk.py's USER and PASSWORD) and the
// device name the page starts with; English is the language it picks.
const support::InstalledSetup WALKED{"walker", "tavix", "walk1234", "en_US.UTF-8", "us", "Etc/UTC"};

TEST(InstallWalk, EncryptedWholeLoopDiskFromTheScreen) {
    if (getuid() != 0) GTEST_SKIP() << "the private mount namespace and loop devices need root";
    for (const char* tool : {"dbus-run-session", "wtype", "grim", "unshare", "nsenter", "mountpoint"})
        if (!in_path(tool)) GTEST_SKIP() << tool << " is missing";
    if (!executable("/usr/libexec/at-spi2-registryd") || !executable("/usr/libexec/at-spi-bus-launcher"))
        GTEST_SKIP() << "the AT-SPI registry is missing";
    if (run_capture({"/usr/bin/python3", "-c", "import pyatspi"}).first != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import pyatspi";
    if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
    auto tree = support::debian_root();
    if (!tree) GTEST_SKIP() << tree.error();

    auto disk = support::LoopDisk::create(4096 * base::MIB);
    ASSERT_TRUE(disk) << disk.error();
    // The row the walk must press: the one showing this disk's label, as
    // the wizard lists disks.
    std::string row_text;
    for (const auto& d : disks::enumerate())
        if (d.path == disk->path()) row_text = app::disk_label(d);
    ASSERT_FALSE(row_text.empty()) << disk->path() << " is not listed";

    support::TempDir work;
    const std::string standins = work / "standins", layer = work / "layer";
    support::write_live_standins(standins);
    {
        std::ofstream(standins + "/systemctl") << SYSTEMCTL;
        sfs::permissions(standins + "/systemctl", sfs::perms(0755));
    }
    support::write_live_layer(layer, "efi");
    auto daemon = support::LiveDaemon::start(TAVIX_INSTALLER_EXE, *tree, {layer}, standins);
    ASSERT_TRUE(daemon) << daemon.error();

    auto sway = zem::test::Sway::start(412, 915);
    if (!sway) GTEST_SKIP() << "no headless sway: " << sway.error();
    auto [repeat_status, repeat_out] = (*sway)->msg({"input", "type:keyboard", "repeat_delay", "10000"});
    ASSERT_EQ(repeat_status, 0) << repeat_out;

    // Under the host's /tmp, which the live root shows at the same path.
    std::string dir = zem::test::make_temp_dir("tavix-install-walk");
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    const std::string shots = TAVIX_BINARY_DIR "/screens/walk-real-install";
    sfs::remove_all(shots);
    std::vector<std::string> argv = {"dbus-run-session", "--", "/usr/bin/python3",
                                     TAVIX_SOURCE_DIR "/src/app/tests/wizard_walk.py", "--scenario", "install",
                                     "--texts", TAVIX_SOURCE_DIR "/locales/en.json", "--shots", shots,
                                     "--pointer", ZEM_TEST_POINTER_EXE, "--by-pointer", "--disk", row_text,
                                     "--encrypt", "--real", "--progress-limit", "420", "--"};
    for (auto& a : (*daemon)->enter_command({"/run/host-root" + sfs::absolute(TAVIX_INSTALLER_EXE).string()}))
        argv.push_back(a);
    auto client = zem::test::spawn(argv,
                                   {{"XDG_RUNTIME_DIR", dir},
                                    {"WAYLAND_DISPLAY", (*sway)->display()},
                                    {"GSETTINGS_BACKEND", "memory"},
                                    {"ZEM_THEMES_DIR", "/run/host-root" TAVIX_SOURCE_DIR "/themes"},
                                    {"ZEM_FORCE_SOFTWARE", "1"},
                                    {"XDG_STATE_HOME", dir + "/state"},
                                    {"DBUS_SESSION_BUS_ADDRESS", ""},
                                    {"AT_SPI_BUS_ADDRESS", ""}},
                                   dir, "walk");
    ASSERT_TRUE(client.has_value());
    auto status = zem::test::wait_for(client->pid, 540s);
    if (!status) {
        ::kill(-client->pid, SIGKILL);
        ::kill(client->pid, SIGKILL);
        ::waitpid(client->pid, nullptr, 0);
    }
    std::string out = zem::test::read_file(client->out_path), err = zem::test::read_file(client->err_path);
    zem::test::remove_tree(dir);
    const std::string log = (*daemon)->log();
    ASSERT_TRUE(status.has_value()) << "the walk did not finish\n" << out << err << log;
    ASSERT_TRUE(WIFEXITED(*status)) << out << err;
    if (WEXITSTATUS(*status) == 77) GTEST_SKIP() << out;
    ASSERT_EQ(WEXITSTATUS(*status), 0) << out << err << log;
    std::cout << out; // the pages reached and their screenshots

    EXPECT_NE(log.find("daemon: install finished"), std::string::npos) << log;
    const std::string calls = read_file(standins + "/calls.log");
    // The restart was asked for once, after the install.
    EXPECT_TRUE(calls.ends_with("systemctl reboot\n")) << calls;
    // The password typed is the container's passphrase, as typed.
    EXPECT_EQ(read_file(standins + "/key"), WALKED.password);
    EXPECT_FALSE(sfs::exists(standins + "/crypt-loop")) << "the container was closed";

    // ESP, /boot, and the root inside a LUKS container.
    auto table = support::sfdisk_table(disk->path());
    EXPECT_EQ(table["label"], "gpt");
    ASSERT_EQ(table["partitions"].size(), 3u) << table.dump();
    EXPECT_EQ(table["partitions"][0]["name"], "esp");
    EXPECT_EQ(table["partitions"][1]["name"], "boot");
    EXPECT_EQ(table["partitions"][2]["name"], "root");
    EXPECT_EQ(support::blkid_tag(disk->part(1), "TYPE"), "vfat");
    EXPECT_EQ(support::blkid_tag(disk->part(2), "LABEL"), "tavix-boot");
    const std::string luks = disk->part(3);
    EXPECT_EQ(support::blkid_tag(luks, "TYPE"), "crypto_LUKS");

    const std::string t = work / "root";
    support::look_inside(luks, t, 16 * base::MIB);
    support::check_installed_root(t, WALKED);
    EXPECT_EQ(read_file(t + "/etc/crypttab"),
              "tavix_crypt\tUUID=" + support::blkid_tag(luks, "UUID") + "\tnone\tluks,discard\n");
    const std::string fstab = read_file(t + "/etc/fstab");
    // The root named by its own file system's UUID, inside the container.
    const std::string root_uuid =
        support::run_command({"blkid", "-p", "-O", std::to_string(16 * base::MIB), "-o", "value", "-s", "UUID", luks}).out;
    ASSERT_FALSE(root_uuid.empty());
    EXPECT_TRUE(fstab.starts_with("UUID=" + root_uuid.substr(0, root_uuid.find('\n')) + "\t/\text4\terrors=remount-ro\t0\t1\n"))
        << fstab;
    EXPECT_NE(fstab.find("UUID=" + support::blkid_tag(disk->part(2), "UUID") + "\t/boot\text4\t"), std::string::npos)
        << fstab;
    EXPECT_NE(fstab.find("UUID=" + support::blkid_tag(disk->part(1), "UUID") + "\t/boot/efi\tvfat\t"),
              std::string::npos)
        << fstab;
}

} // namespace

// The disk page of the real executable in test mode under a headless sway:
// the target chosen by a tap, every dialog of the page opened and dismissed
// (its cancel button, and Escape, which sends the dialog's dismiss message),
// and after each dismissal the page exactly as it was. A screen reader's
// client (AT-SPI, src/app/tests/disk_sway.py) finds the controls and reads
// the texts; screenshots go to <build>/screens/disk-sway/.
//
// sway offers no virtual touch device, so each tap is a click of our virtual
// pointer (zem-test-pointer): the toolkit takes a pointer press and a touch
// down through the same press, move and release path.
//
// The wizard sees one disk, the test's loop device: it runs in a mount
// namespace of its own with /sys/block holding that device alone, so the
// machine's disks and the loop devices of tests running beside this one do
// not change the page. Its state directory there is an empty tmpfs. Test
// mode only simulates disk operations: the loop device's table is checked
// unchanged at the end, after a batch was applied on the page.

#include "platform/system_paths.hpp"
#include "support/command.hpp"
#include "support/compositors.hpp"
#include "support/loop_disk.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using zem::test::run_capture;

bool executable(const char* path) { return ::access(path, X_OK) == 0; }

bool in_path(const std::string& name) { return run_capture({"/bin/sh", "-c", "command -v " + name}).first == 0; }

// A GPT disk with an ext4 partition, a partition holding no file system and
// free space after them: rows of each kind, and a resize dialog both with
// and without the unknown-file-system warning.
constexpr std::uint64_t kDiskBytes = 96ull << 20;
constexpr const char* kTable = "label: gpt\n"
                               "start=2048, size=65536, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n"
                               "start=67584, size=16384, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n";

// The wizard in a private mount namespace: an empty tmpfs for its state
// directory and a /sys/block that lists only `disk`.
std::vector<std::string> wizard_command(const support::LoopDisk& disk) {
    const platform::SystemPaths paths;
    namespace fs = std::filesystem;
    const std::string mount_point = fs::is_directory(paths.state_dir) ? paths.state_dir
                                                                       : fs::path(paths.state_dir).parent_path().string();
    const std::string device_dir = fs::canonical("/sys/block/" + disk.name()).string();
    return {"unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
            "mount -t tmpfs tmpfs \"$1\" && mkdir -p \"$2\" && mount -t tmpfs tmpfs /sys/block && "
            "ln -s \"$3\" \"/sys/block/$4\" && shift 4 && exec \"$@\"",
            "sh", mount_point, paths.state_dir, device_dir, disk.name(),
            TAVIX_INSTALLER_EXE, "--test", "--windowsize", "412x915"};
}

TEST(DiskPageUnderSway, TargetByTapDialogsOpenedAndDismissed) {
    if (getuid() != 0) GTEST_SKIP() << "the private state directory and the loop disk need root";
    for (const char* tool : {"dbus-run-session", "wtype", "grim", "unshare", "sfdisk", "mkfs.ext4", "resize2fs", "tune2fs", "e2fsck"})
        if (!in_path(tool)) GTEST_SKIP() << tool << " is missing";
    if (!executable("/usr/libexec/at-spi2-registryd") || !executable("/usr/libexec/at-spi-bus-launcher"))
        GTEST_SKIP() << "the AT-SPI registry is missing";
    if (run_capture({"/usr/bin/python3", "-c", "import pyatspi"}).first != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import pyatspi";
    REQUIRE_LOOP();

    auto disk = support::LoopDisk::partitioned(kDiskBytes, kTable);
    ASSERT_TRUE(disk) << disk.error();
    auto mkfs = support::run_command({"mkfs.ext4", "-q", "-F", disk->part(1)});
    ASSERT_EQ(mkfs.exit_code, 0) << mkfs.err;
    auto table_before = support::capture_output({"sfdisk", "--json", disk->path()});
    ASSERT_TRUE(table_before) << table_before.error();

    // A transparent cursor: the pointer rests where it clicked, and the
    // pages before and after a dialog are compared pixel for pixel.
    auto sway = zem::test::Sway::start(412, 915, /*blank_cursor=*/true);
    if (!sway) GTEST_SKIP() << "no headless sway: " << sway.error();
    // One key sent is one press: a loaded machine that delays a release must
    // not make it a held, repeating key (a repeated Escape would close the
    // wizard once the dialog is gone).
    auto [repeat_status, repeat_out] = (*sway)->msg({"input", "type:keyboard", "repeat_delay", "10000"});
    ASSERT_EQ(repeat_status, 0) << repeat_out;

    std::string dir = zem::test::make_temp_dir("tavix-disk-sway");
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    const std::string shots = TAVIX_BINARY_DIR "/screens/disk-sway";
    std::filesystem::remove_all(shots);
    std::vector<std::string> argv = {"dbus-run-session", "--", "/usr/bin/python3",
                                     TAVIX_SOURCE_DIR "/src/app/tests/disk_sway.py", "--texts",
                                     TAVIX_SOURCE_DIR "/locales/en.json", "--shots", shots, "--pointer",
                                     ZEM_TEST_POINTER_EXE, "--disk", disk->path(), "--"};
    for (auto& a : wizard_command(*disk)) argv.push_back(a);
    auto client = zem::test::spawn(argv,
                                   {{"XDG_RUNTIME_DIR", dir},
                                    {"WAYLAND_DISPLAY", (*sway)->display()},
                                    {"GSETTINGS_BACKEND", "memory"},
                                    {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"},
                                    {"ZEM_FORCE_SOFTWARE", "1"},
                                    {"XDG_STATE_HOME", dir + "/state"},
                                    {"DBUS_SESSION_BUS_ADDRESS", ""},
                                    {"AT_SPI_BUS_ADDRESS", ""}},
                                   dir, "disk");
    ASSERT_TRUE(client.has_value());
    auto status = zem::test::wait_for(client->pid, 300s);
    if (!status) {
        ::kill(-client->pid, SIGKILL);
        ::kill(client->pid, SIGKILL);
        ::waitpid(client->pid, nullptr, 0);
    }
    std::string out = zem::test::read_file(client->out_path), err = zem::test::read_file(client->err_path);
    zem::test::remove_tree(dir);
    ASSERT_TRUE(status.has_value()) << "the walk did not finish\n" << out << err;
    ASSERT_TRUE(WIFEXITED(*status)) << out << err;
    if (WEXITSTATUS(*status) == 77) GTEST_SKIP() << out;
    EXPECT_EQ(WEXITSTATUS(*status), 0) << out << err;
    std::cout << out; // what was done and its screenshots

    // The batch applied on the page was only simulated.
    auto table_after = support::capture_output({"sfdisk", "--json", disk->path()});
    ASSERT_TRUE(table_after) << table_after.error();
    EXPECT_EQ(*table_after, *table_before);
    auto fsck = support::run_command({"e2fsck", "-n", "-f", disk->part(1)});
    EXPECT_EQ(fsck.exit_code, 0) << fsck.out << fsck.err;
}

} // namespace

// The real executable in test mode under a headless sway, walked through
// the install scenario from the splash to the finish by a screen reader's
// client alone (AT-SPI, src/app/tests/atspi_walk.py): controls pressed by
// their actions, the account typed through EditableText, the install's
// progress followed by its announcements. No key and no pointer event
// reaches the compositor. Screenshots go to <build>/screens/atspi-walk/.
//
// The wizard runs in a mount namespace of its own with a fresh, empty state
// directory, so no configure marker of the machine turns the walk into the
// configure scenario.

#include "platform/system_paths.hpp"
#include "support/compositors.hpp"
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

// The wizard in test mode inside a private mount namespace whose state
// directory is an empty tmpfs (over its parent when it does not exist).
std::vector<std::string> wizard_command() {
    const platform::SystemPaths paths;
    namespace fs = std::filesystem;
    std::string mount_point = fs::is_directory(paths.state_dir) ? paths.state_dir
                                                                 : fs::path(paths.state_dir).parent_path().string();
    return {"unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
            "mount -t tmpfs tmpfs \"$1\" && mkdir -p \"$2\" && shift 2 && exec \"$@\"", "sh", mount_point,
            paths.state_dir, TAVIX_INSTALLER_EXE, "--test", "--windowsize", "412x915"};
}

TEST(AtspiWalk, InstallOnlyThroughTheScreenReader) {
    if (getuid() != 0) GTEST_SKIP() << "the private state directory needs root";
    for (const char* tool : {"dbus-run-session", "grim", "unshare"})
        if (!in_path(tool)) GTEST_SKIP() << tool << " is missing";
    if (!executable("/usr/libexec/at-spi2-registryd") || !executable("/usr/libexec/at-spi-bus-launcher"))
        GTEST_SKIP() << "the AT-SPI registry is missing";
    if (run_capture({"/usr/bin/python3", "-c", "import pyatspi"}).first != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import pyatspi";
    auto sway = zem::test::Sway::start(412, 915);
    if (!sway) GTEST_SKIP() << "no headless sway: " << sway.error();

    std::string dir = zem::test::make_temp_dir("tavix-atspi-walk");
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    const std::string shots = TAVIX_BINARY_DIR "/screens/atspi-walk";
    std::filesystem::remove_all(shots);
    std::vector<std::string> argv = {"dbus-run-session", "--", "/usr/bin/python3",
                                     TAVIX_SOURCE_DIR "/src/app/tests/atspi_walk.py", "--texts",
                                     TAVIX_SOURCE_DIR "/locales/en.json", "--shots", shots, "--"};
    for (auto& a : wizard_command()) argv.push_back(a);
    auto client = zem::test::spawn(argv,
                                   {{"XDG_RUNTIME_DIR", dir},
                                    {"WAYLAND_DISPLAY", (*sway)->display()},
                                    {"GSETTINGS_BACKEND", "memory"},
                                    {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"},
                                    {"ZEM_FORCE_SOFTWARE", "1"},
                                    {"XDG_STATE_HOME", dir + "/state"},
                                    {"DBUS_SESSION_BUS_ADDRESS", ""},
                                    {"AT_SPI_BUS_ADDRESS", ""}},
                                   dir, "walk");
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
    std::cout << out; // the pages reached, their screenshots and what was announced
}

} // namespace

// The real executable in test mode under a headless sway, walked from the
// splash to its last page by keys (wtype), typing into the account's fields
// and clicking the disk target with a virtual pointer, while a screen
// reader's client (AT-SPI, src/app/tests/wizard_walk.py) tells the page by
// its title or, without one, by what it shows. A screenshot of every page
// goes to <build>/screens/walk-<case>/.
//
// The wizard runs in a mount namespace of its own with a fresh, empty state
// directory, so the scenario marker is there exactly when the test puts it,
// whatever the machine holds.

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

struct Case {
    std::string name;
    std::string scenario;             // the walk the wizard must take
    std::vector<std::string> options; // scenario options on the command line
    bool marker = false;              // "configure-pending" present
    std::string until;                // stop at this page (title key); empty: walk to the end
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The wizard's command line inside a private mount namespace whose state
// directory is an empty tmpfs, holding the marker when asked.
std::vector<std::string> wizard_command(const Case& c) {
    const platform::SystemPaths paths;
    namespace fs = std::filesystem;
    // The state directory need not exist here: then a tmpfs over its parent
    // stands in, and the directory is made inside it.
    std::string mount_point = fs::is_directory(paths.state_dir) ? paths.state_dir
                                                                 : fs::path(paths.state_dir).parent_path().string();
    std::vector<std::string> argv = {
        "unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
        "mount -t tmpfs tmpfs \"$1\" && mkdir -p \"$2\" && if [ \"$3\" = yes ]; then : >\"$4\"; fi && shift 4 && "
        "exec \"$@\"",
        "sh", mount_point, paths.state_dir, c.marker ? "yes" : "no", paths.marker("configure-pending"),
        TAVIX_INSTALLER_EXE, "--test", "--windowsize", "412x915"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    return argv;
}

class WizardWalk : public testing::TestWithParam<Case> {};

TEST_P(WizardWalk, PageByPageWithKeys) {
    const Case& c = GetParam();
    if (getuid() != 0) GTEST_SKIP() << "the private state directory needs root";
    for (const char* tool : {"dbus-run-session", "wtype", "grim", "unshare"})
        if (!in_path(tool)) GTEST_SKIP() << tool << " is missing";
    if (!executable("/usr/libexec/at-spi2-registryd") || !executable("/usr/libexec/at-spi-bus-launcher"))
        GTEST_SKIP() << "the AT-SPI registry is missing";
    if (run_capture({"/usr/bin/python3", "-c", "import pyatspi"}).first != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import pyatspi";
    auto sway = zem::test::Sway::start(412, 915);
    if (!sway) GTEST_SKIP() << "no headless sway: " << sway.error();
    // One key sent is one press: a loaded machine that delays a release must
    // not make it a held, repeating key.
    auto [repeat_status, repeat_out] = (*sway)->msg({"input", "type:keyboard", "repeat_delay", "10000"});
    ASSERT_EQ(repeat_status, 0) << repeat_out;

    std::string dir = zem::test::make_temp_dir("tavix-walk");
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    const std::string shots = TAVIX_BINARY_DIR "/screens/walk-" + c.name;
    std::filesystem::remove_all(shots);
    std::vector<std::string> argv = {"dbus-run-session", "--", "/usr/bin/python3",
                                     TAVIX_SOURCE_DIR "/src/app/tests/wizard_walk.py", "--scenario", c.scenario,
                                     "--texts", TAVIX_SOURCE_DIR "/locales/en.json", "--shots", shots,
                                     "--pointer", ZEM_TEST_POINTER_EXE};
    if (!c.until.empty()) argv.insert(argv.end(), {"--until", c.until});
    argv.push_back("--");
    for (auto& a : wizard_command(c)) argv.push_back(a);
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
    std::cout << out; // the pages reached and their screenshots
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, WizardWalk,
    testing::Values(
        // No option and no marker: the install, through the simulated copy.
        Case{"install", "install", {}, false, ""},
        // The configure scenario asked for on the command line, every page.
        Case{"configure", "configure", {"--configure"}, false, ""},
        // The marker alone chooses configure: the account page follows the
        // welcome page instead of the disk page.
        Case{"marker", "configure", {}, true, "account.title"},
        // An explicit install wins over the marker.
        Case{"install-over-marker", "install", {"--install"}, true, "disk.title"}),
    [](const testing::TestParamInfo<Case>& i) {
        std::string n;
        for (char ch : i.param.name) n += ch == '-' ? '_' : ch;
        return n;
    });

} // namespace

// The gallery as a screen reader sees it: a real AT-SPI client (pyatspi) in
// a private session bus with the at-spi registry, the gallery under
// headless sway.
#include "support/compositors.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zem::test {
namespace {

using namespace std::chrono_literals;

bool executable(const char* path) { return access(path, X_OK) == 0; }

std::string found_in_path(const std::string& name) {
    auto [status, out] = run_capture({"/bin/sh", "-c", "command -v " + name});
    if (status != 0) return "";
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(AtspiGallery, AScreenReaderWalksAndDrivesTheGallery) {
    if (found_in_path("dbus-run-session").empty()) GTEST_SKIP() << "dbus-run-session is missing";
    if (!executable("/usr/libexec/at-spi2-registryd")) GTEST_SKIP() << "at-spi2-registryd is missing";
    if (!executable("/usr/libexec/at-spi-bus-launcher")) GTEST_SKIP() << "at-spi-bus-launcher is missing";
    if (found_in_path("grim").empty()) GTEST_SKIP() << "grim is missing";
    if (run_capture({"/usr/bin/python3", "-c", "import pyatspi"}).first != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import pyatspi";
    auto sway = Sway::start(800, 600);
    if (!sway) GTEST_SKIP() << "no headless sway: " << sway.error();

    std::string dir = make_temp_dir("zem-atspi");
    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
    std::string display = (*sway)->display();
    if (display.empty() || display[0] != '/') display = (*sway)->runtime_dir() + "/" + display;
    auto client = spawn({"dbus-run-session", "--", "/usr/bin/python3", TAVIX_SOURCE_DIR "/zem/tests/a11y/atspi_client.py",
                         "--gallery", ZEM_GALLERY_EXE, "--shots", dir},
                        {{"XDG_RUNTIME_DIR", dir},
                         {"WAYLAND_DISPLAY", display},
                         {"GSETTINGS_BACKEND", "memory"},
                         {"ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes"},
                         {"ZEM_FORCE_SOFTWARE", "1"},
                         {"XDG_STATE_HOME", dir + "/state"},
                         {"DBUS_SESSION_BUS_ADDRESS", ""},
                         {"AT_SPI_BUS_ADDRESS", ""}},
                        dir, "client");
    ASSERT_TRUE(client.has_value());
    auto status = wait_for(client->pid, 180s);
    if (!status) {
        kill(-client->pid, SIGKILL);
        kill(client->pid, SIGKILL);
        waitpid(client->pid, nullptr, 0);
    }
    std::string out = read_file(client->out_path), err = read_file(client->err_path);
    remove_tree(dir);
    ASSERT_TRUE(status.has_value()) << "the client did not finish\n" << out << err;
    ASSERT_TRUE(WIFEXITED(*status)) << out << err;
    if (WEXITSTATUS(*status) == 77) GTEST_SKIP() << out;
    EXPECT_EQ(WEXITSTATUS(*status), 0) << out << err;
}

}  // namespace
}  // namespace zem::test

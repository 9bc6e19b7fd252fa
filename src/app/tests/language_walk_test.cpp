// Both walks of the real executable in test mode, once in every language the
// catalogue holds, the language chosen on the language page by its own name
// as a user would. On every page a screen reader's client (AT-SPI,
// wizard_walk.py --check-texts) checks that each text the wizard drew lies
// inside its control and the screen, and that no key and no English text of
// a translated key is shown. Each page's screenshot goes to
// <screens>/<language>/<page>.png, <screens> being TAVIX_SCREENS_DIR or
// <build>/screens (`make screens`).
//
// The languages come from the compiled catalogue, so a language added there
// is walked without touching this file. Each (language, walk) is a test case
// of its own with its own headless sway, so CTest runs them side by side.

#include "i18n/compiled_texts.hpp"
#include "platform/system_paths.hpp"
#include "support/compositors.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using zem::test::run_capture;

bool executable(const char* path) { return ::access(path, X_OK) == 0; }

bool in_path(const std::string& name) { return run_capture({"/bin/sh", "-c", "command -v " + name}).first == 0; }

struct Walk {
    std::string language;
    std::string scenario; // "install" or "configure", forced on the command line
};

void PrintTo(const Walk& w, std::ostream* os) { *os << w.language << "/" << w.scenario; }

std::vector<Walk> every_language() {
    std::vector<std::string> codes;
    for (std::size_t i = 0; i < i18n::compiled::kTextCount; ++i) {
        std::string code(i18n::compiled::kTexts[i].code);
        if (codes.empty() || codes.back() != code) codes.push_back(code);
    }
    std::vector<Walk> walks;
    for (const std::string& code : codes)
        for (const char* scenario : {"install", "configure"}) walks.push_back({code, scenario});
    return walks;
}

std::string screens_dir() {
    const char* dir = std::getenv("TAVIX_SCREENS_DIR");
    return dir && *dir ? dir : TAVIX_BINARY_DIR "/screens";
}

// The wizard inside a private mount namespace whose state directory is an
// empty tmpfs: no scenario marker of the machine's leaks in.
std::vector<std::string> wizard_command(const Walk& w) {
    const platform::SystemPaths paths;
    namespace fs = std::filesystem;
    std::string mount_point = fs::is_directory(paths.state_dir) ? paths.state_dir
                                                                 : fs::path(paths.state_dir).parent_path().string();
    return {"unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
            "mount -t tmpfs tmpfs \"$1\" && mkdir -p \"$2\" && shift 2 && exec \"$@\"",
            "sh", mount_point, paths.state_dir,
            TAVIX_INSTALLER_EXE, "--test", "--windowsize", "412x915", "--" + w.scenario};
}

class LanguageWalk : public testing::TestWithParam<Walk> {};

TEST_P(LanguageWalk, EveryPageFitsAndIsTranslated) {
    const Walk& w = GetParam();
    if (getuid() != 0) GTEST_SKIP() << "the private state directory needs root";
    for (const char* tool : {"dbus-run-session", "wtype", "grim", "unshare"})
        if (!in_path(tool)) GTEST_SKIP() << tool << " is missing";
    if (!executable("/usr/libexec/at-spi2-registryd") || !executable("/usr/libexec/at-spi-bus-launcher"))
        GTEST_SKIP() << "the AT-SPI registry is missing";
    if (run_capture({"/usr/bin/python3", "-c", "import pyatspi"}).first != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import pyatspi";
    auto sway = zem::test::Sway::start(412, 915);
    if (!sway) GTEST_SKIP() << "no headless sway: " << sway.error();
    // One key sent is one press, however late its release comes.
    auto [repeat_status, repeat_out] = (*sway)->msg({"input", "type:keyboard", "repeat_delay", "10000"});
    ASSERT_EQ(repeat_status, 0) << repeat_out;

    std::string dir = zem::test::make_temp_dir("tavix-language-walk");
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    const std::string pages = screens_dir() + "/" + w.language;
    std::vector<std::string> argv = {"dbus-run-session", "--", "/usr/bin/python3",
                                     TAVIX_SOURCE_DIR "/src/app/tests/wizard_walk.py", "--scenario", w.scenario,
                                     "--texts", TAVIX_SOURCE_DIR "/locales/" + w.language + ".json",
                                     "--language-code", w.language, "--check-texts",
                                     "--shots", dir + "/shots", "--page-shots", pages,
                                     "--pointer", ZEM_TEST_POINTER_EXE, "--"};
    for (auto& a : wizard_command(w)) argv.push_back(a);
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
    auto status = zem::test::wait_for(client->pid, 540s);
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
    std::cout << out;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, LanguageWalk, testing::ValuesIn(every_language()),
                         [](const testing::TestParamInfo<Walk>& i) { return i.param.language + "_" + i.param.scenario; });

} // namespace

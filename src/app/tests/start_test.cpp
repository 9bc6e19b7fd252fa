// Start-up's wizard branch, as the real executable: the theme error, the
// kiosk switch on and off (against a listening socket of ours standing in
// for the compositor's control socket), and a display that is missing.

#include "support/compositors.hpp"
#include "support/process.hpp"
#include "support/screen.hpp"
#include "support/temp_dir.hpp"

#include <base/process.hpp>

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {


// The compositor's control socket: collects every line sent to it.
class KioskListener {
public:
    explicit KioskListener(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.data(), path.size());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(fd_, 16), 0);
    }
    ~KioskListener() { ::close(fd_); }
    // Everything the connections made so far have sent, in order; a closed
    // connection keeps its bytes queued, so this may run after the sender ended.
    std::string received() {
        std::string all;
        for (;;) {
            int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) break;
            char buf[256];
            ssize_t n;
            while ((n = ::read(c, buf, sizeof buf)) > 0) all.append(buf, static_cast<std::size_t>(n));
            ::close(c);
        }
        return all;
    }

private:
    int fd_ = -1;
};

struct Outcome {
    int status = -1;
    std::string err;
};

std::vector<std::string> with_env(std::vector<std::string> env, std::vector<std::string> args) {
    std::vector<std::string> argv = {"env", "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(TAVIX_INSTALLER_EXE);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

Outcome run_to_end(const std::vector<std::string>& argv) {
    auto r = base::capture(argv);
    EXPECT_TRUE(r.has_value());
    if (!r) return {};
    return {WIFEXITED(r->status) ? WEXITSTATUS(r->status) : 128 + WTERMSIG(r->status), r->err};
}

const std::string ON = "{\"action\":\"set_kiosk\",\"enabled\":true}\n";
const std::string OFF = "{\"action\":\"set_kiosk\",\"enabled\":false}\n";

TEST(WizardStart, ThemeErrorExits101BeforeKioskMode) {
    support::TempDir tmp;
    std::filesystem::create_directories(tmp / "themes/default");
    std::ofstream(tmp / "themes/default/theme.json") << "{";
    KioskListener kiosk(tmp / "mebra-w.sock");
    Outcome r = run_to_end(with_env({"ZEM_THEMES_DIR=" + (tmp / "themes"), "XDG_RUNTIME_DIR=" + tmp.path(),
                                 "WAYLAND_DISPLAY=w"},
                                {"--test"}));
    EXPECT_EQ(r.status, 101);
    EXPECT_EQ(r.err.rfind("zem: the `default` theme is required (install `zem-theme-default` or set "
                          "`ZEM_THEMES_DIR`): ",
                          0),
              0u)
        << r.err;
    EXPECT_EQ(kiosk.received(), "");
}

TEST(WizardStart, NoDisplayLeavesKioskModeOn) {
    support::TempDir tmp;
    KioskListener kiosk(tmp / "mebra-w.sock");
    Outcome r = run_to_end(with_env({"ZEM_THEMES_DIR=" TAVIX_SOURCE_DIR "/themes", "XDG_RUNTIME_DIR=" + tmp.path(),
                                 "WAYLAND_DISPLAY=w"},
                                {"--test"}));
    EXPECT_EQ(r.status, 101);
    EXPECT_NE(r.err.find("zem::run failed during init: "), std::string::npos) << r.err;
    EXPECT_EQ(kiosk.received(), ON);
}

TEST(WizardStart, KioskModeOnWhileTheWizardRunsAndOffAfter) {
    auto sway = zem::test::Sway::start(412, 915);
    if (!sway) GTEST_SKIP() << sway.error();
    support::TempDir tmp;
    std::filesystem::create_symlink((*sway)->display(), tmp / "w");
    KioskListener kiosk(tmp / "mebra-w.sock");
    base::Child child;
    ASSERT_EQ(base::spawn(with_env({"ZEM_THEMES_DIR=" TAVIX_SOURCE_DIR "/themes", "XDG_RUNTIME_DIR=" + tmp.path(),
                                    "WAYLAND_DISPLAY=w"},
                                   {"--test", "--windowsize", "412x915"}),
                          {}, child),
              0);
    EXPECT_TRUE(zem::test::wait_until([&] {
        return (*sway)->msg({"-t", "get_tree"}).second.find("net.tavix.Installer") != std::string::npos;
    }));
    std::string while_running = kiosk.received();
    ::kill(child.pid, SIGTERM);
    base::Drained out = base::drain(child, "", false);
    int status = 0;
    ASSERT_EQ(base::reap(child.pid, status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << out.err;
    EXPECT_EQ(while_running, ON);
    EXPECT_EQ(kiosk.received(), OFF);
}

// The wizard in test mode under a headless sway, one screenshot per page it
// reaches. The splash leaves by itself; the pages after the language page
// need taps, which wait for the toolkit's pointer and keyboard input.
TEST(WizardWalk, SplashGivesWayToTheLanguagePage) {
    auto sway = zem::test::Sway::start(412, 915);
    if (!sway) GTEST_SKIP() << sway.error();
    support::TempDir tmp;
    const std::string screens = TAVIX_BINARY_DIR "/screens/walk";
    std::filesystem::create_directories(screens);
    base::Child child;
    ASSERT_EQ(base::spawn(with_env({"ZEM_THEMES_DIR=" TAVIX_SOURCE_DIR "/themes", "XDG_RUNTIME_DIR=" + tmp.path(),
                                    "WAYLAND_DISPLAY=" + (*sway)->display()},
                                   {"--test", "--windowsize", "412x915"}),
                          {}, child),
              0);
    // The colour near the bottom of the screen, below the splash's logo and
    // the language list, tells the page: the splash is its brand colour,
    // the language page the light page grey.
    auto wait_for_centre = [&](const std::string& png, auto matches) {
        return zem::test::wait_until([&] {
            if (!(*sway)->screenshot(png)) return false;
            auto img = zem::test::load_png(png);
            if (!img || img->width != 412 || img->height != 915) return false;
            const std::uint8_t* px = &img->rgba[(880u * 412u + 206u) * 4u];
            return matches(px[0], px[1], px[2]);
        });
    };
    auto near = [](int a, int b) { return std::abs(a - b) <= 3; };
    EXPECT_TRUE(wait_for_centre(screens + "/01-splash.png",
                                [&](int r, int g, int b) { return near(r, 10) && near(g, 3) && near(b, 46); }));
    EXPECT_TRUE(wait_for_centre(screens + "/02-language.png",
                                [&](int r, int g, int b) { return near(r, 238) && near(g, 238) && near(b, 238); }));
    ::kill(child.pid, SIGTERM);
    base::drain(child, "", false);
    int status = 0;
    ASSERT_EQ(base::reap(child.pid, status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace

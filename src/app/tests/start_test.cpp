// Start-up's wizard branch, as the real executable: the theme error, the
// kiosk switch on and off (against a listening socket of ours standing in
// for the compositor's control socket), and a display that is missing.

#include "support/compositors.hpp"
#include "support/temp_dir.hpp"

#include <base/process.hpp>

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

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
    bool mapped = false;
    for (auto end = std::chrono::steady_clock::now() + 20s; !mapped && std::chrono::steady_clock::now() < end;) {
        mapped = (*sway)->msg({"-t", "get_tree"}).second.find("net.tavix.Installer") != std::string::npos;
        if (!mapped) std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(mapped);
    std::string while_running = kiosk.received();
    ::kill(child.pid, SIGTERM);
    base::Drained out = base::drain(child, "", false);
    int status = 0;
    ASSERT_EQ(base::reap(child.pid, status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << out.err;
    EXPECT_EQ(while_running, ON);
    EXPECT_EQ(kiosk.received(), OFF);
}

} // namespace

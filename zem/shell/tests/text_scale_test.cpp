// The text-scale watcher against the real gsettings tool, on a private
// session bus with its own dconf database.
#include "support/process.hpp"

#include <zem/shell/text_scale.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <optional>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;
using zem::event_loop::Channel;

namespace {

std::vector<float> receive(Channel<float>& ch, size_t want, std::chrono::milliseconds limit) {
    std::vector<float> got;
    zem::test::wait_until(
        [&] {
            for (float v : ch.take(1024)) got.push_back(v);
            return got.size() >= want;
        },
        limit);
    return got;
}

// This process's children, running or not yet reaped.
std::set<pid_t> children() {
    std::set<pid_t> out;
    const std::string self = std::to_string(getpid());
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = e.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = zem::test::read_file(e.path().string() + "/stat");
        // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
        auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == self) out.insert(std::atoi(pid.c_str()));
    }
    return out;
}

bool have_program(const char* p) {
    return access((std::string("/usr/bin/") + p).c_str(), X_OK) == 0;
}

class Watcher : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_program("gsettings") || !have_program("dbus-daemon"))
            GTEST_SKIP() << "gsettings or dbus-daemon missing";
        // Tests run before this one in the same process may have chosen
        // gsettings' memory back end for themselves.
        if (const char* b = std::getenv("GSETTINGS_BACKEND")) saved_backend = b;
        unsetenv("GSETTINGS_BACKEND");
        config = zem::test::make_temp_dir("zem-dconf");
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        auto [st, out] = zem::test::run_capture({"dbus-daemon", "--session", "--fork", "--nopidfile",
                                                 "--print-address=1", "--print-pid=1"});
        ASSERT_EQ(st, 0) << out;
        auto nl = out.find('\n');
        ASSERT_NE(nl, std::string::npos);
        setenv("DBUS_SESSION_BUS_ADDRESS", out.substr(0, nl).c_str(), 1);
        bus_pid = std::atoi(out.substr(nl + 1).c_str());
        // Without a dconf back end gsettings keeps a written value in its
        // own memory only: "set" succeeds and nothing ever changes.
        set_factor("1.75");
        std::string read;
        bool persists = zem::test::wait_until(
            [&] {
                read = zem::test::run_capture(
                           {"gsettings", "get", "org.gnome.desktop.interface", "text-scaling-factor"})
                           .second;
                return read == "1.75\n";
            },
            5s);
        if (!persists)
            GTEST_SKIP() << "gsettings set does not persist here (its settings back end keeps values in memory only); read back: "
                         << read;
    }
    void TearDown() override {
        if (bus_pid > 0) kill(bus_pid, SIGTERM);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("XDG_CONFIG_HOME");
        if (saved_backend) setenv("GSETTINGS_BACKEND", saved_backend->c_str(), 1);
        zem::test::remove_tree(config);
    }
    void set_factor(const char* v) {
        auto [st, out] = zem::test::run_capture(
            {"gsettings", "set", "org.gnome.desktop.interface", "text-scaling-factor", v});
        ASSERT_EQ(st, 0) << out;
    }

    std::string config;
    std::optional<std::string> saved_backend;
    pid_t bus_pid = -1;
};

TEST_F(Watcher, SendsTheReadingThenEachChangeAndReapsTheMonitorWhenTheLoopIsGone) {
    set_factor("1.5");
    // Earlier runs in this process may have left watchers of their own.
    const std::set<pid_t> before = children();
    auto ch = std::make_unique<Channel<float>>(*Channel<float>::create());
    std::thread t([s = ch->sender()]() mutable { zem::watch_text_scaling_factor(std::move(s)); });

    EXPECT_EQ(receive(*ch, 1, 5s), std::vector<float>{1.5f}) << "the reading comes first";
    // The monitor may need a moment to subscribe; keep changing until it
    // reports.
    std::vector<float> seen;
    for (int i = 0; i < 20 && seen.empty(); ++i) {
        set_factor(i % 2 ? "1.5" : "1.25");
        seen = receive(*ch, 1, 500ms);
    }
    if (seen.empty()) {
        // Nothing would ever end the watcher: leave it rather than wait.
        t.detach();
        FAIL() << "gsettings monitor never reported a change";
    }

    // The loop goes away: the next change fails to send, the monitor is
    // killed and reaped, and the thread ends.
    ch.reset();
    set_factor("2");
    set_factor("1");
    t.join();
    std::vector<pid_t> left;
    for (pid_t p : children())
        if (!before.contains(p)) left.push_back(p);
    EXPECT_TRUE(left.empty()) << "a child was left unreaped: " << left.front();
}

TEST(WatcherWithoutTool, EndsAtOnceAndSendsNothing) {
    auto ch = *Channel<float>::create();
    auto start = std::chrono::steady_clock::now();
    zem::watch_text_scaling_factor(ch.sender(), "/nonexistent/gsettings");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(ch.take(16).empty());
    EXPECT_FALSE(zem::read_text_scaling_factor("/nonexistent/gsettings").has_value());
}

}  // namespace

// The text-scale watcher against the real gsettings tool, on a private
// session bus with its own dconf database.
#include "support/process.hpp"

#include <zem/shell/text_scale.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;
using zem::event_loop::Channel;

namespace {

std::vector<float> receive(Channel<float>& ch, size_t want, std::chrono::milliseconds limit) {
    std::vector<float> got;
    auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        for (float v : ch.take(1024)) got.push_back(v);
        std::this_thread::sleep_for(20ms);
    }
    return got;
}

bool have_program(const char* p) {
    return access((std::string("/usr/bin/") + p).c_str(), X_OK) == 0;
}

class Watcher : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_program("gsettings") || !have_program("dbus-daemon"))
            GTEST_SKIP() << "gsettings or dbus-daemon missing";
        config = zem::test::make_temp_dir("zem-dconf");
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        auto [st, out] = zem::test::run_capture({"dbus-daemon", "--session", "--fork", "--nopidfile",
                                                 "--print-address=1", "--print-pid=1"});
        ASSERT_EQ(st, 0) << out;
        auto nl = out.find('\n');
        ASSERT_NE(nl, std::string::npos);
        setenv("DBUS_SESSION_BUS_ADDRESS", out.substr(0, nl).c_str(), 1);
        bus_pid = std::atoi(out.substr(nl + 1).c_str());
    }
    void TearDown() override {
        if (bus_pid > 0) kill(bus_pid, SIGTERM);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("XDG_CONFIG_HOME");
        zem::test::remove_tree(config);
    }
    void set_factor(const char* v) {
        auto [st, out] = zem::test::run_capture(
            {"gsettings", "set", "org.gnome.desktop.interface", "text-scaling-factor", v});
        ASSERT_EQ(st, 0) << out;
    }

    std::string config;
    pid_t bus_pid = -1;
};

TEST_F(Watcher, SendsTheReadingThenEachChangeAndReapsTheMonitorWhenTheLoopIsGone) {
    set_factor("1.5");
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
    ASSERT_FALSE(seen.empty()) << "gsettings monitor never reported a change";

    // The loop goes away: the next change fails to send, the monitor is
    // killed and reaped, and the thread ends.
    ch.reset();
    set_factor("2");
    set_factor("1");
    t.join();
    int status;
    errno = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "a child was left unreaped";
    EXPECT_EQ(errno, ECHILD);
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

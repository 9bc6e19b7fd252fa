// The real daemon, as a separate process on its socket, in a mount namespace
// of its own.
#include "client/client.hpp"
#include "platform/system_paths.hpp"
#include "support/daemon_process.hpp"
#include "support/wait.hpp"

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;
using support::DaemonProcess;

const std::string INSTALL =
    R"({"cmd":"install","plan":{"disk":"/dev/tavix-none","mode":"WholeDisk","locale":"en","account":null,"encrypt":false,"test":false}})";
const std::string TEST_INSTALL =
    R"({"cmd":"install","plan":{"disk":"/dev/tavix-none","mode":{"Partition":3},"locale":"en","account":null,"encrypt":false,"test":true}})";
const std::string DISK_OPS = R"({"cmd":"disk_ops","ops":[{"Wipe":{"disk":"/dev/tavix-none"}},{"Delete":{"disk":"/dev/tavix-none","numbers":[1]}}]})";
const std::string APPLY_LOCALE = R"({"cmd":"apply_locale","locale":"de"})";
const std::string STAGE_ACCOUNT =
    R"({"cmd":"stage_account","username":"ann","hostname":"box","password":"pw","encrypt":false})";
const std::string FINISH = R"({"cmd":"finish_configure"})";
const std::string CANCEL = R"({"cmd":"cancel_install"})";

std::string failed(const std::string& message) { return R"({"event":"failed","message":")" + message + "\"}\n"; }
const std::string DONE = "{\"event\":\"done\"}\n";

void touch(const std::string& path, const std::string& content = "") { std::ofstream(path) << content; }

class Daemon : public ::testing::Test {
protected:
    void SetUp() override {
        auto d = DaemonProcess::start(TAVIX_INSTALLER_EXE, prepare_);
        if (!d) GTEST_SKIP() << d.error();
        daemon_ = std::move(*d);
    }
    support::Exchange send(const std::string& line) {
        return support::exchange(daemon_->socket_path(), line + "\n");
    }
    DaemonProcess::Prepare prepare_;
    std::unique_ptr<DaemonProcess> daemon_;
};

TEST_F(Daemon, ListensOnAFreshSocketOpenToEveryone) {
    struct stat st {};
    ASSERT_EQ(::stat(daemon_->socket_path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(daemon_->log(), "tavix-installer daemon: listening on /run/tavix-installer/daemon.sock\n");
}

class StaleSocket : public Daemon {
protected:
    void SetUp() override {
        prepare_ = [](const std::string& root) {
            fs::create_directories(root + "/run/tavix-installer");
            touch(root + "/run/tavix-installer/daemon.sock", "left over");
        };
        Daemon::SetUp();
    }
};

TEST_F(StaleSocket, IsReplaced) {
    struct stat st {};
    ASSERT_EQ(::stat(daemon_->socket_path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(send(FINISH).received, DONE);
}

TEST(DaemonSetup, FailureEndsWithStatusOne) {
    struct Case {
        const char* name;
        DaemonProcess::Prepare prepare;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"socket directory is a file",
         [](const std::string& root) { touch(root + "/run/tavix-installer"); },
         "tavix-installer daemon: mkdir /run/tavix-installer: Not a directory\n"},
        {"socket path held by a directory",
         [](const std::string& root) { fs::create_directories(root + "/run/tavix-installer/daemon.sock/x"); },
         "tavix-installer daemon: bind /run/tavix-installer/daemon.sock: Address already in use\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = DaemonProcess::start(TAVIX_INSTALLER_EXE, c.prepare, false);
        if (!d) GTEST_SKIP() << d.error();
        int status = (*d)->wait_exit();
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ((*d)->log(), c.message);
    }
}

TEST_F(Daemon, MarkerFilesGateRequests) {
    struct Case {
        const char* name;
        std::vector<std::string> markers;
        std::string request;
        std::string answer; // exact bytes
    };
    const std::vector<Case> cases = {
        {"install without install-pending", {"configure-pending"}, INSTALL, failed("not-pending")},
        {"disk batch without install-pending", {"configure-pending"}, DISK_OPS, failed("not-pending")},
        {"locale without configure-pending", {"install-pending"}, APPLY_LOCALE, failed("not-pending")},
        {"account without configure-pending", {"install-pending"}, STAGE_ACCOUNT, failed("not-pending")},
        {"locale while configuring", {"configure-pending"}, APPLY_LOCALE, DONE},
        {"cancel needs no marker", {}, CANCEL, DONE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* m : {"install-pending", "configure-pending"}) fs::remove(daemon_->marker(m));
        for (const auto& m : c.markers) touch(daemon_->marker(m));
        auto ex = send(c.request);
        EXPECT_TRUE(ex.closed);
        EXPECT_EQ(ex.received, c.answer);
    }
    EXPECT_TRUE(daemon_->wait_for_log("daemon: applying locale de to the running system\n"));
    EXPECT_TRUE(daemon_->wait_for_log("daemon: install cancellation requested\n"));
    // Refused requests leave no log line of their work.
    EXPECT_EQ(daemon_->log().find("disk operation(s)"), std::string::npos);
    EXPECT_EQ(daemon_->log().find("install requested"), std::string::npos);
}

TEST_F(Daemon, AcceptedWorkIsLoggedAndAnswered) {
    touch(daemon_->marker("install-pending"));
    touch(daemon_->marker("configure-pending"));
    auto ops = send(DISK_OPS);
    EXPECT_TRUE(ops.received.starts_with(R"({"event":"failed","message":")")) << ops.received;
    EXPECT_TRUE(daemon_->wait_for_log("daemon: applying 2 disk operation(s)\n"));
    auto account = send(STAGE_ACCOUNT);
    EXPECT_TRUE(account.received.starts_with(R"({"event":)")) << account.received;
    EXPECT_TRUE(daemon_->wait_for_log("daemon: staging account ann (encrypt: false) for the next boot\n"));
}

TEST_F(Daemon, InstallIsAlwaysRealAndReportsProgressFirst) {
    touch(daemon_->marker("install-pending"));
    // The plan asks for a simulation; the daemon installs for real, which on
    // a missing disk fails instead of walking the simulated script.
    auto ex = send(TEST_INSTALL);
    EXPECT_TRUE(ex.closed);
    EXPECT_TRUE(ex.received.starts_with("{\"event\":\"progress\",")) << ex.received;
    auto last = ex.received.rfind("{\"event\":");
    EXPECT_TRUE(ex.received.substr(last).starts_with(R"({"event":"failed","message":")")) << ex.received;
    // Only the real pipeline looks at the plan's disk; the simulation never
    // fails on its own.
    EXPECT_EQ(ex.received.substr(last), failed("open /dev/tavix-none: No such file or directory")) << ex.received;
    EXPECT_TRUE(daemon_->wait_for_log("daemon: install requested: Partition(3) on /dev/tavix-none\n"));
    EXPECT_TRUE(daemon_->wait_for_log("daemon: install failed: "));
    // The busy flag went with the finished install.
    auto again = send(INSTALL);
    EXPECT_NE(again.received, failed("busy"));
    EXPECT_TRUE(daemon_->wait_for_log("daemon: install requested: WholeDisk on /dev/tavix-none\n"));
}

// A peer that writes its whole line before reading, as the client does,
// must get to read the answer to a line that is too long: the daemon takes
// the rest of the line instead of resetting the connection under the write.
TEST_F(Daemon, OverLongLineIsTakenWholeAndAnswered) {
    const std::string line = std::string(4 << 20, ' ') + FINISH + "\n";
    auto ex = support::exchange(daemon_->socket_path(), line);
    EXPECT_EQ(ex.sent, line.size());
    EXPECT_TRUE(ex.closed);
    EXPECT_EQ(ex.received, failed("bad request: request line longer than 1048576 bytes"));
}

TEST_F(Daemon, BadRequests) {
    struct Case {
        const char* name;
        std::string bytes;
        bool shutdown_write;
        std::string answer_prefix; // empty: no answer at all
        std::string answer_part;
    };
    const std::string bad = R"({"event":"failed","message":"bad request: )";
    const std::vector<Case> cases = {
        {"not JSON", "hello\n", false, bad, "line 1"},
        {"unknown command", R"({"cmd":"reboot"})" "\n", false, bad, "unknown variant `reboot`"},
        {"missing command", R"({"locale":"de"})" "\n", false, bad, "missing field `cmd`"},
        {"two objects on a line", FINISH + FINISH + "\n", false, bad, ""},
        {"empty connection", "", true, bad, ""},
        {"blank line", "   \n", false, bad, ""},
        {"invalid UTF-8 gets no answer", "{\"cmd\":\"apply_locale\",\"locale\":\"\xff\"}\n", false, "", ""},
        {"over-long line", std::string(2 << 20, ' ') + FINISH + "\n", false, bad, ""},
        // Needs no final newline when the sender closes its side; white
        // space around the object is fine, and bytes after the line ignored.
        {"no final newline", " " + FINISH + " ", true, DONE, ""},
        {"after the first line", FINISH + "\nnonsense\n", false, DONE, ""},
        {"command key last", R"({"x":1,"cmd":"finish_configure"})" "\n", false, DONE, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto ex = support::exchange(daemon_->socket_path(), c.bytes, c.shutdown_write);
        EXPECT_TRUE(ex.closed);
        if (c.answer_prefix.empty()) {
            EXPECT_EQ(ex.received, "");
            continue;
        }
        EXPECT_TRUE(ex.received.starts_with(c.answer_prefix)) << ex.received;
        EXPECT_NE(ex.received.find(c.answer_part), std::string::npos) << ex.received;
        EXPECT_EQ(ex.received.find('\n'), ex.received.size() - 1) << "one line: " << ex.received;
    }
}

TEST_F(Daemon, PeerThatLeavesAtOnceIsLogged) {
    int fd = support::connect_unix(daemon_->socket_path());
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_TRUE(daemon_->wait_for_log("daemon: write to daemon: "));
    // Still serving.
    EXPECT_EQ(send(FINISH).received, DONE);
}

TEST_F(Daemon, FinishConfigure) {
    struct Case {
        const char* name;
        bool pending;
        bool state_dir;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"while configuring", true, true, DONE},
        {"already finished", false, true, DONE},
        {"state directory gone", false, false,
         failed("write /var/lib/tavix-installer/configured: No such file or directory")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = daemon_->paths().state_dir;
        fs::create_directories(dir);
        touch(daemon_->marker("configured"), "stale");
        if (c.pending) touch(daemon_->marker("configure-pending"));
        if (!c.state_dir) fs::remove_all(dir);
        EXPECT_EQ(send(FINISH).received, c.answer);
        EXPECT_FALSE(fs::exists(daemon_->marker("configure-pending")));
        if (c.state_dir) {
            ASSERT_TRUE(fs::exists(daemon_->marker("configured")));
            EXPECT_EQ(fs::file_size(daemon_->marker("configured")), 0u);
        }
    }
}

TEST_F(Daemon, SilentPeerIsDroppedWithoutBlockingOthers) {
    int idle = support::connect_unix(daemon_->socket_path());
    ASSERT_GE(idle, 0);
    // A slow but live sender is served, and others are served while it
    // is still in the middle of its line.
    int slow = support::connect_unix(daemon_->socket_path());
    ASSERT_GE(slow, 0);
    ASSERT_EQ(::send(slow, "{\"cmd\":", 7, MSG_NOSIGNAL), 7);
    EXPECT_EQ(send(FINISH).received, DONE);
    const std::string rest = "\"finish_configure\"}\n";
    ASSERT_EQ(::send(slow, rest.data(), rest.size(), MSG_NOSIGNAL), static_cast<ssize_t>(rest.size()));
    char buf[64] = {};
    EXPECT_EQ(::recv(slow, buf, sizeof buf - 1, 0), static_cast<ssize_t>(DONE.size()));
    EXPECT_EQ(std::string(buf), DONE);
    ::close(slow);

    // A peer that trickles its line a byte at a time is held to the same
    // bound as the silent one: both are closed without an answer.
    int trickle = support::connect_unix(daemon_->socket_path());
    ASSERT_GE(trickle, 0);
    // Its pace (a byte a second) is the scenario; being told to stop ends
    // the pause at once.
    std::mutex pace_mutex;
    std::condition_variable pace;
    bool stop = false;
    std::thread dripper([&] {
        std::unique_lock lock(pace_mutex);
        while (!stop) {
            if (::send(trickle, " ", 1, MSG_NOSIGNAL) != 1) return;
            pace.wait_for(lock, 1s, [&] { return stop; });
        }
    });
    const auto before = std::chrono::steady_clock::now();
    for (int fd : {idle, trickle}) {
        timeval tv{45, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        EXPECT_EQ(::recv(fd, buf, sizeof buf, 0), 0);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 40s);
    {
        std::lock_guard lock(pace_mutex);
        stop = true;
    }
    pace.notify_all();
    dripper.join();
    ::close(idle);
    ::close(trickle);
}

// The client, against the real daemon.
class ClientWithDaemon : public Daemon {
protected:
    void SetUp() override {
        Daemon::SetUp();
        if (IsSkipped()) return;
        saved_ = platform::paths();
        auto p = daemon_->paths();
        platform::set_paths(p);
    }
    void TearDown() override {
        if (daemon_) platform::set_paths(saved_);
    }
    platform::SystemPaths saved_;
};

TEST_F(ClientWithDaemon, Requests) {
    EXPECT_EQ(client::apply_locale("fr"), std::unexpected(std::string("not-pending")));
    EXPECT_EQ(client::stage_account("ann", "box", "pw", false), std::unexpected(std::string("not-pending")));
    EXPECT_EQ(client::apply_disk_ops({ipc::RemoteDiskOp::Wipe{"/dev/tavix-none"}}),
              std::vector<std::string>{"not-pending"});
    touch(daemon_->marker("configure-pending"));
    EXPECT_TRUE(client::apply_locale("fr").has_value());
    EXPECT_TRUE(daemon_->wait_for_log("daemon: applying locale fr to the running system\n"));
    EXPECT_TRUE(client::request(ipc::Request::FinishConfigure{}).has_value());
    EXPECT_FALSE(fs::exists(daemon_->marker("configure-pending")));
    EXPECT_TRUE(fs::exists(daemon_->marker("configured")));

    client::cancel_install();
    EXPECT_TRUE(install::CANCEL_FLAG.load());
    EXPECT_TRUE(daemon_->wait_for_log("daemon: install cancellation requested\n"));
}

TEST_F(ClientWithDaemon, InstallOutcomeReachesTheHandle) {
    ipc::InstallPlan plan;
    plan.disk = "/dev/tavix-none";
    plan.locale = "en";
    auto wait_end = [](const install::InstallHandle& h) {
        support::wait_until([&] {
            auto s = h->snapshot();
            return s.done || s.error.has_value();
        });
        return h->snapshot();
    };
    auto refused = wait_end(client::start_install(plan));
    EXPECT_EQ(refused.error, "not-pending");
    EXPECT_FALSE(refused.done);

    touch(daemon_->marker("install-pending"));
    auto failed_run = wait_end(client::start_install(plan));
    ASSERT_TRUE(failed_run.error.has_value());
    EXPECT_FALSE(failed_run.done);
    EXPECT_TRUE(daemon_->wait_for_log("daemon: install failed: " + *failed_run.error + "\n"));
}

} // namespace

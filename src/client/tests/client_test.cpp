// The client against a scripted peer on a socket of the test's own, and
// without any daemon at all.
#include "client/client.hpp"
#include "platform/system_paths.hpp"
#include "support/files.hpp"
#include "support/daemon_process.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using ipc::InstallPhase;

using support::wait_until;

install::InstallSnapshot wait_end(const install::InstallHandle& h) {
    wait_until([&] {
        auto s = h->snapshot();
        return s.done || s.error.has_value();
    });
    return h->snapshot();
}

// Listens where the client looks for the daemon and answers every
// connection with a fixed script, recording what each connection sent.
class ScriptedDaemon {
public:
    ScriptedDaemon(const std::string& path, std::string reply, bool close_after = true)
        : reply_(std::move(reply)), close_after_(close_after) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path.c_str());
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener_, 16);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedDaemon() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        for (int fd : kept_) ::close(fd);
    }
    // What each connection sent before closing its side (or the first line).
    std::vector<std::string> received() {
        std::lock_guard l(m_);
        return received_;
    }

private:
    void serve() {
        for (;;) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            std::string got;
            char c;
            while (::read(fd, &c, 1) == 1) {
                got.push_back(c);
                if (c == '\n') break;
            }
            {
                std::lock_guard l(m_);
                received_.push_back(got);
            }
            if (!got.empty()) (void)!::write(fd, reply_.data(), reply_.size());
            if (close_after_)
                ::close(fd);
            else
                kept_.push_back(fd);
        }
    }
    int listener_ = -1;
    std::string reply_;
    bool close_after_;
    std::thread thread_;
    std::mutex m_;
    std::vector<std::string> received_;
    std::vector<int> kept_;
};

class Client : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::paths();
        auto p = saved_;
        p.run_dir = dir_.path();
        p.state_dir = dir_ / "state";
        // Work the client does in-process on the running system lands here.
        p.host_root = dir_ / "host";
        std::filesystem::create_directories(p.host_root);
        platform::set_paths(p);
    }
    void TearDown() override {
        install::CANCEL_FLAG.store(true);
        platform::set_paths(saved_);
    }
    std::string socket() const { return platform::paths().daemon_socket(); }
    support::TempDir dir_;
    platform::SystemPaths saved_;
};

ipc::InstallPlan real_plan() {
    ipc::InstallPlan p;
    p.disk = "/dev/tavix-none";
    p.mode = ipc::TargetMode::FreeSpace{1048576, 2097152};
    p.locale = "de";
    p.account = ipc::AccountSetup{"ann", "box", "p\"w"};
    p.encrypt = true;
    return p;
}

const std::string PROGRESS_COPY = R"({"event":"progress","phase":"Copy","fraction":0.5})" "\n";
const std::string PROGRESS_BOOT = R"({"event":"progress","phase":"Bootloader","fraction":0.9})" "\n";
const std::string DONE = R"({"event":"done"})" "\n";

TEST_F(Client, RemoteInstallFollowsTheDaemon) {
    struct Case {
        const char* name;
        std::string reply;
        install::InstallSnapshot want;
    };
    const std::vector<Case> cases = {
        {"progress then done", PROGRESS_COPY + PROGRESS_BOOT + DONE, {std::nullopt, 1.0f, true, InstallPhase::Bootloader}},
        {"connection lost", PROGRESS_COPY,
         {"connection to the install daemon lost", 0.5f, false, InstallPhase::Copy}},
        {"blank lines and CRLF", "\r\n   \n" R"({"event":"progress","phase":"Format","fraction":0.05})" "\r\n" R"({"event":"failed","message":"busy"})" "\r\n",
         {"busy", 0.05f, false, InstallPhase::Format}},
        {"nothing after done counts", DONE + R"({"event":"failed","message":"late"})" "\n",
         {std::nullopt, 1.0f, true, InstallPhase::Partition}},
        {"invalid UTF-8", PROGRESS_COPY + "\xff\xfe\n",
         {"read from daemon: stream did not contain valid UTF-8", 0.5f, false, InstallPhase::Copy}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(socket());
        ScriptedDaemon peer(socket(), c.reply);
        auto end = wait_end(client::start_install(real_plan()));
        EXPECT_EQ(end.error, c.want.error);
        EXPECT_EQ(end.done, c.want.done);
        EXPECT_EQ(end.phase, c.want.phase);
        EXPECT_EQ(end.fraction, c.want.fraction);
        auto sent = peer.received();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], *ipc::encode(ipc::Request::Install{real_plan()}) + "\n");
    }

    std::filesystem::remove(socket());
    ScriptedDaemon garbage(socket(), "{\"event\":\"reboot\"}\n");
    auto end = wait_end(client::start_install(real_plan()));
    ASSERT_TRUE(end.error.has_value());
    EXPECT_TRUE(end.error->starts_with("bad event from daemon: unknown variant `reboot`")) << *end.error;
}

TEST_F(Client, RequestWaitsForTheAnswer) {
    struct Case {
        const char* name;
        std::string reply;
        std::expected<void, std::string> want;
    };
    const std::vector<Case> cases = {
        {"progress and blank lines skipped", PROGRESS_COPY + "\n \n" + DONE, {}},
        {"failure message as sent", R"({"event":"failed","message":"write /x: No space\nleft"})" "\n",
         std::unexpected(std::string("write /x: No space\nleft"))},
        {"closed without answer", PROGRESS_COPY, std::unexpected(std::string("connection to the install daemon lost"))},
        {"not an event", "[]\n", std::unexpected(std::string())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(socket());
        ScriptedDaemon peer(socket(), c.reply);
        auto got = client::stage_account("ann", "box", "pw", true);
        if (c.want.has_value() || !c.want.error().empty()) {
            EXPECT_EQ(got, c.want);
        } else {
            ASSERT_FALSE(got.has_value());
            EXPECT_TRUE(got.error().starts_with("bad event from daemon: ")) << got.error();
        }
        ASSERT_EQ(peer.received().size(), 1u);
        EXPECT_EQ(peer.received()[0],
                  R"({"cmd":"stage_account","username":"ann","hostname":"box","password":"pw","encrypt":true})" "\n");
    }
}

TEST_F(Client, ProbesBeforeDiskBatchAndLocale) {
    ScriptedDaemon peer(socket(), R"({"event":"failed","message":"first\nsecond"})" "\n");
    EXPECT_TRUE(client::apply_disk_ops({}).empty());
    EXPECT_TRUE(peer.received().empty()) << "an empty batch contacts nobody";

    auto errors = client::apply_disk_ops({ipc::RemoteDiskOp::Wipe{"/dev/tavix-none"}});
    EXPECT_EQ(errors, std::vector<std::string>{"first\nsecond"});
    auto sent = peer.received();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "") << "the probe writes nothing";
    EXPECT_EQ(sent[1], R"({"cmd":"disk_ops","ops":[{"Wipe":{"disk":"/dev/tavix-none"}}]})" "\n");

    EXPECT_EQ(client::apply_locale("ja"), std::unexpected(std::string("first\nsecond")));
    sent = peer.received();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3], R"({"cmd":"apply_locale","locale":"ja"})" "\n");
}

TEST_F(Client, TestPlanNeverContactsTheDaemon) {
    ScriptedDaemon peer(socket(), DONE);
    auto plan = real_plan();
    plan.test = true;
    auto handle = client::start_install(plan);
    ASSERT_TRUE(wait_until([&] { return handle->snapshot().fraction >= 0.01f; }));
    EXPECT_EQ(handle->snapshot().phase, InstallPhase::Partition);
    client::cancel_install(); // also asks the peer, which answers nothing useful
    EXPECT_EQ(wait_end(handle).error, "cancelled");
    auto sent = peer.received();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "{\"cmd\":\"cancel_install\"}\n");
}

TEST_F(Client, CancelDoesNotWait) {
    // A peer that takes the request and never answers nor closes.
    ScriptedDaemon mute(socket(), "", false);
    install::CANCEL_FLAG.store(false);
    const auto before = std::chrono::steady_clock::now();
    client::cancel_install();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_TRUE(install::CANCEL_FLAG.load());
    ASSERT_TRUE(wait_until([&] { return mute.received().size() == 1; }));
    EXPECT_EQ(mute.received()[0], "{\"cmd\":\"cancel_install\"}\n");

    std::filesystem::remove(socket());
    install::CANCEL_FLAG.store(false);
    client::cancel_install();
    EXPECT_TRUE(install::CANCEL_FLAG.load());
}

TEST_F(Client, WithoutDaemonAsRoot) {
    if (!client::is_root()) GTEST_SKIP() << "needs root";
    const std::string connect_error = "connect " + socket() + ": No such file or directory";
    EXPECT_EQ(client::stage_account("ann", "box", "pw", false), std::unexpected(connect_error));
    EXPECT_EQ(client::request(ipc::Request::FinishConfigure{}), std::unexpected(connect_error));
    // The language is applied here; a root without /etc takes none of it,
    // and that is what the caller hears.
    const std::string host = platform::paths().host_root;
    EXPECT_EQ(client::apply_locale("de"),
              std::unexpected("write " + host + "/etc/default/locale: No such file or directory"));
    std::filesystem::create_directories(host + "/etc/default");
    EXPECT_EQ(client::apply_locale("de"), (std::expected<void, std::string>{}));
    EXPECT_EQ(support::read_file(host + "/etc/default/locale"), "LANG=de_DE.UTF-8\n");
    // Root does the disk batch and the install itself.
    auto errors = client::apply_disk_ops({ipc::RemoteDiskOp::Wipe{"/dev/tavix-none"}});
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_NE(errors, std::vector<std::string>{"no-daemon"});
    testing::internal::CaptureStderr();
    auto handle = client::start_install(real_plan());
    auto log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "ipc: daemon unreachable (No such file or directory); running the engine in-process\n");
    auto end = wait_end(handle);
    ASSERT_TRUE(end.error.has_value());
    EXPECT_NE(*end.error, "no-daemon");
}

TEST_F(Client, WithoutDaemonAndNotRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    // A forked child drops to an ordinary user; it reports through its
    // exit status and its own test output.
    // A place an ordinary user could look at, where nothing listens.
    auto p = platform::paths();
    p.run_dir = "/run/tavix-installer-test-absent";
    platform::set_paths(p);
    const std::string sock = socket();
    // Where an ordinary user can write nothing.
    const std::string host = p.host_root;
    std::filesystem::create_directories(host + "/etc/default");
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) _exit(90);
        // Changing identity makes the process undumpable, which hands
        // /proc/self to root; an ordinary program is dumpable.
        ::prctl(PR_SET_DUMPABLE, 1);
        int failures = 0;
        auto check = [&](bool ok, const char* what) {
            if (!ok) {
                std::fprintf(stderr, "child: %s\n", what);
                ++failures;
            }
        };
        check(!client::is_root(), "is_root");
        testing::internal::CaptureStderr();
        auto handle = client::start_install(real_plan());
        auto log = testing::internal::GetCapturedStderr();
        auto s = handle->snapshot();
        check(s.error == "no-daemon" && !s.done && s.fraction == 0.0f && s.phase == InstallPhase::Partition,
              "refusal handle");
        check(log == "ipc: daemon unreachable (No such file or directory) and not root\n", "log line");
        check(client::apply_disk_ops({ipc::RemoteDiskOp::Wipe{"/dev/tavix-none"}}) ==
                  std::vector<std::string>{"no-daemon"},
              "disk batch");
        check(client::apply_locale("de") ==
                  std::unexpected("write " + host + "/etc/default/locale: Permission denied"),
              "locale in-process reports its first failed write");
        check(client::stage_account("a", "b", "c", false) ==
                  std::unexpected("connect " + sock + ": No such file or directory"),
              "staging has no fallback");
        _exit(failures == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace

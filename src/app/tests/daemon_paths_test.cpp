// The wizard against a daemon socket that answers as scripted: the install
// through the real client's reader thread, every way the daemon can end it,
// and the account staging at the end of the configure scenario.

#include "app_fixture.hpp"
#include "platform/system_paths.hpp"
#include "support/files.hpp"
#include "support/scripted_daemon.hpp"
#include "support/temp_dir.hpp"

#include <base/process.hpp>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using app::Msg;
using app::Page;
using support::DaemonAnswer;
using namespace std::chrono_literals;

class DaemonPaths : public apptest::WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        platform::SystemPaths p;
        p.run_dir = tmp_ / "run";
        std::filesystem::create_directories(p.run_dir);
        guard_.emplace(p);
    }
    void TearDown() override {
        guard_.reset();
        WizardTest::TearDown();
    }

    // On the progress page with a real (not test) plan going to the daemon.
    app::InstallerApp installing() {
        auto a = make();
        fx->forward_install = true;
        fx->plan = [](const install::WizardChoices&) -> std::expected<ipc::InstallPlan, std::string> {
            ipc::InstallPlan p;
            p.disk = "/dev/tavix-none";
            p.mode = ipc::TargetMode::WholeDisk{};
            p.locale = "en";
            return p;
        };
        a.update(Msg::SelectDisk{0});
        a.set_page(Page::Progress);
        return a;
    }

    // Polls as the loop would until the page leaves Progress.
    void poll_until_done(app::InstallerApp& a) {
        for (auto end = std::chrono::steady_clock::now() + 10s;
             a.page == Page::Progress && std::chrono::steady_clock::now() < end;) {
            for (Msg& m : a.poll()) a.update(m);
            std::this_thread::sleep_for(5ms);
        }
    }

    std::string socket() { return platform::paths().daemon_socket(); }

    support::TempDir tmp_;
    std::optional<support::PathsGuard> guard_;
};

TEST_F(DaemonPaths, ProgressThenDoneLeadsToFinish) {
    support::ScriptedDaemon d(socket(), {{{ipc::Event::Progress{ipc::InstallPhase::Copy, 0.5f}, ipc::Event::Done{}}}});
    auto a = installing();
    poll_until_done(a);
    EXPECT_EQ(a.page, Page::Finish);
    EXPECT_FALSE(a.error);
    ASSERT_EQ(d.requests().size(), 1u);
    EXPECT_NE(d.requests()[0].find("tavix-none"), std::string::npos);
}

TEST_F(DaemonPaths, EveryWayTheDaemonEndsAnInstallShowsOnTheDiskPage) {
    struct Row {
        DaemonAnswer answer;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {{{ipc::Event::Failed{"busy"}}}, i18n::translate("error.install_busy")},
        {{{ipc::Event::Failed{"not-pending"}}}, i18n::translate("error.not_pending")},
        {{{ipc::Event::Progress{ipc::InstallPhase::Format, 0.2f}, ipc::Event::Failed{"cancelled"}}},
         i18n::translate("error.cancelled")},
        {{{}, DaemonAnswer::End::Drop}, "connection to the install daemon lost"},
        {{{ipc::Event::Progress{ipc::InstallPhase::Copy, 0.3f}}, DaemonAnswer::End::Drop},
         "connection to the install daemon lost"},
    };
    for (const Row& r : rows) {
        support::ScriptedDaemon d(socket(), {r.answer});
        auto a = installing();
        poll_until_done(a);
        EXPECT_EQ(a.page, Page::Disk) << r.shown;
        EXPECT_EQ(a.error, r.shown);
        EXPECT_FALSE(a.install);
    }
}

TEST_F(DaemonPaths, HangingDaemonNeverBlocksTheLoop) {
    support::ScriptedDaemon d(socket(), {{{ipc::Event::Progress{ipc::InstallPhase::Copy, 0.25f}},
                                          DaemonAnswer::End::Hang}});
    auto a = installing();
    for (auto end = std::chrono::steady_clock::now() + 300ms; std::chrono::steady_clock::now() < end;) {
        const auto t0 = std::chrono::steady_clock::now();
        for (Msg& m : a.poll()) a.update(m);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(a.page, Page::Progress);
    // Cancelling reaches the daemon on a connection of its own.
    a.update(Msg::AskCancelInstall{});
    a.update(Msg::ConfirmCancelInstall{});
    EXPECT_EQ(a.page, Page::Progress);
}

TEST_F(DaemonPaths, StagingRefusedByTheDaemonStaysOnThePage) {
    support::ScriptedDaemon d(socket(), {{{ipc::Event::Failed{"not-pending"}}}});
    auto a = make({true, true, false});
    fx->forward_daemon = true;
    a.update(Msg::SetUsername{"ann"});
    a.update(Msg::SetPassword{"pw"});
    a.update(Msg::SetPasswordConfirm{"pw"});
    a.set_page(Page::DockTutorial, 3);
    a.update(Msg::Next{});
    fx->run_jobs();
    testing::internal::CaptureStderr();
    a.update(Msg::PollFinish{});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "installer: stage account: not-pending\n");
    EXPECT_EQ(a.finish_error, i18n::translate("error.not_pending"));
    EXPECT_EQ(a.page, Page::DockTutorial);
    ASSERT_EQ(d.requests().size(), 1u);
    EXPECT_NE(d.requests()[0].find("ann"), std::string::npos);
}

// With no daemon, root would run the install in this process: the refusal
// only shows for a normal user, so this runs as one (started by the next test).
class NonRoot : public DaemonPaths {};

TEST_F(NonRoot, NoDaemonIsShownInTheUsersLanguage) {
    if (::geteuid() == 0) GTEST_SKIP() << "runs as a normal user, started by DaemonPaths.NoDaemonAsANormalUser";
    for (const char* locale : {"en", "de"}) {
        i18n::set_locale(locale);
        auto a = installing();
        poll_until_done(a);
        EXPECT_EQ(a.page, Page::Disk);
        EXPECT_EQ(a.error, i18n::translate("error.no_daemon"));
    }
}

TEST_F(DaemonPaths, NoDaemonAsANormalUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to start itself as nobody";
    // A fresh process: after a change of user in place, /proc/self would
    // still belong to root and the client would take us for root.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    auto r = base::capture(
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", self, "--gtest_filter=NonRoot.*"});
    ASSERT_TRUE(r) << r.error();
    EXPECT_TRUE(r->exited_ok()) << r->out << r->err;
    EXPECT_NE(r->out.find("[  PASSED  ] 1 test"), std::string::npos) << r->out;
    EXPECT_EQ(r->out.find("SKIPPED"), std::string::npos) << r->out;
}

} // namespace

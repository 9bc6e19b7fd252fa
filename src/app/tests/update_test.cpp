// Message handling per family, and what entering the progress and done
// pages sets going.

#include "app_fixture.hpp"

#include <sys/wait.h>

namespace {

using app::Msg;
using app::Page;
using apptest::WizardTest;
using Calls = std::vector<std::string>;

class Update : public WizardTest {};

TEST_F(Update, NavigationAliasesAdvanceLikeNext) {
    for (Msg m : {Msg{Msg::Next{}}, Msg{Msg::UseCellular{}}, Msg{Msg::ProtonSubmit{}}, Msg{Msg::FinishContinue{}}}) {
        auto a = make({true});
        a.set_page(Page::Navigation);
        a.update(m);
        EXPECT_EQ(a.page, Page::Storage) << "tag " << m.tag();
    }
}

TEST_F(Update, DirectJumps) {
    struct Row {
        Msg msg;
        Page from, to;
    };
    const std::vector<Row> rows = {
        {Msg::ProtonSkip{}, Page::Proton, Page::Permissions},
        {Msg::SkipSecurity{}, Page::Security, Page::Finish},
        {Msg::RegisterMoreFingerprints{}, Page::FingerprintDone, Page::FingerprintEnroll},
        {Msg::SkipTutorial{}, Page::GesturesTutorial, Page::Done},
        {Msg::GoTo{9, 0}, Page::Welcome, Page::Permissions},
        {Msg::SetStorage{0}, Page::Storage, Page::Permissions},
        {Msg::SetStorage{1}, Page::Storage, Page::Proton},
        {Msg::SetStorage{2}, Page::Storage, Page::Permissions},
        {Msg::SetSecurityMethod{0}, Page::Security, Page::Security},
        {Msg::SetSecurityMethod{1}, Page::Security, Page::FingerprintEnroll},
        {Msg::SetNavigationStyle{1}, Page::Navigation, Page::Navigation},
    };
    for (const Row& r : rows) {
        auto a = make({true, true, true});
        a.set_page(r.from);
        a.update(r.msg);
        EXPECT_EQ(a.page, r.to) << "tag " << r.msg.tag();
    }
}

TEST_F(Update, GoToAPageThatDoesNotExistIsIgnored) {
    for (std::uint8_t p : {std::uint8_t{18}, std::uint8_t{255}}) {
        auto a = make();
        a.set_page(Page::Welcome, 2);
        a.update(Msg::GoTo{p, 1});
        EXPECT_EQ(a.page, Page::Welcome);
        EXPECT_EQ(a.tutorial_step, 2);
        EXPECT_TRUE(fx->calls.empty());
    }
    auto a = make({true});
    a.update(Msg::GoTo{16, 2});
    EXPECT_EQ(a.page, Page::DockTutorial);
    EXPECT_EQ(a.tutorial_step, 2);
}

TEST_F(Update, PickLanguageSwitchesTextsAndRebuildsRows) {
    auto a = make();
    a.set_page(Page::Language);
    a.update(Msg::SelectDisk{0});
    a.update(Msg::PickLanguage{"de"});
    EXPECT_EQ(*i18n::current_locale(), "de");
    EXPECT_EQ(a.locale, "de");
    EXPECT_EQ(a.page, Page::Welcome);
    ASSERT_EQ(a.disk_rows.size(), 1u);
    EXPECT_EQ(a.disk_rows[0].partitions[0].label, i18n::translate_with("disk.partition", {{"num", "1"}}) + " (ext4)");
    EXPECT_NE(a.disk_rows[0].partitions[0].label, "Partition 1 (ext4)");
    EXPECT_TRUE(std::holds_alternative<app::TargetSelection::WholeDisk>(a.target.kind));
}

TEST_F(Update, TargetSelectionIgnoresIndicesOutsideTheRows) {
    auto a = make();
    a.update(Msg::SelectDisk{1});
    EXPECT_TRUE(app::is_none(a.target));
    a.update(Msg::AskInstall{});
    EXPECT_FALSE(a.install_confirm_open);
    a.update(Msg::SelectPartition{0, 2});
    a.update(Msg::SelectPartition{1, 0});
    EXPECT_TRUE(app::is_none(a.target));

    a.update(Msg::SelectPartition{0, 1});
    auto* gap = std::get_if<app::TargetSelection::FreeSpace>(&a.target.kind);
    ASSERT_NE(gap, nullptr);
    EXPECT_EQ(gap->start, (1ull << 30) + (1 << 20));
    EXPECT_EQ(gap->disk, "/dev/sda");
    a.update(Msg::SelectPartition{0, 0});
    auto* part = std::get_if<app::TargetSelection::Partition>(&a.target.kind);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->number, 1u);

    a.set_page(Page::Disk);
    a.update(Msg::AskInstall{});
    EXPECT_TRUE(a.install_confirm_open);
    a.update(Msg::ConfirmInstall{});
    EXPECT_FALSE(a.install_confirm_open);
    EXPECT_EQ(a.page, Page::Account);
    a.error = "x";
    a.update(Msg::DismissError{});
    EXPECT_FALSE(a.error);
}

TEST_F(Update, FormsKeepTextsAsTyped) {
    auto a = make();
    a.update(Msg::SetUsername{"  a\n"});
    a.update(Msg::SetHostname{""});
    a.update(Msg::SetPassword{" p "});
    a.update(Msg::SetPasswordConfirm{"q"});
    a.update(Msg::SetProtonEmail{"x@y"});
    EXPECT_EQ(a.username, "  a\n");
    EXPECT_EQ(a.hostname, "");
    EXPECT_EQ(a.password, " p ");
    EXPECT_EQ(a.password_confirm, "q");
    EXPECT_EQ(a.proton_email, "x@y");
    bool enc = a.encrypt;
    a.update(Msg::ToggleEncrypt{});
    EXPECT_NE(a.encrypt, enc);
}

TEST_F(Update, TogglePermissionPastTheThirdFlipsTheLast) {
    auto a = make({true});
    using P = std::array<bool, 4>;
    a.update(Msg::TogglePermission{0});
    EXPECT_EQ(a.permissions, (P{true, false, false, true}));
    a.update(Msg::TogglePermission{2});
    EXPECT_EQ(a.permissions, (P{true, false, true, true}));
    a.update(Msg::TogglePermission{3});
    EXPECT_EQ(a.permissions, (P{true, false, true, false}));
    a.update(Msg::TogglePermission{7});
    EXPECT_EQ(a.permissions, (P{true, false, true, true}));
}

// --- entering the progress page ---------------------------------------------

TEST_F(Update, ProgressRefusedByThePlanCheckGoesBackToTheDiskPage) {
    auto a = make();
    fx->plan = [](const install::WizardChoices&) -> std::expected<ipc::InstallPlan, std::string> {
        return std::unexpected("too small");
    };
    a.set_page(Page::Account);
    a.update(Msg::Next{});
    EXPECT_EQ(a.page, Page::Disk);
    EXPECT_EQ(a.error, "too small");
    EXPECT_EQ(fx->calls, (Calls{"plan_check"}));
}

TEST_F(Update, ProgressStartsOneInstallAndKeepsAnEarlierError) {
    auto a = make();
    a.update(Msg::SelectDisk{0});
    a.error = "E";
    a.set_page(Page::Account);
    a.update(Msg::Next{});
    EXPECT_EQ(a.page, Page::Progress);
    EXPECT_EQ(a.install_phase, 0);
    EXPECT_EQ(a.install_fraction, 0.0f);
    EXPECT_EQ(a.error, "E");
    ASSERT_TRUE(fx->last_plan);
    EXPECT_EQ(fx->last_plan->disk, "/dev/sda");
    a.update(Msg::GoTo{13, 0});
    EXPECT_EQ(fx->calls, (Calls{"plan_check", "start_install"}));
}

// --- entering the done page -------------------------------------------------

TEST_F(Update, DoneEndsTheInstallScenarioOutsideTestMode) {
    auto a = make();
    a.set_page(Page::Finish);
    a.update(Msg::Next{});
    EXPECT_EQ(a.page, Page::Done);
    EXPECT_EQ(fx->calls, (Calls{"end 0"}));
}

TEST_F(Update, DoneInTestModeEndsNothing) {
    for (bool configure : {false, true}) {
        auto a = make({configure, true, true});
        a.set_page(Page::Finish);
        a.update(configure ? Msg{Msg::SkipTutorial{}} : Msg{Msg::Reboot{}});
        EXPECT_EQ(a.page, Page::Done);
        a.update(Msg::Next{});
        a.update(Msg::Back{});
        EXPECT_EQ(a.page, Page::Done);
        EXPECT_TRUE(fx->calls.empty());
    }
}

TEST_F(Update, RebootEndsOnlyOnceSystemctlAcceptedIt) {
    auto a = make();
    a.set_page(Page::Finish);
    a.update(Msg::Reboot{});
    EXPECT_EQ(fx->calls, (Calls{"systemctl reboot", "kiosk off", "end 0"}));
    EXPECT_EQ(a.page, Page::Done);
}

TEST_F(Update, RefusedRebootStaysOnThePageWithTheReason) {
    struct Row {
        int status;
        std::optional<std::string> spawn_error;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {1 << 8, std::nullopt, "systemctl reboot: exit status: 1"},
        {9, std::nullopt, "systemctl reboot: signal: 9"},
        {0, "No such file or directory", "systemctl reboot: No such file or directory"},
    };
    for (const Row& r : rows) {
        auto a = make();
        fx->systemctl_status = r.status;
        fx->systemctl_spawn_error = r.spawn_error;
        a.set_page(Page::Finish);
        testing::internal::CaptureStderr();
        a.update(Msg::Reboot{});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "installer: " + r.shown + "\n");
        EXPECT_EQ(a.page, Page::Finish);
        EXPECT_EQ(a.finish_error, r.shown);
        EXPECT_EQ(fx->calls, (Calls{"systemctl reboot"}));
    }
}

class EndOfConfigure : public WizardTest {
protected:
    app::InstallerApp ready(bool account_needed = true) {
        auto a = make({true, account_needed, false});
        a.update(Msg::SetUsername{"ann"});
        a.update(Msg::SetHostname{"box"});
        a.update(Msg::SetPassword{"pw"});
        a.update(Msg::SetPasswordConfirm{"pw"});
        a.encrypt = true;
        a.set_page(Page::DockTutorial, 3);
        return a;
    }
    // Runs the worker and hands its result to the wizard as the poll would.
    void finish(app::InstallerApp& a) {
        fx->run_jobs();
        auto msgs = a.poll();
        ASSERT_EQ(msgs.size(), 1u);
        ASSERT_TRUE(msgs[0].is<Msg::PollFinish>());
        a.update(msgs[0]);
    }
};

TEST_F(EndOfConfigure, StagesTheAccountOffTheLoopThenReboots) {
    auto a = ready();
    a.update(Msg::Next{});
    EXPECT_TRUE(a.finishing);
    EXPECT_EQ(a.page, Page::DockTutorial); // waits for the worker
    EXPECT_EQ(fx->calls, (Calls{"spawn"}));
    EXPECT_TRUE(a.is_animating());
    a.update(Msg::Next{}); // a second press starts no second job
    EXPECT_EQ(fx->pending_jobs.size(), 1u);
    finish(a);
    EXPECT_EQ(fx->calls,
              (Calls{"spawn", "apply_locale en", "stage_account ann box pw 1", "systemctl reboot", "kiosk off", "end 0"}));
    EXPECT_EQ(a.page, Page::Done);
    EXPECT_FALSE(a.finishing);
}

TEST_F(EndOfConfigure, FailedStagingNeverFinishesTheScenario) {
    auto a = ready();
    fx->staging_result = std::unexpected("not-pending");
    a.update(Msg::Next{});
    testing::internal::CaptureStderr();
    finish(a);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "installer: stage account: not-pending\n");
    EXPECT_EQ(a.finish_error, i18n::translate("error.not_pending"));
    EXPECT_EQ(a.page, Page::DockTutorial);
    EXPECT_FALSE(a.finishing);
    EXPECT_EQ(fx->calls, (Calls{"spawn", "apply_locale en", "stage_account ann box pw 1"}));

    // Next tries again; this time it goes through.
    fx->staging_result = {};
    fx->clear();
    a.update(Msg::Next{});
    EXPECT_FALSE(a.finish_error);
    finish(a);
    EXPECT_EQ(fx->calls,
              (Calls{"spawn", "apply_locale en", "stage_account ann box pw 1", "systemctl reboot", "kiosk off", "end 0"}));
}

TEST_F(EndOfConfigure, RefusedRebootAfterStagingStaysWithTheReason) {
    auto a = ready();
    fx->systemctl_status = 1 << 8;
    a.update(Msg::Next{});
    testing::internal::CaptureStderr();
    finish(a);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(a.finish_error, "systemctl reboot: exit status: 1");
    EXPECT_EQ(a.page, Page::DockTutorial);
    EXPECT_EQ(fx->calls.back(), "systemctl reboot");
}

TEST_F(EndOfConfigure, LanguageFailureIsReportedAndTheScenarioGoesOn) {
    auto a = ready(false);
    fx->locale_result = std::unexpected("x");
    a.update(Msg::SkipTutorial{});
    testing::internal::CaptureStderr();
    finish(a);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "installer: apply locale: x\n");
    EXPECT_EQ(fx->calls, (Calls{"spawn", "apply_locale en", "mark_configured", "end 0"}));
    EXPECT_EQ(a.page, Page::Done);
}

TEST_F(EndOfConfigure, MarkersFailingAskTheDaemon) {
    auto a = ready(false);
    fx->markers_result = std::unexpected("remove: denied");
    fx->finish_result = std::unexpected("y");
    a.update(Msg::Next{});
    testing::internal::CaptureStderr();
    finish(a);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "installer: finish configure: y\n");
    EXPECT_EQ(fx->calls, (Calls{"spawn", "apply_locale en", "mark_configured", "finish_configure", "end 0"}));
}

TEST_F(EndOfConfigure, InvalidAccountFormSkipsStaging) {
    auto a = ready();
    a.update(Msg::SetPassword{"a\nb"});
    a.update(Msg::SetPasswordConfirm{"a\nb"});
    a.update(Msg::Next{});
    finish(a);
    EXPECT_EQ(fx->calls, (Calls{"spawn", "apply_locale en", "mark_configured", "end 0"}));
}

// --- the toolkit's questions --------------------------------------------------

TEST_F(Update, SplashLeavesAfterThreeWholeSeconds) {
    auto a = make();
    using namespace std::chrono_literals;
    EXPECT_TRUE(a.poll().empty());
    fx->clock += 2999ms;
    EXPECT_TRUE(a.poll().empty());
    fx->clock += 1ms;
    auto m = a.poll();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(m[0].is<Msg::Next>());
    EXPECT_FALSE(a.splash_started);
    a.apply_pending = true;
    EXPECT_TRUE(a.poll()[0].is<Msg::ApplyOps>());
}

TEST_F(Update, PollIntervalFollowsTheWork) {
    using namespace std::chrono_literals;
    auto a = make({true});
    EXPECT_EQ(a.poll_interval(), 100ms);
    a.set_page(Page::Wifi);
    EXPECT_EQ(a.poll_interval(), 1000ms);
    EXPECT_TRUE(a.poll()[0].is<Msg::RefreshConnectivity>());
    a.set_page(Page::Storage);
    EXPECT_EQ(a.poll_interval(), std::nullopt);
    EXPECT_FALSE(a.is_animating());
    EXPECT_TRUE(a.poll().empty());
    a.wifi_busy = true;
    EXPECT_EQ(a.poll_interval(), 100ms);
    EXPECT_TRUE(a.poll()[0].is<Msg::PollWifiJob>());
}

} // namespace

// What the configure scenario hands to programs, seen by the programs.
//
// systemctl and the fingerprint tools are logging stand-ins on PATH: there
// is no systemd as PID 1 and no fingerprint reader on this machine. Each
// writes its name and every argument bracketed on one line, so an argument
// that a shell had split or joined shows. The wizard's own programs are run
// through the real effects; the daemon and the end of the process are the
// recording ones.

#include "app_fixture.hpp"
#include "app/pages/pages.hpp"
#include "support/temp_dir.hpp"
#include "support/view_probe.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using app::Msg;
using app::Page;
using i18n::translate;

namespace fs = std::filesystem;

// The recording effects, except that programs are really started.
class ProgramEffects final : public app::Effects {
public:
    std::shared_ptr<support::RecordingEffects> rec = std::make_shared<support::RecordingEffects>();
    std::shared_ptr<app::Effects> real = app::real_effects();

    bool tpm_present() override { return rec->tpm_present(); }
    std::vector<disks::Disk> list_disks() override { return rec->list_disks(); }
    bool default_home_exists() override { return rec->default_home_exists(); }
    std::vector<network::WifiNetwork> scan_wifi() override { return rec->scan_wifi(); }
    bool network_online() override { return rec->network_online(); }
    std::expected<ipc::InstallPlan, std::string> plan_check(const install::WizardChoices& c) override {
        return rec->plan_check(c);
    }
    install::InstallHandle start_install(ipc::InstallPlan plan) override { return rec->start_install(std::move(plan)); }
    void cancel_install() override { rec->cancel_install(); }
    std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>& ops) override {
        return rec->apply_disk_ops(ops);
    }
    std::expected<void, std::string> apply_locale(const std::string& code) override { return rec->apply_locale(code); }
    std::expected<void, std::string> stage_account(const std::string& u, const std::string& h, const std::string& p,
                                                   bool e) override {
        return rec->stage_account(u, h, p, e);
    }
    std::expected<void, std::string> finish_configure() override { return rec->finish_configure(); }
    std::expected<void, std::string> mark_configured() override { return rec->mark_configured(); }
    std::expected<base::Captured, std::string> run_nmcli(std::vector<std::string> args) override {
        return real->run_nmcli(std::move(args));
    }
    std::expected<int, std::string> run_systemctl(std::vector<std::string> args) override {
        return real->run_systemctl(std::move(args));
    }
    void set_kiosk(bool on) override { rec->set_kiosk(on); }
    std::chrono::steady_clock::time_point now() override { return rec->now(); }
    void sleep_for(std::chrono::milliseconds d) override { rec->sleep_for(d); }
    void spawn(app::Job job) override { rec->spawn(std::move(job)); }
    void end_process(int status) override { rec->end_process(status); }
};

constexpr const char* TOOLS[] = {"systemctl", "fprintd-enroll", "fprintd-verify", "fprintd-list", "fprintd-delete"};

class ConfigTools : public ::testing::Test {
protected:
    static void SetUpTestSuite() { apptest::use_default_theme(); }

    void SetUp() override {
        i18n::set_locale("en");
        const char* path = std::getenv("PATH");
        saved_path_ = path ? path : "";
        for (const char* t : TOOLS) {
            const std::string file = dir_.path() + "/" + t;
            std::ofstream(file) << "#!/bin/sh\n"
                                   "D='" << dir_.path() << "'\n"
                                   "N=$(basename \"$0\")\n"
                                   "{ printf '%s' \"$N\"; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; echo; } >> \"$D/calls.log\"\n"
                                   "[ -f \"$D/$N.err\" ] && cat \"$D/$N.err\" >&2\n"
                                   "[ -f \"$D/$N.status\" ] && exit \"$(cat \"$D/$N.status\")\"\n"
                                   "exit 0\n";
            fs::permissions(file, fs::perms(0755));
        }
        ::setenv("PATH", (dir_.path() + ":" + saved_path_).c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", saved_path_.c_str(), 1);
        if (fx) fx->rec->pending_jobs.clear();
    }

    std::string calls() const {
        std::ifstream in(dir_.path() + "/calls.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void answer(const std::string& tool, int status, const std::string& err) {
        std::ofstream(dir_.path() + "/" + tool + ".status") << status;
        std::ofstream(dir_.path() + "/" + tool + ".err") << err;
    }

    void press(app::InstallerApp& a, const std::string& label) {
        auto m = support::message_of(a.view(), label);
        ASSERT_TRUE(m) << "no live control \"" << label << "\" on page " << int(a.page);
        a.update(std::move(*m));
    }

    // The configure scenario from the account page to the last tutorial
    // step, through the fingerprint pages, by pressing controls.
    app::InstallerApp walk() {
        fx = std::make_shared<ProgramEffects>();
        fx->rec->home = true;
        app::InstallerApp a(std::nullopt, false, true, fx);
        fx->rec->clear();
        a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Account), 0});
        for (auto m : {Msg{Msg::SetUsername{"ann"}}, Msg{Msg::SetHostname{"box"}}, Msg{Msg::SetPassword{"a b;c"}},
                       Msg{Msg::SetPasswordConfirm{"a b;c"}}})
            a.update(std::move(m));
        press(a, translate("common.continue"));
        EXPECT_EQ(a.page, Page::Wifi);
        a.update(Msg::UseCellular{});
        press(a, translate("navigation.buttons_title"));
        press(a, translate("common.continue"));
        press(a, translate("storage.local"));
        press(a, translate("common.continue"));
        EXPECT_EQ(a.page, Page::Security);
        press(a, translate("security.fingerprint_title"));
        EXPECT_EQ(a.page, Page::FingerprintEnroll);
        press(a, translate("common.continue"));
        press(a, translate("security.fingerprint_register_more"));
        press(a, translate("security.fingerprint_about"));
        press(a, translate("security.fingerprint_finish"));
        EXPECT_EQ(a.page, Page::Finish);
        a.update(Msg::FinishContinue{});
        EXPECT_EQ(a.page, Page::GesturesTutorial);
        press(a, translate("tutorial_gestures.intro_cta"));
        press(a, translate("common.next"));
        press(a, translate("common.next"));
        press(a, translate("common.done"));
        EXPECT_EQ(a.page, Page::DockTutorial);
        press(a, translate("tutorial_trovex.intro_cta"));
        press(a, translate("common.next"));
        press(a, translate("common.next"));
        EXPECT_EQ(a.tutorial_step, 3);
        // Nothing of the walk so far reached a program.
        EXPECT_EQ(calls(), "");
        return a;
    }

    support::TempDir dir_;
    std::string saved_path_;
    std::shared_ptr<ProgramEffects> fx;
};

TEST_F(ConfigTools, TheScenarioEndsWithOneRestartAndNoFingerprintTool) {
    auto a = walk();
    press(a, translate("common.done"));
    EXPECT_TRUE(a.finishing);
    fx->rec->run_jobs();
    a.update(Msg::PollFinish{});
    // The restart is the only program run; the fingerprint tools never are.
    EXPECT_EQ(calls(), "systemctl [reboot]\n");
    EXPECT_EQ(fx->rec->calls, (std::vector<std::string>{"spawn", "apply_locale en", "stage_account ann box a b;c 0",
                                                        "kiosk off", "end 0"}));
    EXPECT_EQ(a.page, Page::Done);
}

TEST_F(ConfigTools, ARefusedRestartStaysOnThePage) {
    auto a = walk();
    answer("systemctl", 1, "Failed to connect to bus\n");
    testing::internal::CaptureStderr();
    press(a, translate("common.done"));
    fx->rec->run_jobs();
    a.update(Msg::PollFinish{});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls(), "systemctl [reboot]\n");
    // systemctl's own words come with the refusal.
    const std::string why = "systemctl reboot: exit status: 1: Failed to connect to bus";
    EXPECT_NE(err.find("installer: " + why + "\n"), std::string::npos) << err;
    // Not ended, not left: the reason is on the page and the button tries again.
    EXPECT_EQ(a.page, Page::DockTutorial);
    EXPECT_FALSE(a.finishing);
    const auto v = a.view();
    EXPECT_TRUE(support::shows(v, why));
    EXPECT_TRUE(support::message_of(v, translate("common.done")));
    for (const auto& c : fx->rec->calls) EXPECT_TRUE(c.rfind("end", 0) != 0) << c;

    fs::remove(dir_.path() + "/systemctl.status");
    press(a, translate("common.done"));
    fx->rec->run_jobs();
    a.update(Msg::PollFinish{});
    EXPECT_EQ(calls(), "systemctl [reboot]\nsystemctl [reboot]\n");
    EXPECT_EQ(a.page, Page::Done);
    EXPECT_FALSE(support::shows(a.view(), why));
}

TEST_F(ConfigTools, EveryKindOfRestartFailureIsShown) {
    struct Case {
        const char* name;
        int status;
        std::string err;
        bool on_path;
        std::string why;
    };
    const std::vector<Case> cases = {
        {"refusal without words", 3, "", true, "systemctl reboot: exit status: 3"},
        {"words over several lines", 1, "\n  Access denied \nsecond line\n", true,
         "systemctl reboot: exit status: 1: Access denied"},
        {"no systemctl at all", 0, "", false, "systemctl reboot: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto a = walk();
        answer("systemctl", c.status, c.err);
        // Only the stand-ins' directory: never the machine's own systemctl.
        if (!c.on_path) {
            fs::rename(dir_.path() + "/systemctl", dir_.path() + "/systemctl.off");
            ::setenv("PATH", dir_.path().c_str(), 1);
        }
        testing::internal::CaptureStderr();
        press(a, translate("common.done"));
        fx->rec->run_jobs();
        a.update(Msg::PollFinish{});
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(a.page, Page::DockTutorial);
        EXPECT_TRUE(support::shows(a.view(), c.why)) << testing::PrintToString(support::texts(a.view()));
        if (!c.on_path) {
            fs::rename(dir_.path() + "/systemctl.off", dir_.path() + "/systemctl");
            ::setenv("PATH", (dir_.path() + ":" + saved_path_).c_str(), 1);
        }
        fs::remove(dir_.path() + "/calls.log");
    }
}

TEST_F(ConfigTools, AStagingRefusalIsShownAndNothingRestarts) {
    auto a = walk();
    fx->rec->staging_result = std::unexpected(std::string("not-pending"));
    testing::internal::CaptureStderr();
    press(a, translate("common.done"));
    fx->rec->run_jobs();
    a.update(Msg::PollFinish{});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("installer: stage account: not-pending\n"), std::string::npos) << err;
    EXPECT_EQ(calls(), "");
    EXPECT_EQ(a.page, Page::DockTutorial);
    EXPECT_TRUE(support::shows(a.view(), app::daemon_error_text("not-pending")));
}

} // namespace

// The pages' trees: every page shows its title in the current language, and
// the wizard can be walked by pressing the controls the trees hold.

#include "app_fixture.hpp"
#include "app/scaffolds.hpp"
#include "support/view_probe.hpp"

namespace {

using app::Msg;
using app::Page;
using support::message_of;
using support::shows;

class Views : public apptest::WizardTest {
protected:
    static void SetUpTestSuite() { apptest::use_default_theme(); }

    // Presses the control labelled with the translation of `key` (or the
    // text itself when no such key exists).
    void press(app::InstallerApp& a, const std::string& label) {
        auto m = message_of(a.view(), label);
        ASSERT_TRUE(m) << "no live control \"" << label << "\" on page " << int(a.page);
        a.update(std::move(*m));
    }
};

TEST_F(Views, EveryPageShowsItsTranslatedTitle) {
    struct Row {
        Page page;
        std::uint8_t step;
        std::string key;
    };
    const std::vector<Row> rows = {
        {Page::Welcome, 0, "welcome.title"},
        {Page::Disk, 0, "disk.title"},
        {Page::Account, 0, "account.title"},
        {Page::Wifi, 0, "wireless.title"},
        {Page::Navigation, 0, "navigation.title"},
        {Page::Storage, 0, "storage.title"},
        {Page::Proton, 0, "proton.title"},
        {Page::Permissions, 0, "permissions.title"},
        {Page::Security, 0, "security.title"},
        {Page::FingerprintEnroll, 0, "security.fingerprint_register_title"},
        {Page::FingerprintDone, 0, "security.fingerprint_done_title"},
        {Page::Finish, 0, "finish.title"},
        {Page::GesturesTutorial, 0, "tutorial_gestures.intro_title"},
        {Page::GesturesTutorial, 2, "tutorial_gestures.step_2_title"},
        {Page::DockTutorial, 3, "tutorial_trovex.step_3_title"},
        {Page::DockTutorial, 9, "tutorial_trovex.step_3_title"},
        {Page::Done, 0, "finish.title"},
    };
    for (const char* locale : {"en", "de"}) {
        i18n::set_locale(locale);
        for (const Row& r : rows) {
            auto a = make({true, true, true});
            a.update(Msg::GoTo{static_cast<std::uint8_t>(r.page), r.step});
            const std::string title = i18n::translate(r.key);
            EXPECT_NE(title, r.key);
            EXPECT_TRUE(shows(a.view(), title)) << locale << " page " << int(r.page) << ": " << title;
        }
    }
    // The language page has no title: the languages under their own names.
    auto lang = make();
    lang.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Language), 0});
    EXPECT_TRUE(shows(lang.view(), "Deutsch"));
    EXPECT_TRUE(shows(lang.view(), "日本語"));
    // The splash is the brand colour alone.
    auto a = make();
    EXPECT_TRUE(support::texts(a.view()).empty());
}

TEST_F(Views, InstallWalkByPressingControls) {
    auto a = make({false, true, true});
    a.update(Msg::Next{}); // the splash's poll
    press(a, "English");
    EXPECT_EQ(a.page, Page::Welcome);
    press(a, i18n::translate("welcome.cta"));
    EXPECT_EQ(a.page, Page::Disk);
    // Continue waits for a target.
    const std::string cont = i18n::translate("common.continue");
    EXPECT_TRUE(support::has_control(a.view(), cont));
    EXPECT_FALSE(message_of(a.view(), cont));
    press(a, a.disk_rows[0].label);
    EXPECT_TRUE(std::holds_alternative<app::TargetSelection::WholeDisk>(a.target.kind));
    // Continue asks before anything is erased.
    press(a, cont);
    EXPECT_EQ(a.page, Page::Disk);
    press(a, i18n::translate("disk.dialog_accept"));
    EXPECT_EQ(a.page, Page::Account);
    press(a, i18n::translate("common.back"));
    EXPECT_EQ(a.page, Page::Disk);
    press(a, cont);
    press(a, i18n::translate("disk.dialog_accept"));
    // The account page goes on only with a valid account.
    EXPECT_FALSE(message_of(a.view(), cont));
    for (Msg m : {Msg{Msg::SetUsername{"ann"}}, Msg{Msg::SetPassword{"pw"}}, Msg{Msg::SetPasswordConfirm{"pw"}}})
        a.update(std::move(m));
    press(a, cont);
    EXPECT_EQ(a.page, Page::Progress);
    EXPECT_FALSE(message_of(a.view(), i18n::translate("common.back")));
    fx->last_handle->update([](install::InstallSnapshot& s) { s.done = true; });
    a.update(Msg::PollInstall{});
    press(a, i18n::translate("finish.install_cta"));
    EXPECT_EQ(a.page, Page::Done);
}

TEST_F(Views, DiskPageShowsThePlanCheckRefusal) {
    auto a = make();
    fx->plan = [](const install::WizardChoices&) -> std::expected<ipc::InstallPlan, std::string> {
        return std::unexpected("The disk is too small.");
    };
    a.update(Msg::SelectDisk{0});
    a.set_page(Page::Progress);
    EXPECT_EQ(a.page, Page::Disk);
    EXPECT_TRUE(shows(a.view(), "The disk is too small."));
}

TEST_F(Views, FinishErrorShowsAndTutorialWaitsWhileFinishing) {
    auto a = make();
    a.set_page(Page::Finish);
    fx->systemctl_status = 1 << 8;
    testing::internal::CaptureStderr();
    press(a, i18n::translate("finish.install_cta"));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(shows(a.view(), "systemctl reboot: exit status: 1"));

    auto c = make({true, true, false});
    c.set_page(Page::DockTutorial, 3);
    press(c, i18n::translate("common.done"));
    EXPECT_TRUE(c.finishing);
    EXPECT_FALSE(message_of(c.view(), i18n::translate("common.done")));
    EXPECT_FALSE(message_of(c.view(), i18n::translate("common.skip_tutorial")));
}

TEST_F(Views, HeaderBackAndDots) {
    auto dots_in = [](const zem::Element& header) {
        std::size_t n = 0;
        if (auto* row = header.as<zem::Row>())
            for (const auto& ch : row->children)
                if (auto* r = ch.as<zem::Row>()) n = r->children.size();
        return n;
    };
    EXPECT_EQ(dots_in(app::page_header(Page::Welcome, 0, true, true)), 6u);
    EXPECT_EQ(dots_in(app::page_header(Page::Welcome, 0, true, false)), 0u);
    EXPECT_EQ(dots_in(app::page_header(Page::Disk, 0, true, true)), 0u);
    EXPECT_EQ(dots_in(app::page_header(Page::DockTutorial, 3, true, false)), 2u);
    auto lang = app::page_header(Page::Language, 0, false, false);
    EXPECT_FALSE(support::has_control(lang, i18n::translate("common.back")));

    auto current_width = [](const zem::Element& dots, std::size_t i) {
        const auto& c = *dots.as<zem::Row>()->children[i].as<zem::Container>();
        return c.child->as<zem::Spacer>()->width->value;
    };
    auto d = app::progress_dots(1, 2);
    EXPECT_EQ(current_width(d, 0), 6.0f);
    EXPECT_EQ(current_width(d, 1), 18.0f);
    auto none = app::progress_dots(6, 6);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(current_width(none, i), 6.0f);
}

TEST_F(Views, WindowAnswers) {
    auto a = make();
    EXPECT_FALSE(a.window_config());
    EXPECT_EQ(a.layout_size, (app::WindowSize{1280, 800}));
    app::InstallerApp b({{412, 915}}, true, false, fx);
    ASSERT_TRUE(b.window_config());
    EXPECT_EQ(b.window_config()->title, "Tavix Installer (test)");
    EXPECT_EQ(b.window_config()->app_id, "net.tavix.Installer");
    EXPECT_EQ(b.window_size(), (app::WindowSize{412, 915}));
    EXPECT_EQ(b.layout_size, (app::WindowSize{412, 915}));
}

} // namespace

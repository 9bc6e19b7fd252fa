// The order of the pages in both scenarios, forwards and backwards.

#include "app_fixture.hpp"

#include <vector>

namespace {

using app::Page;
using apptest::WizardTest;

struct FlowRow {
    Page from;
    std::uint8_t step;
    bool configure;
    bool account_needed;
    std::uint8_t storage;
    Page next;
    std::uint8_t next_step;
    Page previous;
    std::uint8_t previous_step;
};

class FlowTable : public WizardTest {};

TEST_F(FlowTable, NextAndPreviousOfEveryPage) {
    using P = Page;
    // clang-format off
    const std::vector<FlowRow> rows = {
        {P::Splash, 0, false, true, 3, P::Language, 0, P::Splash, 0},
        {P::Language, 0, true, true, 3, P::Welcome, 0, P::Splash, 0},
        {P::Welcome, 0, false, true, 3, P::Disk, 0, P::Language, 0},
        {P::Welcome, 0, true, true, 3, P::Account, 0, P::Language, 0},
        {P::Welcome, 0, true, false, 3, P::Wifi, 0, P::Language, 0},
        {P::Disk, 0, false, true, 3, P::Account, 0, P::Welcome, 0},
        {P::Account, 0, false, true, 3, P::Progress, 0, P::Disk, 0},
        {P::Account, 0, true, true, 3, P::Wifi, 0, P::Welcome, 0},
        {P::Wifi, 0, true, true, 3, P::Navigation, 0, P::Account, 0},
        {P::Wifi, 0, true, false, 3, P::Navigation, 0, P::Welcome, 0},
        {P::Wifi, 0, false, true, 3, P::Navigation, 0, P::Welcome, 0},
        {P::Navigation, 0, true, true, 3, P::Storage, 0, P::Wifi, 0},
        {P::Storage, 0, true, true, 1, P::Proton, 0, P::Navigation, 0},
        {P::Storage, 0, true, true, 0, P::Permissions, 0, P::Navigation, 0},
        {P::Storage, 0, true, true, 2, P::Permissions, 0, P::Navigation, 0},
        {P::Proton, 0, true, true, 1, P::Permissions, 0, P::Storage, 0},
        {P::Permissions, 0, true, true, 1, P::Security, 0, P::Proton, 0},
        {P::Permissions, 0, true, true, 3, P::Security, 0, P::Storage, 0},
        {P::Security, 0, true, true, 3, P::Finish, 0, P::Permissions, 0},
        {P::FingerprintEnroll, 0, true, true, 3, P::FingerprintDone, 0, P::Security, 0},
        {P::FingerprintDone, 0, true, true, 3, P::Finish, 0, P::FingerprintEnroll, 0},
        {P::Progress, 0, false, true, 3, P::Finish, 0, P::Progress, 0},
        {P::Finish, 2, false, true, 3, P::Done, 0, P::Finish, 2},
        {P::Finish, 2, true, true, 3, P::GesturesTutorial, 0, P::Finish, 2},
        {P::GesturesTutorial, 0, true, true, 3, P::GesturesTutorial, 1, P::Finish, 0},
        {P::GesturesTutorial, 2, true, true, 3, P::GesturesTutorial, 3, P::GesturesTutorial, 1},
        {P::GesturesTutorial, 3, true, true, 3, P::DockTutorial, 0, P::GesturesTutorial, 2},
        {P::GesturesTutorial, 9, true, true, 3, P::DockTutorial, 0, P::GesturesTutorial, 8},
        {P::DockTutorial, 0, true, true, 3, P::DockTutorial, 1, P::GesturesTutorial, 3},
        {P::DockTutorial, 3, true, true, 3, P::Done, 3, P::DockTutorial, 2},
        {P::DockTutorial, 7, true, true, 3, P::Done, 7, P::DockTutorial, 6},
        {P::Done, 0, true, true, 3, P::Done, 0, P::Done, 0},
        {P::Done, 0, false, true, 3, P::Done, 0, P::Done, 0},
    };
    // clang-format on
    for (const FlowRow& r : rows) {
        auto a = make({r.configure, r.account_needed, false});
        a.storage = r.storage;
        SCOPED_TRACE(testing::Message() << "from page " << int(r.from) << " step " << int(r.step)
                                        << (r.configure ? " configure" : " install"));
        EXPECT_EQ(app::next_page(r.from, r.step, a), std::make_pair(r.next, r.next_step));
        EXPECT_EQ(app::previous_page(r.from, r.step, a), std::make_pair(r.previous, r.previous_step));
    }
}

std::vector<std::pair<Page, int>> walk(app::InstallerApp& a, support::RecordingEffects& fx) {
    std::vector<std::pair<Page, int>> seen{{a.page, a.tutorial_step}};
    for (int i = 0; i < 40 && !(a.page == Page::Done); ++i) {
        if (a.page == Page::Storage) a.update(app::Msg::SetStorage{1});
        else if (a.page == Page::Security) a.update(app::Msg::SetSecurityMethod{1});
        else if (a.page == Page::Progress) {
            fx.last_handle->update([](install::InstallSnapshot& s) { s.done = true; });
            a.update(app::Msg::PollInstall{});
        } else a.update(app::Msg::Next{});
        seen.emplace_back(a.page, a.tutorial_step);
    }
    return seen;
}

TEST_F(FlowTable, InstallWalkFromSplashToDone) {
    auto a = make({false, true, true});
    a.update(app::Msg::SelectDisk{0});
    using P = Page;
    std::vector<std::pair<Page, int>> want = {{P::Splash, 0},   {P::Language, 0}, {P::Welcome, 0},
                                              {P::Disk, 0},     {P::Account, 0},  {P::Progress, 0},
                                              {P::Finish, 0},   {P::Done, 0}};
    EXPECT_EQ(walk(a, *fx), want);
}

TEST_F(FlowTable, ConfigureWalkThroughEveryOptionalPage) {
    auto a = make({true, true, true});
    using P = Page;
    std::vector<std::pair<Page, int>> want = {
        {P::Splash, 0}, {P::Language, 0}, {P::Welcome, 0}, {P::Account, 0}, {P::Wifi, 0},
        {P::Navigation, 0}, {P::Storage, 0}, {P::Proton, 0}, {P::Permissions, 0}, {P::Security, 0},
        {P::FingerprintEnroll, 0}, {P::FingerprintDone, 0}, {P::Finish, 0}, {P::GesturesTutorial, 0},
        {P::GesturesTutorial, 1}, {P::GesturesTutorial, 2}, {P::GesturesTutorial, 3}, {P::DockTutorial, 0},
        {P::DockTutorial, 1}, {P::DockTutorial, 2}, {P::DockTutorial, 3}, {P::Done, 3}};
    EXPECT_EQ(walk(a, *fx), want);
    EXPECT_TRUE(fx->calls.empty() || fx->calls == std::vector<std::string>{"list_disks"});
}

} // namespace

// Following an install through its handle: progress, the end, the failures.

#include "app_fixture.hpp"

#include <chrono>
#include <thread>

namespace {

using app::Msg;
using app::Page;
using apptest::WizardTest;

class Tracking : public WizardTest {
protected:
    app::InstallerApp on_progress(apptest::Scenario s = {}) {
        auto a = make(s);
        a.update(Msg::SelectDisk{0});
        a.set_page(Page::Progress);
        EXPECT_EQ(a.page, Page::Progress);
        return a;
    }
    void write(std::function<void(install::InstallSnapshot&)> f) { fx->last_handle->update(f); }
};

TEST_F(Tracking, ProgressIsCopiedAndDoneLeadsToFinish) {
    auto a = on_progress();
    write([](install::InstallSnapshot& s) {
        s.phase = ipc::InstallPhase::Copy;
        s.fraction = 0.4f;
    });
    a.update(Msg::PollInstall{});
    EXPECT_EQ(a.install_phase, 2);
    EXPECT_FLOAT_EQ(a.install_fraction, 0.4f);
    EXPECT_EQ(a.page, Page::Progress);

    a.update(Msg::AskCancelInstall{});
    EXPECT_TRUE(a.cancel_confirm_open);
    std::weak_ptr<install::InstallStatus> held = fx->last_handle;
    write([](install::InstallSnapshot& s) { s.done = true; });
    fx->last_handle.reset();
    a.update(Msg::PollInstall{});
    EXPECT_EQ(a.page, Page::Finish);
    EXPECT_TRUE(held.expired()); // released
    EXPECT_EQ(a.install_phase, app::NO_INSTALL);
    EXPECT_FALSE(a.cancel_confirm_open);
}

TEST_F(Tracking, FailuresShowTheirTextOnTheDiskPage) {
    struct Row {
        std::string locale, sent;
        std::string key; // empty: shown as it came
    };
    const std::vector<Row> rows = {
        {"en", "busy", "error.install_busy"},      {"de", "busy", "error.install_busy"},
        {"en", "not-pending", "error.not_pending"}, {"de", "cancelled", "error.cancelled"},
        {"en", "no-daemon", "error.no_daemon"},     {"en", "Busy", ""},
        {"en", "connection to the install daemon lost", ""},
    };
    for (const Row& r : rows) {
        i18n::set_locale(r.locale);
        auto a = on_progress();
        write([&](install::InstallSnapshot& s) {
            s.error = r.sent;
            s.done = true; // the error wins
        });
        fx->clear();
        a.update(Msg::PollInstall{});
        EXPECT_EQ(a.page, Page::Disk) << r.sent;
        EXPECT_EQ(a.error, r.key.empty() ? r.sent : i18n::translate(r.key)) << r.sent;
        if (!r.key.empty()) {
            EXPECT_NE(*a.error, r.sent);
        }
        EXPECT_EQ(a.install_phase, app::NO_INSTALL);
        EXPECT_FALSE(a.install);
        EXPECT_EQ(fx->calls, std::vector<std::string>{"list_disks"});
    }
}

TEST_F(Tracking, UnreadableStatusEndsLikeAFailure) {
    auto a = on_progress();
    write([](install::InstallSnapshot&) { throw std::runtime_error("half-written"); });
    a.update(Msg::PollInstall{});
    EXPECT_EQ(a.page, Page::Disk);
    EXPECT_EQ(a.error, "install status unreadable");
    EXPECT_FALSE(a.install);
}

TEST_F(Tracking, TargetSurvivesAFailureOnlyWhileItStillExists) {
    struct Row {
        Msg select;
        std::vector<disks::Partition> after;
        bool kept;
    };
    const disks::Partition p1{"/dev/sda1", std::nullopt, "ext4", 1 << 20, 1 << 30, 1, false, false};
    const disks::Partition gap{"/dev/sda", std::nullopt, std::nullopt, (1ull << 30) + (1 << 20), 1 << 30, 0, true, false};
    const std::vector<Row> rows = {
        {Msg::SelectDisk{0}, {}, true},
        {Msg::SelectPartition{0, 0}, {p1}, true},
        {Msg::SelectPartition{0, 0}, {gap}, false},
        {Msg::SelectPartition{0, 1}, {p1, gap}, true},
        {Msg::SelectPartition{0, 1}, {p1}, false},
    };
    for (const Row& r : rows) {
        auto a = make();
        a.update(r.select);
        a.set_page(Page::Progress);
        fx->disks[0].partitions = r.after;
        write([](install::InstallSnapshot& s) { s.error = "x"; });
        a.update(Msg::PollInstall{});
        EXPECT_EQ(!app::is_none(a.target), r.kept) << r.select.tag();
    }
    // A disk that went away takes the whole-disk choice with it.
    auto a = make();
    a.update(Msg::SelectDisk{0});
    a.set_page(Page::Progress);
    fx->disks.clear();
    write([](install::InstallSnapshot& s) { s.error = "x"; });
    a.update(Msg::PollInstall{});
    EXPECT_TRUE(app::is_none(a.target));
}

TEST_F(Tracking, PollOnAnotherPageOnlyCopiesProgress) {
    auto a = on_progress();
    a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Welcome), 0});
    write([](install::InstallSnapshot& s) {
        s.fraction = 0.9f;
        s.done = true;
    });
    a.update(Msg::PollInstall{});
    EXPECT_EQ(a.page, Page::Welcome);
    EXPECT_FLOAT_EQ(a.install_fraction, 0.9f);
    EXPECT_TRUE(a.install);
    // Coming back neither starts a second install nor misses the end.
    a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Progress), 0});
    a.update(Msg::PollInstall{});
    EXPECT_EQ(a.page, Page::Finish);
}

TEST_F(Tracking, CancelNeedsAHeldInstall) {
    auto a = make();
    a.update(Msg::AskCancelInstall{});
    EXPECT_FALSE(a.cancel_confirm_open);
    a.update(Msg::ConfirmCancelInstall{});
    EXPECT_TRUE(fx->calls.empty());
    auto b = on_progress();
    b.update(Msg::AskCancelInstall{});
    b.update(Msg::DismissCancelInstall{});
    EXPECT_FALSE(b.cancel_confirm_open);
    b.update(Msg::AskCancelInstall{});
    b.update(Msg::ConfirmCancelInstall{});
    EXPECT_FALSE(b.cancel_confirm_open);
    EXPECT_EQ(fx->calls.back(), "cancel_install");
}

TEST_F(Tracking, RealSimulatedInstallInTestMode) {
    auto a = make({false, true, true});
    fx->forward_install = true;
    a.update(Msg::SelectDisk{0});
    a.set_page(Page::Progress);
    ASSERT_EQ(a.page, Page::Progress);
    ASSERT_TRUE(fx->last_plan && fx->last_plan->test);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::uint8_t phase = 0;
    float best = 0.0f;
    while (a.page == Page::Progress && std::chrono::steady_clock::now() < deadline) {
        for (Msg& m : a.poll()) a.update(m);
        if (a.page != Page::Progress) break;
        EXPECT_GE(a.install_phase, phase);
        phase = a.install_phase;
        best = std::max(best, a.install_fraction);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(a.page, Page::Finish);
    EXPECT_GE(best, 0.9f);
    EXPECT_FALSE(a.error);
}

} // namespace

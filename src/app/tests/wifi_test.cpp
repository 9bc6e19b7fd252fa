// The wireless page's behaviour: dialogs, connect jobs and the connectivity
// check, against the stand-in nmcli (there is no NetworkManager or Wi-Fi
// here). Workers run either when the test says (recording effects) or on
// real threads (the real effects).

#include "app/installer_app.hpp"
#include "app_fixture.hpp"
#include "platform/system_paths.hpp"
#include "support/files.hpp"
#include "support/nmcli_stand_in.hpp"
#include "support/temp_dir.hpp"
#include "support/view_probe.hpp"
#include "support/wait.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using app::Msg;
using app::Page;
using network::WifiNetwork;
using support::bracketed;
using support::message_of;
using support::NmcliStandIn;
using support::shows;

using namespace std::chrono_literals;

const std::vector<WifiNetwork> NETWORKS = {{"Cafe", false, 4}, {"Home", true, 3}, {"id", true, 2}};

class Wifi : public apptest::WizardTest {
protected:
    app::InstallerApp on_page(bool test_mode = false) {
        auto a = make({true, true, test_mode});
        fx->forward_nmcli = true;
        a.networks = NETWORKS;
        a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Wifi), 0});
        fx->clear();
        return a;
    }
    // One wake-up of the loop: the poll's messages handed to update.
    static void pump(app::InstallerApp& a) {
        for (auto& m : a.poll()) a.update(std::move(m));
    }
    static void press(app::InstallerApp& a, const std::string& label) {
        auto m = message_of(a.view(), label);
        ASSERT_TRUE(m) << "no live control \"" << label << "\"";
        a.update(std::move(*m));
    }
    static void type(app::InstallerApp& a, const std::string& key, const std::string& text) {
        auto m = support::typed_into(a.view(), i18n::translate(key), text);
        ASSERT_TRUE(m) << "no field " << key;
        a.update(std::move(*m));
    }
    static std::string connecting(const std::string& ssid) {
        return i18n::translate_with("wireless.connecting", {{"ssid", ssid}});
    }
};

TEST_F(Wifi, SecuredNetworkConnectsOffTheLoopWithExactCommands) {
    NmcliStandIn nm;
    auto a = on_page();
    press(a, "Home");
    ASSERT_TRUE(a.wifi_password_dialog);
    EXPECT_TRUE(shows(a.view(), i18n::translate_with("wireless.password_title", {{"ssid", "Home"}})));
    type(a, "wireless.password_placeholder", "hunter22");
    a.update(*support::submitted_from(a.view(), i18n::translate("wireless.password_placeholder")));
    EXPECT_TRUE(a.wifi_busy);
    EXPECT_EQ(nm.log().size(), 0u) << "nothing may run on the loop thread";
    EXPECT_TRUE(shows(a.view(), connecting("Home")));
    EXPECT_FALSE(support::has_control(a.view(), i18n::translate("wireless.connect")));
    EXPECT_TRUE(a.poll()[0].is<Msg::PollWifiJob>());
    pump(a); // the worker has not run: nothing is collected
    EXPECT_TRUE(a.wifi_busy);

    fx->run_jobs();
    pump(a);
    EXPECT_FALSE(a.wifi_busy);
    EXPECT_FALSE(a.wifi_password_dialog);
    EXPECT_EQ(a.connected_network, 1u);
    EXPECT_EQ(nm.log(), (std::vector<std::string>{
                            bracketed({"-w", "5", "connection", "delete", "id", "Home"}),
                            bracketed({"-w", "30", "connection", "add", "type", "wifi", "con-name", "Home", "ifname",
                                       "*", "ssid", "Home", "wifi-sec.key-mgmt", "wpa-psk", "wifi-sec.psk",
                                       "hunter22", "wifi-sec.psk-flags", "0"}),
                            bracketed({"-w", "30", "connection", "up", "id", "Home"})}));
}

// A network named like one of nmcli's words: without "id" nmcli would
// read the name as that word.
TEST_F(Wifi, KeywordNamedNetworkIsNamedWithId) {
    NmcliStandIn nm;
    auto a = on_page();
    a.update(Msg::SelectNetwork{2});
    a.update(Msg::ConnectWifi{});
    fx->run_jobs();
    pump(a);
    EXPECT_EQ(a.connected_network, 2u);
    EXPECT_EQ(nm.log().back(), bracketed({"-w", "30", "connection", "up", "id", "id"}));
}

TEST_F(Wifi, FailedConnectKeepsTheDialogAndTypingClearsTheError) {
    struct Row {
        std::string err;
        int code;
        bool absent;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {NmcliStandIn::fixture("activation-failed.err"), 4, false,
         "Error: Connection activation failed: Secrets were required, but not provided."},
        {NmcliStandIn::fixture("timeout.err"), 3, false, "Error: Timeout expired (30 seconds)"},
        {"", 4, false, "nmcli connection up: exit exit status: 4"},
        {"", 0, true, "spawn nmcli: No such file or directory (os error 2)"},
    };
    for (const Row& r : rows) {
        NmcliStandIn nm;
        if (r.absent) nm.remove();
        else nm.reply("up", "", r.err, r.code);
        auto a = on_page();
        a.update(Msg::SelectNetwork{1});
        a.update(Msg::SetWifiPassword{"wrong"});
        a.update(Msg::ConnectWifi{});
        fx->run_jobs();
        pump(a);
        EXPECT_FALSE(a.wifi_busy);
        ASSERT_TRUE(a.wifi_error);
        EXPECT_EQ(a.wifi_error->substr(0, r.shown.size()), r.shown);
        ASSERT_TRUE(a.wifi_password_dialog);
        EXPECT_EQ(a.wifi_password_dialog->password, "wrong");
        EXPECT_FALSE(a.connected_network);
        EXPECT_TRUE(shows(a.view(), *a.wifi_error));
        // Connecting again clears the error at once; so does typing.
        a.update(Msg::ConnectWifi{});
        EXPECT_FALSE(a.wifi_error);
        fx->run_jobs();
        pump(a);
        type(a, "wireless.password_placeholder", "right");
        EXPECT_FALSE(a.wifi_error);
        EXPECT_FALSE(shows(a.view(), r.shown));
    }
}

// An open network is joined, not just marked: a connect without a password,
// and its outcome shows like any other.
TEST_F(Wifi, OpenNetworkRunsAConnectWithoutPassword) {
    NmcliStandIn nm;
    auto a = on_page();
    press(a, "Cafe");
    EXPECT_TRUE(a.wifi_busy);
    EXPECT_FALSE(a.connected_network) << "marked only once connected";
    EXPECT_TRUE(shows(a.view(), connecting("Cafe")));
    fx->run_jobs();
    pump(a);
    EXPECT_EQ(a.connected_network, 0u);
    EXPECT_EQ(nm.log()[1], bracketed({"-w", "30", "connection", "add", "type", "wifi", "con-name", "Cafe", "ifname",
                                      "*", "ssid", "Cafe"}));

    nm.reply("up", "", NmcliStandIn::fixture("activation-failed.err"), 4);
    auto b = on_page();
    b.update(Msg::SelectNetwork{0});
    fx->run_jobs();
    pump(b);
    EXPECT_FALSE(b.connected_network);
    ASSERT_TRUE(b.wifi_error);
    EXPECT_TRUE(shows(b.view(), *b.wifi_error)) << "no dialog: the page itself shows it";
}

TEST_F(Wifi, HiddenNetworkTrimmedAppendedAndMarked) {
    NmcliStandIn nm;
    auto a = on_page();
    press(a, i18n::translate("wireless.add_manually"));
    ASSERT_TRUE(a.hidden_network_dialog);
    const std::string connect = i18n::translate("wireless.connect");
    EXPECT_TRUE(support::has_control(a.view(), connect));
    EXPECT_FALSE(message_of(a.view(), connect)) << "no name yet";
    type(a, "wireless.manual_ssid_ph", "   ");
    EXPECT_FALSE(message_of(a.view(), connect));
    a.update(Msg::ConnectHidden{}); // Enter in the password field
    EXPECT_FALSE(a.wifi_busy);

    type(a, "wireless.manual_ssid_ph", "  Attic Net ");
    press(a, connect);
    EXPECT_TRUE(shows(a.view(), connecting("  Attic Net ")));
    fx->run_jobs();
    pump(a);
    EXPECT_EQ(nm.log()[1], bracketed({"-w", "30", "connection", "add", "type", "wifi", "con-name", "Attic Net",
                                      "ifname", "*", "ssid", "Attic Net", "wifi.hidden", "yes"}));
    ASSERT_EQ(a.networks.size(), 4u);
    EXPECT_EQ(a.networks.back(), (WifiNetwork{"Attic Net", false, 0}));
    EXPECT_EQ(a.connected_network, 3u);
    EXPECT_FALSE(a.hidden_network_dialog);

    a.update(Msg::OpenHiddenNetwork{});
    a.update(Msg::SetHiddenSsid{"Attic Net"});
    a.update(Msg::SetHiddenPassword{"pw"});
    a.update(Msg::ConnectHidden{});
    fx->run_jobs();
    pump(a);
    EXPECT_EQ(a.networks.back(), (WifiNetwork{"Attic Net", true, 0}));
    EXPECT_EQ(a.connected_network, 4u);
}

TEST_F(Wifi, TestModeConnectsForASecondWithoutNmcli) {
    NmcliStandIn nm;
    auto a = on_page(true);
    const auto start = fx->clock;
    a.update(Msg::SelectNetwork{1});
    a.update(Msg::ConnectWifi{});
    fx->run_jobs();
    EXPECT_EQ(fx->clock - start, 1000ms);
    pump(a);
    EXPECT_EQ(a.connected_network, 1u);
    EXPECT_EQ(nm.calls("[-w]"), 0u);
}

TEST_F(Wifi, StartsAreRefusedWhileAJobIsRemembered) {
    auto a = on_page();
    a.update(Msg::SelectNetwork{1});
    a.update(Msg::ConnectWifi{});
    a.update(Msg::ConnectWifi{});
    a.update(Msg::SelectNetwork{0});
    EXPECT_EQ(fx->pending_jobs.size(), 1u);
    a.update(Msg::PollWifiJob{});
    EXPECT_TRUE(a.wifi_busy);
    // Out-of-range rows are ignored.
    a.update(Msg::CancelWifiPassword{});
    a.update(Msg::SelectNetwork{99});
    EXPECT_FALSE(a.wifi_password_dialog);
    a.wifi_password_dialog = app::WifiPasswordDialog{"", 99, false};
    a.update(Msg::ConnectWifi{});
    EXPECT_FALSE(a.wifi_busy);
    a.update(Msg::PollWifiJob{}); // no job: nothing
}

// A worker that cannot start leaves no connecting dialog waiting for ever.
TEST_F(Wifi, NoWorkerNoEndlessConnecting) {
    auto a = on_page();
    fx->spawn_error = "Resource temporarily unavailable";
    a.update(Msg::SelectNetwork{1});
    a.update(Msg::ConnectWifi{});
    EXPECT_FALSE(a.wifi_busy);
    EXPECT_EQ(a.wifi_error, "start connect: Resource temporarily unavailable");
    EXPECT_TRUE(shows(a.view(), *a.wifi_error));
    a.update(Msg::CancelWifiPassword{});
    a.update(Msg::SelectNetwork{0});
    EXPECT_FALSE(a.wifi_busy);
    EXPECT_FALSE(a.open_connect);
    EXPECT_TRUE(shows(a.view(), *a.wifi_error));
    pump(a); // the connectivity check keeps its last answer
    EXPECT_FALSE(a.online);
    fx->spawn_error.reset();
    fx->clock += 1s;
    pump(a);
    EXPECT_EQ(fx->pending_jobs.size(), 1u);
}

// The check runs on a worker, at most once a second, and the page shows
// the last answer meanwhile, however often the loop wakes.
TEST_F(Wifi, ConnectivityIsCheckedOffTheLoopAtMostOnceASecond) {
    NmcliStandIn nm;
    nm.connectivity("full");
    auto a = on_page();
    EXPECT_FALSE(a.online);
    for (int i = 0; i < 200; ++i) pump(a);
    EXPECT_EQ(fx->pending_jobs.size(), 1u);
    EXPECT_EQ(nm.log().size(), 0u) << "the loop never waits for nmcli";
    fx->run_jobs();
    EXPECT_FALSE(a.online);
    pump(a);
    EXPECT_TRUE(a.online);
    EXPECT_EQ(nm.log(), std::vector<std::string>{"[-t][networking][connectivity]"});

    nm.connectivity("limited");
    for (int i = 0; i < 50; ++i) pump(a);
    EXPECT_TRUE(fx->pending_jobs.empty()) << "a second has not passed";
    fx->clock += 1s;
    pump(a);
    fx->run_jobs();
    pump(a);
    EXPECT_FALSE(a.online);
    nm.remove();
    fx->clock += 1s;
    pump(a);
    fx->run_jobs();
    pump(a);
    EXPECT_FALSE(a.online);
}

class WifiThreads : public ::testing::Test {
protected:
    void SetUp() override {
        i18n::set_locale("en");
        namespace fs = std::filesystem;
        platform::SystemPaths p;
        p.dev = tmp / "dev";
        p.sys = tmp / "sys";
        p.state_dir = tmp / "state";
        p.run_dir = tmp / "run";
        p.default_user_home = tmp / "home/vessara";
        for (const auto& d : {p.dev, p.sys + "/block", p.state_dir, p.run_dir}) fs::create_directories(d);
        guard.emplace(p);
    }
    app::InstallerApp wizard() {
        nm.reply("scan", NmcliStandIn::fixture("scan-home.txt"));
        nm.connectivity("limited");
        app::InstallerApp a(std::nullopt, false, true, app::real_effects());
        a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Wifi), 0});
        return a;
    }
    static void pump(app::InstallerApp& a) {
        for (auto& m : a.poll()) a.update(std::move(m));
    }
    // No check may still be starting nmcli when the stand-in goes away.
    static void settle(app::InstallerApp& a) {
        ASSERT_TRUE(support::wait_until([&] {
            auto c = a.connectivity.running;
            if (!c) return true;
            std::lock_guard lock(c->mutex);
            return c->result.has_value();
        }));
    }
    support::TempDir tmp;
    std::optional<support::PathsGuard> guard;
    NmcliStandIn nm;
};

TEST_F(WifiThreads, LateAnswerThenContinueTurnsOn) {
    auto a = wizard();
    ASSERT_EQ(a.networks.size(), 5u);
    EXPECT_EQ(a.networks[1].ssid, "Home");
    EXPECT_FALSE(a.online);
    nm.hold("up");
    nm.then_connectivity("up", "full");
    a.update(Msg::SelectNetwork{1});
    a.update(Msg::SetWifiPassword{"pw"});
    a.update(Msg::ConnectWifi{});
    ASSERT_TRUE(support::wait_until([&] { return nm.calls("[-w][30][connection][up]") == 1; }));
    for (int i = 0; i < 20; ++i) pump(a);
    EXPECT_TRUE(a.wifi_busy) << "still waiting for nmcli";
    EXPECT_FALSE(message_of(a.view(), i18n::translate("common.continue")));
    nm.release("up");
    ASSERT_TRUE(support::wait_until([&] {
        pump(a);
        return !a.wifi_busy;
    }));
    EXPECT_EQ(a.connected_network, 1u);
    EXPECT_FALSE(a.wifi_error);
    ASSERT_TRUE(support::wait_until([&] {
        pump(a);
        return a.online;
    }));
    auto next = message_of(a.view(), i18n::translate("common.continue"));
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->is<Msg::Next>());
    settle(a);
}

TEST_F(WifiThreads, FailingAnswerShowsInTheDialog) {
    auto a = wizard();
    nm.reply("up", "", NmcliStandIn::fixture("activation-failed.err"), 4);
    a.update(Msg::SelectNetwork{1});
    a.update(Msg::ConnectWifi{});
    ASSERT_TRUE(support::wait_until([&] {
        pump(a);
        return !a.wifi_busy;
    }));
    ASSERT_TRUE(a.wifi_error);
    EXPECT_EQ(a.wifi_error->rfind("Error: Connection activation failed", 0), 0u);
    EXPECT_TRUE(a.wifi_password_dialog);
    EXPECT_FALSE(a.connected_network);
    settle(a);
}

// Cancelling the dialog or leaving the page abandons the job: the page is
// idle at once and the job's late success never shows.
TEST_F(WifiThreads, AbandonedJobsResultIsDropped) {
    for (bool leave : {false, true}) {
        auto a = wizard();
        nm.hold("up");
        nm.then_connectivity("up", "full");
        nm.connectivity("limited");
        a.update(Msg::SelectNetwork{1});
        a.update(Msg::ConnectWifi{});
        ASSERT_TRUE(support::wait_until([&] { return nm.calls("[-w][30][connection][up]") >= 1; }));
        if (leave) a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Navigation), 0});
        else a.update(Msg::CancelWifiPassword{});
        EXPECT_FALSE(a.wifi_busy);
        EXPECT_FALSE(a.wifi_password_dialog);
        nm.release("up");
        // The abandoned job ends: its nmcli call turned the connectivity on.
        ASSERT_TRUE(support::wait_until([] { return network::network_online(); }));
        for (int i = 0; i < 5; ++i) pump(a);
        EXPECT_FALSE(a.connected_network) << leave;
        EXPECT_FALSE(a.wifi_error);
        EXPECT_FALSE(a.wifi_busy);
        EXPECT_EQ(a.page, leave ? Page::Navigation : Page::Wifi);
        settle(a);
        std::filesystem::remove(std::string(std::getenv("NMCLI_STANDIN_DIR")) + "/log");
    }
}

} // namespace

// nmcli's terse output and command lines, read from fixtures of real output
// and run against the stand-in nmcli (no NetworkManager or Wi-Fi here).

#include "network/network.hpp"
#include "support/nmcli_stand_in.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>

namespace {

using network::WifiNetwork;
using support::bracketed;
using support::NmcliStandIn;

TEST(TerseLine, FieldsSignalAndEscapes) {
    struct Row {
        std::string line;
        std::optional<WifiNetwork> want;
    };
    const std::vector<Row> rows = {
        {"WPA2:no:70:Home", WifiNetwork{"Home", true, 3}},
        {"--:no:100:Open", WifiNetwork{"Open", false, 4}},
        {":no:100:Open", WifiNetwork{"Open", false, 4}},
        {"\\-\\-:no:100:X", WifiNetwork{"X", false, 4}}, // unescapes to "--"
        {"WPA2:no:+50:S", WifiNetwork{"S", true, 2}},
        {"WPA2:no:abc:S", WifiNetwork{"S", true, 0}},
        {"WPA2:no::S", WifiNetwork{"S", true, 0}},
        {"WPA2:no:-50:S", WifiNetwork{"S", true, 0}},
        {"WPA2:no:+:S", WifiNetwork{"S", true, 0}},
        {"WPA2:no:300:S", WifiNetwork{"S", true, 0}},
        {"WPA2:no:255:S", WifiNetwork{"S", true, 4}},
        {"WPA2:no:99999999999999999999:S", WifiNetwork{"S", true, 0}},
        {"WPA2:no: 70:S", WifiNetwork{"S", true, 0}}, // never trimmed
        {"WPA2:no:12:S", WifiNetwork{"S", true, 0}},
        {"WPA2:no:13:S", WifiNetwork{"S", true, 1}},
        {"WPA2:no:87:S", WifiNetwork{"S", true, 3}},
        {"WPA2:no:88:S", WifiNetwork{"S", true, 4}},
        {"WPA2:no:70:Lab\\:5GHz", WifiNetwork{"Lab:5GHz", true, 3}},
        {"WPA2:no:70:C\\\\D", WifiNetwork{"C\\D", true, 3}},
        {"WPA2:no:70:end\\", WifiNetwork{"end\\", true, 3}},
        {"WPA2:no:70:a:b:c", WifiNetwork{"a:b:c", true, 3}},
        {"WPA2:no:70:id", WifiNetwork{"id", true, 3}},
        {"WPA2:no:70:", std::nullopt},
        {"WPA2:no:70", std::nullopt},
        {"", std::nullopt},
        {":::", std::nullopt},
        {":::\\", WifiNetwork{"\\", false, 0}},
    };
    for (const Row& r : rows) EXPECT_EQ(network::parse_nmcli_wifi_line(r.line), r.want) << r.line;
}

TEST(TerseList, FixtureWithEscapesHiddenAndNonUtf8) {
    auto list = network::parse_wifi_list(NmcliStandIn::fixture("scan-escapes.txt"));
    const std::vector<WifiNetwork> want = {
        {"trail\\", true, 4}, {"家的", true, 4},   {"Lab:5GHz", true, 3},
        {"C\\Drive", true, 3}, {"a:b:c", true, 2}, {"Caf\xEF\xBF\xBD", false, 1},
    };
    EXPECT_EQ(list, want);
}

TEST(TerseList, StrongestFirstOnePerName) {
    auto list = network::parse_wifi_list(NmcliStandIn::fixture("scan-home.txt"));
    const std::vector<WifiNetwork> want = {
        {"Cafe Free", false, 4}, {"Home", true, 3}, {"Net", false, 3}, {"Library", false, 2}, {"Campus", true, 1},
    };
    EXPECT_EQ(list, want);
    // Equal bars keep nmcli's order, and the first of one name stays.
    EXPECT_EQ(network::parse_wifi_list("WPA2:no:50:A\n--:no:100:B\nWPA2:no:50:C\n--:no:40:A\n"),
              (std::vector<WifiNetwork>{{"B", false, 4}, {"A", true, 2}, {"C", true, 2}}));
}

TEST(Scan, ExactCommandAndFailures) {
    NmcliStandIn nm;
    nm.reply("scan", NmcliStandIn::fixture("scan-home.txt"));
    EXPECT_EQ(network::scan_wifi_networks().size(), 5u);
    EXPECT_EQ(nm.log(), (std::vector<std::string>{
                            "[-t][-f][SECURITY,ACTIVE,SIGNAL,SSID][dev][wifi][list][--rescan][yes]"}));

    nm.reply("scan", NmcliStandIn::fixture("scan-home.txt"), NmcliStandIn::fixture("no-manager.err"), 8);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(network::scan_wifi_networks().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "network::scan_wifi_networks: nmcli exit exit status: 8: Error: NetworkManager is not running.\n");

    nm.remove();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(network::scan_wifi_networks().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "network::scan_wifi_networks: spawn nmcli: No such file or directory (os error 2)\n");
}

TEST(Connectivity, OnlyFullWithStatusZero) {
    NmcliStandIn nm;
    struct Row {
        std::string word;
        int code;
        bool online;
    };
    for (const Row& r : std::vector<Row>{{"full", 0, true},
                                         {"  full \r", 0, true},
                                         {"limited", 0, false},
                                         {"none", 0, false},
                                         {"portal", 0, false},
                                         {"full", 1, false},
                                         {"fullish", 0, false}}) {
        nm.connectivity(r.word);
        nm.reply("connectivity", r.word + "\n", "", r.code);
        EXPECT_EQ(network::network_online(), r.online) << r.word << " " << r.code;
    }
    EXPECT_EQ(nm.log().back(), "[-t][networking][connectivity]");
    nm.remove();
    EXPECT_FALSE(network::network_online());
}

TEST(Connect, ThreeStepsWithIdBeforeTheProfileName) {
    struct Row {
        std::string ssid;
        std::optional<std::string> password;
        bool hidden;
        std::vector<std::string> add_tail;
    };
    const std::vector<Row> rows = {
        {"Home", "hunter22", false, {"wifi-sec.key-mgmt", "wpa-psk", "wifi-sec.psk", "hunter22", "wifi-sec.psk-flags", "0"}},
        {"Cafe", std::nullopt, false, {}},
        {"Cafe", "", false, {"wifi-sec.key-mgmt", "wpa-psk", "wifi-sec.psk", "", "wifi-sec.psk-flags", "0"}},
        {"Hide", "pw", true,
         {"wifi.hidden", "yes", "wifi-sec.key-mgmt", "wpa-psk", "wifi-sec.psk", "pw", "wifi-sec.psk-flags", "0"}},
        {"Hide", std::nullopt, true, {"wifi.hidden", "yes"}},
        // nmcli's own words and a prefix of "help" are names like any other.
        {"id", std::nullopt, false, {}},
        {"uuid", std::nullopt, false, {}},
        {"passwd-file", std::nullopt, false, {}},
        {"he", std::nullopt, false, {}},
        {"a b:c\\d", std::nullopt, false, {}},
    };
    for (const Row& r : rows) {
        NmcliStandIn nm;
        nm.reply("add", NmcliStandIn::fixture("added.out"));
        nm.reply("up", NmcliStandIn::fixture("activated.out"));
        auto res = network::connect_wifi(network::run_nmcli, r.ssid, r.password, r.hidden);
        EXPECT_TRUE(res.has_value()) << r.ssid;
        std::vector<std::string> add = {"-w", "30", "connection", "add", "type", "wifi", "con-name", r.ssid,
                                        "ifname", "*", "ssid", r.ssid};
        add.insert(add.end(), r.add_tail.begin(), r.add_tail.end());
        EXPECT_EQ(nm.log(), (std::vector<std::string>{bracketed({"-w", "5", "connection", "delete", "id", r.ssid}),
                                                      bracketed(add),
                                                      bracketed({"-w", "30", "connection", "up", "id", r.ssid})}))
            << r.ssid;
    }
}

TEST(Connect, FailuresOfEachStep) {
    struct Row {
        std::string failing;
        std::string out, err;
        int code;
        std::string want;
        std::size_t calls;
    };
    const std::vector<Row> rows = {
        {"up", "", NmcliStandIn::fixture("activation-failed.err"), 4,
         "Error: Connection activation failed: Secrets were required, but not provided.\n"
         "Hint: use 'journalctl -xe NM_CONNECTION=2b2b1e7e-2a1c-4c8d-9e36-3f3d1c1f4a10 + NM_DEVICE=wlan0' to get "
         "more details.",
         3},
        {"up", "", NmcliStandIn::fixture("timeout.err"), 3, "Error: Timeout expired (30 seconds)", 3},
        {"up", "", "", 4, "nmcli connection up: exit exit status: 4", 3},
        {"add", "", NmcliStandIn::fixture("psk-invalid.err"), 2,
         "Error: failed to modify 802-11-wireless-security.psk: property is invalid.", 2},
        {"add", "  only on stdout \n", " \n", 2, "only on stdout", 2},
        {"add", "", "", 2, "nmcli connection add: exit exit status: 2", 2},
        // The deletion's failure is none of the connect's business.
        {"delete", "", "Error: unknown connection 'Home'.\n", 10, "", 3},
    };
    for (const Row& r : rows) {
        NmcliStandIn nm;
        nm.reply(r.failing, r.out, r.err, r.code);
        auto res = network::connect_wifi(network::run_nmcli, "Home", "pw", false);
        if (r.want.empty()) EXPECT_TRUE(res.has_value());
        else {
            ASSERT_FALSE(res.has_value()) << r.failing;
            EXPECT_EQ(res.error(), r.want) << r.failing;
        }
        EXPECT_EQ(nm.log().size(), r.calls) << r.failing;
    }
}

TEST(Connect, NoNmcliAtAll) {
    NmcliStandIn nm;
    nm.remove();
    auto res = network::connect_wifi(network::run_nmcli, "Home", "pw", false);
    ASSERT_FALSE(res.has_value());
    EXPECT_EQ(res.error(), "spawn nmcli: No such file or directory (os error 2)");
}

TEST(Status, ExitAndSignalTexts) {
    EXPECT_EQ(network::status_text(4 << 8), "exit status: 4");
    EXPECT_EQ(network::status_text(SIGKILL), "signal: 9 (SIGKILL)");
    EXPECT_EQ(network::status_text(SIGSEGV | 0x80), "signal: 11 (SIGSEGV) (core dumped)");
    base::Captured killed;
    killed.status = SIGTERM;
    EXPECT_EQ(network::nmcli_error_text("connection up", killed), "nmcli connection up: exit signal: 15 (SIGTERM)");
}

} // namespace

#include "cli/cli.hpp"

#include "support/command.hpp"

#include <gtest/gtest.h>

using cli::Cli;
using cli::Exit;
using cli::Scenario;

namespace {

std::string usage() { return std::string(cli::USAGE); }
Exit error_line(std::string line) { return Exit{2, {}, line + "\n"}; }
Exit unknown(std::string shown) { return Exit{2, {}, "error: unknown argument " + shown + "\n" + usage()}; }
Exit help() { return Exit{0, usage(), {}}; }

Cli sized(std::uint32_t w, std::uint32_t h) {
    Cli c;
    c.window_size = std::pair{w, h};
    return c;
}

struct Case {
    std::vector<std::string> args;
    std::variant<Cli, Exit> expected;
};

TEST(CommandLine, ArgumentTable) {
    Cli daemon;
    daemon.daemon = true;
    Cli both;
    both.daemon = true;
    both.firstboot = true;
    Cli daemon_test = daemon;
    daemon_test.test = true;
    Cli firstboot_sized = sized(800, 600);
    firstboot_sized.firstboot = true;
    Cli install;
    install.scenario = Scenario::Install;
    Cli configure;
    configure.scenario = Scenario::Configure;
    Cli everything = sized(1600, 900);
    everything.test = true;
    everything.scenario = Scenario::Configure;

    const std::vector<Case> cases = {
        {{}, Cli{}},
        {{"daemon"}, daemon},
        {{"daemon", "daemon"}, daemon},
        {{"firstboot", "daemon"}, both},
        {{"daemon", "firstboot", "firstboot"}, both},
        {{"--test", "daemon"}, daemon_test},
        {{"--windowsize", "800x600", "firstboot"}, firstboot_sized},
        {{"--install"}, install},
        {{"--configure"}, configure},
        {{"--install", "--configure"}, configure},
        {{"--configure", "--install"}, install},
        {{"--test", "--windowsize", "1600x900", "--configure"}, everything},
        {{"--windowsize=1600x900", "--test", "--configure"}, everything},
        {{"--windowsize", "1600X900"}, sized(1600, 900)},
        {{"--windowsize", "1600*900"}, sized(1600, 900)},
        {{"--windowsize", " 1600 x\t900 "}, sized(1600, 900)},
        {{"--windowsize", "\xc2\xa0" "1600\xe3\x80\x80x900\xe2\x80\xa8"}, sized(1600, 900)},
        {{"--windowsize", "+1600x+900"}, sized(1600, 900)},
        {{"--windowsize", "4294967295x1"}, sized(4294967295u, 1)},
        {{"--windowsize", "007x08"}, sized(7, 8)},
        {{"--windowsize", "10x10", "--windowsize=20x30"}, sized(20, 30)},
        // help and errors: the first one met decides
        {{"-h"}, help()},
        {{"--help", "--bogus"}, help()},
        {{"--test", "--help"}, help()},
        {{"--bogus", "-h"}, unknown("--bogus")},
        {{"--windowsize", "0x0", "--help"}, error_line("error: --windowsize must be positive, got 0x0")},
        {{"--windowsize", "1x1x1", "--windowsize", "10x10"}, error_line("error: --windowsize must be WxH (got 1x1x1)")},
        {{"bogus"}, unknown("bogus")},
        {{"Daemon"}, unknown("Daemon")},
        {{"--TEST"}, unknown("--TEST")},
        {{"--test=1"}, unknown("--test=1")},
        {{"--install=yes"}, unknown("--install=yes")},
        {{"-H"}, unknown("-H")},
        {{"--windowsize1600x900"}, unknown("--windowsize1600x900")},
        {{""}, unknown("")},
        {{"--windowsize"}, error_line("error: --windowsize expects a value like 1600x900")},
        {{"--test", "--windowsize"}, error_line("error: --windowsize expects a value like 1600x900")},
        {{"--windowsize="}, error_line("error: --windowsize must be WxH (got )")},
        {{"--windowsize", ""}, error_line("error: --windowsize must be WxH (got )")},
        {{"--windowsize", "1600"}, error_line("error: --windowsize must be WxH (got 1600)")},
        {{"--windowsize", "1600x900x1"}, error_line("error: --windowsize must be WxH (got 1600x900x1)")},
        {{"--windowsize", "--test"}, error_line("error: --windowsize must be WxH (got --test)")},
        {{"--windowsize", "1600x"}, error_line("error: --windowsize: bad height ")},
        {{"--windowsize", "x900"}, error_line("error: --windowsize: bad width ")},
        {{"--windowsize", "-1600x900"}, error_line("error: --windowsize: bad width -1600")},
        {{"--windowsize", "1600x-900"}, error_line("error: --windowsize: bad height -900")},
        {{"--windowsize", "4294967296x900"}, error_line("error: --windowsize: bad width 4294967296")},
        {{"--windowsize", "++1x1"}, error_line("error: --windowsize: bad width ++1")},
        {{"--windowsize", "+x1"}, error_line("error: --windowsize: bad width +")},
        {{"--windowsize", " 1 6x1"}, error_line("error: --windowsize: bad width  1 6")},
        {{"--windowsize", "1.5x2"}, error_line("error: --windowsize: bad width 1.5")},
        {{"--windowsize", "\xd9\xa1x2"}, error_line("error: --windowsize: bad width \xd9\xa1")},
        {{"--windowsize", "0x900"}, error_line("error: --windowsize must be positive, got 0x900")},
        {{"--windowsize", "1600x+0"}, error_line("error: --windowsize must be positive, got 1600x0")},
        {{"--windowsize", "00x0900"}, error_line("error: --windowsize must be positive, got 0x900")},
        // bytes that are not text are refused as unknown arguments, shown lossily
        {{"--te\xffst"}, unknown("--te\xef\xbf\xbdst")},
        {{"\xc3"}, unknown("\xef\xbf\xbd")},
        {{"--windowsize=\xff" "1x1"}, unknown("--windowsize=\xef\xbf\xbd" "1x1")},
        {{"--windowsize", "1x\xe2\x82"}, unknown("1x\xef\xbf\xbd")},
        {{"-h", "\xff"}, help()},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += "[" + a + "]";
        auto r = cli::parse_args(c.args);
        if (auto* want = std::get_if<Cli>(&c.expected)) {
            ASSERT_TRUE(r) << shown << " -> " << r.error().err;
            EXPECT_TRUE(*r == *want) << shown;
        } else {
            const Exit& exit = std::get<Exit>(c.expected);
            ASSERT_FALSE(r) << shown;
            EXPECT_EQ(r.error().status, exit.status) << shown;
            EXPECT_EQ(r.error().out, exit.out) << shown;
            EXPECT_EQ(r.error().err, exit.err) << shown;
        }
    }
}

TEST(CommandLine, UsageTextLayout) {
    const std::string u = usage();
    ASSERT_FALSE(u.empty());
    EXPECT_EQ(u.back(), '\n');
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < u.size(); ++i)
        if (u[i] == '\n') {
            lines.push_back(u.substr(start, i - start));
            start = i + 1;
        }
    ASSERT_EQ(lines.size(), 27u);
    EXPECT_EQ(lines[0], "Usage: tavix-installer [OPTIONS]");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[12], "");
    EXPECT_EQ(lines[15], "                      (e.g. --windowsize 1600x900). Defaults to fullscreen.");
    EXPECT_EQ(lines[26], "  -h, --help          Print this help and exit.");
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (i != 3 && i != 12) {
            EXPECT_FALSE(lines[i].empty()) << i;
        }
}

TEST(CommandLine, SplitKeepsEmptyPieces) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(cli::split_window_size(""), (V{""}));
    EXPECT_EQ(cli::split_window_size("1600x"), (V{"1600", ""}));
    EXPECT_EQ(cli::split_window_size("x900"), (V{"", "900"}));
    EXPECT_EQ(cli::split_window_size("1X2*3x"), (V{"1", "2", "3", ""}));
}

TEST(CommandLineExecutable, HelpAndErrorsEndTheProcess) {
    struct Run {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<Run> runs = {
        {{"--help"}, 0, usage(), ""},
        {{"--test", "-h", "--bogus"}, 0, usage(), ""},
        {{"--bogus"}, 2, "", "error: unknown argument --bogus\n" + usage()},
        {{"--windowsize"}, 2, "", "error: --windowsize expects a value like 1600x900\n"},
        {{"--windowsize=0x900"}, 2, "", "error: --windowsize must be positive, got 0x900\n"},
        {{"\xff\xfe"}, 2, "", "error: unknown argument \xef\xbf\xbd\xef\xbf\xbd\n" + usage()},
    };
    for (const auto& run : runs) {
        std::vector<std::string> argv = {TAVIX_INSTALLER_EXE};
        argv.insert(argv.end(), run.args.begin(), run.args.end());
        auto r = support::run_program(argv);
        EXPECT_EQ(r.status, run.status) << run.args[0];
        EXPECT_EQ(r.out, run.out) << run.args[0];
        EXPECT_EQ(r.err, run.err) << run.args[0];
    }
}

} // namespace

#include "startup/startup.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using cli::Cli;
using cli::Scenario;

namespace {

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/startup-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        saved_ = platform::paths();
        platform::SystemPaths p;
        p.state_dir = dir_;
        platform::set_paths(p);
    }
    void TearDown() override {
        platform::set_paths(saved_);
        fs::remove_all(dir_);
    }

    // Roles that record what ran.
    startup::Roles recording(std::expected<void, std::string> daemon_result = {}, int wizard_status = 0) {
        startup::Roles r;
        r.firstboot = [this] { ran_.push_back("firstboot"); };
        r.daemon = [this, daemon_result] {
            ran_.push_back("daemon");
            return daemon_result;
        };
        r.wizard = [this, wizard_status](const Cli&, Scenario s) {
            ran_.push_back(s == Scenario::Install ? "wizard install" : "wizard configure");
            return wizard_status;
        };
        return r;
    }

    std::string marker() const { return dir_ + "/configure-pending"; }

    std::string dir_;
    platform::SystemPaths saved_;
    std::vector<std::string> ran_;
};

Cli with(bool firstboot, bool daemon, std::optional<Scenario> scenario = {}) {
    Cli c;
    c.firstboot = firstboot;
    c.daemon = daemon;
    c.scenario = scenario;
    return c;
}

TEST_F(StartUp, RoleOrderAndExitStatus) {
    struct Case {
        const char* name;
        Cli cli;
        std::expected<void, std::string> daemon_result;
        int wizard_status;
        std::string ran;
        int status;
        std::string err;
    };
    Cli test_daemon = with(false, true);
    test_daemon.test = true;
    test_daemon.window_size = std::pair{800u, 600u};
    const std::vector<Case> cases = {
        {"firstboot", with(true, false), {}, 0, "firstboot", 0, ""},
        {"firstboot wins over daemon", with(true, true), {}, 0, "firstboot", 0, ""},
        {"firstboot wins over wizard options", with(true, false, Scenario::Configure), {}, 0, "firstboot", 0, ""},
        {"daemon cannot start", with(false, true), std::unexpected("bind /run/tavix-installer/daemon.sock: Permission denied"), 0,
         "daemon", 1, "tavix-installer daemon: bind /run/tavix-installer/daemon.sock: Permission denied\n"},
        {"daemon returns", with(false, true), {}, 0, "daemon", 0, ""},
        {"daemon ignores wizard options", test_daemon, {}, 0, "daemon", 0, ""},
        {"wizard", with(false, false), {}, 0, "wizard install", 0, ""},
        {"wizard status passes through", with(false, false, Scenario::Configure), {}, 101, "wizard configure", 101, ""},
    };
    for (const auto& c : cases) {
        ran_.clear();
        testing::internal::CaptureStderr();
        int status = startup::run(c.cli, recording(c.daemon_result, c.wizard_status));
        std::string err = testing::internal::GetCapturedStderr();
        std::string ran;
        for (const auto& r : ran_) ran += (ran.empty() ? "" : ",") + r;
        EXPECT_EQ(ran, c.ran) << c.name;
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(err, c.err) << c.name;
    }
}

TEST_F(StartUp, RolesNotBuiltSaySoAndFail) {
    struct Case {
        Cli cli;
        std::string err;
    };
    const std::vector<Case> cases = {
        {with(true, true), "tavix-installer: the first-boot step is not built yet\n"},
        {with(false, true), "tavix-installer: the daemon is not built yet\n"},
        {with(false, false), "tavix-installer: the wizard is not built yet\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        int status = startup::run(c.cli, startup::Roles{});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(status, 1) << c.err;
    }
}

TEST_F(StartUp, ScenarioFromCommandLineOrMarker) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::optional<Scenario> forced;
        Scenario expected;
    };
    const std::vector<Case> cases = {
        {"no marker", [] {}, std::nullopt, Scenario::Install},
        {"marker file", [this] { std::ofstream(marker()).put('\n'); }, std::nullopt, Scenario::Configure},
        {"empty marker", [this] { std::ofstream{marker()}; }, std::nullopt, Scenario::Configure},
        {"marker is a directory", [this] { fs::create_directory(marker()); }, std::nullopt, Scenario::Configure},
        {"marker links to a file",
         [this] {
             std::ofstream(dir_ + "/target").put('x');
             fs::create_symlink(dir_ + "/target", marker());
         },
         std::nullopt, Scenario::Configure},
        {"dangling link", [this] { fs::create_symlink(dir_ + "/gone", marker()); }, std::nullopt, Scenario::Install},
        {"forced install despite marker", [this] { std::ofstream{marker()}; }, Scenario::Install, Scenario::Install},
        {"forced configure without marker", [] {}, Scenario::Configure, Scenario::Configure},
    };
    for (const auto& c : cases) {
        fs::remove_all(marker());
        fs::remove_all(dir_ + "/target");
        c.prepare();
        Cli cli = with(false, false, c.forced);
        EXPECT_EQ(startup::choose_scenario(cli, platform::paths()), c.expected) << c.name;
        ran_.clear();
        startup::run(cli, recording());
        ASSERT_EQ(ran_.size(), 1u) << c.name;
        EXPECT_EQ(ran_[0], c.expected == Scenario::Install ? "wizard install" : "wizard configure") << c.name;
    }
}

} // namespace

#include "install/command.hpp"
#include "install/engine.hpp"
#include "support/loop_disk.hpp"
#include "support/mounts.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using ipc::InstallPhase;

struct Step {
    InstallPhase phase;
    float fraction;
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << "(" << static_cast<int>(s.phase) << ", " << s.fraction << ")";
}

ipc::InstallPlan test_plan() {
    ipc::InstallPlan plan;
    plan.disk = "/dev/tavix-none";
    plan.locale = "en";
    plan.test = true;
    return plan;
}

// Polls the handle until the install ends, recording every distinct
// (phase, fraction) it passes through; `on_step` may act on each new one.
install::InstallSnapshot follow(const install::InstallHandle& handle, std::vector<Step>& steps,
                                const std::function<void(const Step&)>& on_step = {}) {
    install::InstallSnapshot s;
    const bool ended = support::wait_until([&] {
        s = handle->snapshot();
        Step step{s.phase, s.fraction};
        if (steps.empty() || !(steps.back() == step)) {
            steps.push_back(step);
            if (on_step) on_step(step);
        }
        return s.done || s.error.has_value();
    });
    if (!ended) ADD_FAILURE() << "install did not end";
    return s;
}

TEST(SimulatedInstall, ReportsTheWholeScriptThenDone) {
    // A cancel asked for before the start is forgotten by it.
    install::CANCEL_FLAG.store(true);
    auto handle = install::start(test_plan());
    std::vector<Step> steps;
    auto end = follow(handle, steps);

    std::vector<Step> want{{InstallPhase::Partition, 0.0f}, {InstallPhase::Partition, 0.01f},
                           {InstallPhase::Format, 0.05f}, {InstallPhase::Copy, 0.10f}};
    for (int p = 15; p <= 85; p += 5) want.push_back({InstallPhase::Copy, static_cast<float>(p) / 100.0f});
    want.push_back({InstallPhase::Bootloader, 0.90f});
    want.push_back({InstallPhase::Finalize, 0.96f});
    want.push_back({InstallPhase::Finalize, 1.0f});
    // The first poll may come after the engine's first store.
    if (steps.size() == want.size() - 1) want.erase(want.begin());
    EXPECT_EQ(steps, want);
    EXPECT_TRUE(end.done);
    EXPECT_FALSE(end.error.has_value());
    EXPECT_EQ(end.fraction, 1.0f);
}

TEST(SimulatedInstall, CancelPoints) {
    struct Case {
        const char* name;
        Step trigger; // set the flag once this step is seen
        std::optional<std::string> error;
        InstallPhase end_phase;
    };
    const std::vector<Case> cases = {
        {"during the first sleep", {InstallPhase::Partition, 0.01f}, "cancelled", InstallPhase::Partition},
        {"during the boot loader sleep", {InstallPhase::Bootloader, 0.90f}, "cancelled", InstallPhase::Bootloader},
        {"during the last sleep is too late", {InstallPhase::Finalize, 0.96f}, std::nullopt, InstallPhase::Finalize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto handle = install::start(test_plan());
        std::vector<Step> steps;
        auto end = follow(handle, steps, [&](const Step& s) {
            if (s == c.trigger) install::CANCEL_FLAG.store(true);
        });
        EXPECT_EQ(end.error, c.error);
        EXPECT_EQ(end.done, !c.error.has_value());
        EXPECT_EQ(end.phase, c.end_phase);
        if (c.error) {
            EXPECT_EQ(end.fraction, c.trigger.fraction);
        }
    }
}

TEST(Engine, CheckCancelled) {
    install::CANCEL_FLAG.store(false);
    EXPECT_TRUE(install::check_cancelled().has_value());
    install::CANCEL_FLAG.store(true);
    EXPECT_EQ(install::check_cancelled().error(), "cancelled");
    install::CANCEL_FLAG.store(false);
}

TEST(Engine, RealInstallOnAMissingDiskFails) {
    auto plan = test_plan();
    plan.test = false;
    auto handle = install::start(plan);
    std::vector<Step> steps;
    auto end = follow(handle, steps);
    EXPECT_FALSE(end.done);
    ASSERT_TRUE(end.error.has_value());
    EXPECT_EQ(*end.error, "open /dev/tavix-none: No such file or directory");
    EXPECT_EQ(end.phase, InstallPhase::Partition);
}

TEST(Engine, FailedInstallReleasesItsMountsBeforeReportingAndKeepsProgress) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    if (auto r = support::enter_private_mounts(); !r) GTEST_SKIP() << r.error();
    support::TempDir dir;
    auto disk = support::LoopDisk::create(16 << 20);
    if (!disk) GTEST_SKIP() << disk.error();
    ASSERT_TRUE(install::run({"mkfs.ext4", "-F", "-q", disk->path()}));
    const std::string root = dir / "root", inner = dir / "root/boot";
    std::filesystem::create_directories(root);

    auto plan = test_plan();
    plan.test = false;
    auto handle = std::make_shared<install::InstallStatus>();
    std::optional<bool> mounted_while_failing;
    install::run_engine(plan, handle,
                        [&](const ipc::InstallPlan&, const install::InstallHandle& h, install::MountList& mounts)
                            -> std::expected<void, std::string> {
                            install::set_progress(h, InstallPhase::Copy, 0.4f);
                            if (auto r = install::mount(disk->path(), root, {}, mounts); !r) return r;
                            std::filesystem::create_directories(inner);
                            if (auto r = install::mount("tmpfs", inner, {"-t", "tmpfs"}, mounts); !r) return r;
                            mounted_while_failing = support::is_mount_point(inner);
                            return std::unexpected(std::string("rsync exited with exit status: 23: gone"));
                        });
    EXPECT_EQ(mounted_while_failing, true);
    auto end = handle->snapshot();
    EXPECT_EQ(end.error, "rsync exited with exit status: 23: gone");
    EXPECT_FALSE(end.done);
    EXPECT_EQ(end.phase, InstallPhase::Copy);
    EXPECT_EQ(end.fraction, 0.4f);
    EXPECT_FALSE(support::is_mount_point(inner));
    EXPECT_FALSE(support::is_mount_point(root));
}

TEST(Engine, ExceptionInThePipelineBecomesTheError) {
    auto plan = test_plan();
    plan.test = false;
    auto handle = std::make_shared<install::InstallStatus>();
    install::run_engine(plan, handle, [](const ipc::InstallPlan&, const install::InstallHandle&,
                                         install::MountList&) -> std::expected<void, std::string> {
        throw std::runtime_error("boom");
    });
    auto end = handle->snapshot();
    EXPECT_EQ(end.error, "install: boom");
    EXPECT_FALSE(end.done);
}

TEST(Engine, StatusWhoseWriterFailedReadsAsFailed) {
    auto handle = std::make_shared<install::InstallStatus>();
    install::InstallStatus& status = *handle;
    install::set_progress(handle, InstallPhase::Copy, 0.5f);
    status.update([](install::InstallSnapshot& s) {
        s.fraction = 0.6f;
        throw std::runtime_error("writer failed");
    });
    auto s = status.snapshot();
    EXPECT_EQ(s.error, "install status unreadable");
    EXPECT_FALSE(s.done);
    // A later write cannot make it whole again.
    status.update([](install::InstallSnapshot& f) { f.done = true; f.error.reset(); });
    EXPECT_EQ(status.snapshot().error, "install status unreadable");
}

} // namespace

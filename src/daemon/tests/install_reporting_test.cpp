// The daemon's connection handling in this process, over socket pairs, with
// an engine that runs the simulated install: long-running installs, busy
// refusals and the progress stream reaching the client's handle.
#include "daemon/server.hpp"
#include "client/client.hpp"
#include "platform/system_paths.hpp"
#include "support/daemon_process.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using ipc::InstallPhase;

install::InstallHandle simulated(ipc::InstallPlan plan) {
    plan.test = true;
    return install::start(std::move(plan));
}

ipc::InstallPlan plan() {
    ipc::InstallPlan p;
    p.disk = "/dev/tavix-none";
    p.locale = "en";
    return p;
}

// Serves one connection of a socket pair on a thread of its own, as the
// accept loop would; returns the test's end.
int serve() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    std::thread([fd = sv[0]] { daemon_server::handle_connection(fd, simulated); }).detach();
    return sv[1];
}

// Writes one request on a new connection and reads everything until close.
std::string ask(const ipc::Request& req) {
    int fd = serve();
    EXPECT_TRUE(ipc::write_line(fd, req).has_value());
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return got;
}

using support::wait_until;

class InstallReporting : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::paths();
        auto p = saved_;
        p.state_dir = dir_.path();
        platform::set_paths(p);
        std::ofstream(dir_ / "install-pending");
    }
    void TearDown() override {
        // Leave no simulated install running into the next test.
        install::CANCEL_FLAG.store(true);
        wait_until([] { return !daemon_server::DAEMON_BUSY.load(); });
        platform::set_paths(saved_);
    }
    support::TempDir dir_;
    platform::SystemPaths saved_;
};

const std::string BUSY = "{\"event\":\"failed\",\"message\":\"busy\"}\n";

TEST_F(InstallReporting, SecondInstallIsBusyEvenAfterTheFirstClientLeft) {
    testing::internal::CaptureStderr();
    int first = serve();
    auto handle = std::make_shared<install::InstallStatus>();
    std::thread reader([first, handle] { client::remote_install_thread(first, plan(), handle); });
    ASSERT_TRUE(wait_until([&] { return handle->snapshot().fraction > 0.0f; }));

    EXPECT_EQ(ask(ipc::Request::Install{plan()}), BUSY);
    // Nor are partition tables edited under the running install.
    EXPECT_EQ(ask(ipc::Request::DiskOps{{ipc::RemoteDiskOp::Wipe{"/dev/tavix-none"}}}), BUSY);

    // The wizard goes away; the install goes on and keeps the daemon busy.
    ::shutdown(first, SHUT_RDWR);
    reader.join();
    EXPECT_EQ(handle->snapshot().error, "connection to the install daemon lost");
    EXPECT_EQ(ask(ipc::Request::Install{plan()}), BUSY);

    // Cancelling ends it; then the daemon takes a new install.
    EXPECT_EQ(ask(ipc::Request::CancelInstall{}), "{\"event\":\"done\"}\n");
    ASSERT_TRUE(wait_until([] { return !daemon_server::DAEMON_BUSY.load(); }));
    auto next = std::make_shared<install::InstallStatus>();
    int second = serve();
    std::thread([second, next] { client::remote_install_thread(second, plan(), next); }).detach();
    ASSERT_TRUE(wait_until([&] { return next->snapshot().fraction > 0.0f; }));
    EXPECT_FALSE(next->snapshot().error.has_value());
    EXPECT_EQ(ask(ipc::Request::CancelInstall{}), "{\"event\":\"done\"}\n");
    ASSERT_TRUE(wait_until([&] { return next->snapshot().error.has_value(); }));
    EXPECT_EQ(next->snapshot().error, "cancelled");

    ASSERT_TRUE(wait_until([] { return !daemon_server::DAEMON_BUSY.load(); }));
    const std::string log = testing::internal::GetCapturedStderr();
    // The first install kept running after its wizard left: one failed write
    // is logged, nothing more is sent, and its end is still logged.
    auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (auto pos = log.find(text); pos != std::string::npos; pos = log.find(text, pos + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("daemon: write to daemon: "), 1u) << log;
    EXPECT_EQ(count("daemon: install requested: WholeDisk on /dev/tavix-none\n"), 2u) << log;
    EXPECT_EQ(count("daemon: install failed: cancelled\n"), 2u) << log;
}

TEST_F(InstallReporting, ProgressOfASimulatedRunReachesTheClientHandle) {
    install::CANCEL_FLAG.store(false);
    int fd = serve();
    auto handle = std::make_shared<install::InstallStatus>();
    std::thread([fd, handle] { client::remote_install_thread(fd, plan(), handle); }).detach();

    struct Step {
        InstallPhase phase;
        float fraction;
        bool operator==(const Step&) const = default;
    };
    std::vector<Step> seen;
    install::InstallSnapshot end;
    ASSERT_TRUE(wait_until(
        [&] {
            end = handle->snapshot();
            Step s{end.phase, end.fraction};
            if (seen.empty() || !(seen.back() == s)) seen.push_back(s);
            return end.done || end.error.has_value();
        },
        30s));
    EXPECT_TRUE(end.done);
    EXPECT_FALSE(end.error.has_value());
    // The daemon polls every 200 ms, more often than the script moves on, so
    // normally every step arrives; on a loaded machine one may be skipped,
    // but what arrives comes in the script's order and with its values.
    std::vector<Step> want{{InstallPhase::Partition, 0.01f}, {InstallPhase::Format, 0.05f},
                           {InstallPhase::Copy, 0.10f}};
    for (int p = 15; p <= 85; p += 5) want.push_back({InstallPhase::Copy, static_cast<float>(p) / 100.0f});
    want.push_back({InstallPhase::Bootloader, 0.90f});
    want.push_back({InstallPhase::Finalize, 0.96f});
    want.push_back({InstallPhase::Finalize, 1.0f});
    ASSERT_FALSE(seen.empty());
    if (seen.front() == Step{InstallPhase::Partition, 0.0f}) seen.erase(seen.begin());
    std::size_t at = 0;
    for (const Step& s : seen) {
        while (at < want.size() && !(want[at] == s)) ++at;
        ASSERT_LT(at, want.size()) << "unexpected or out-of-order step " << static_cast<int>(s.phase) << " "
                                   << s.fraction;
    }
    for (const Step& must : {want[0], want[1], want[want.size() - 3], want[want.size() - 2], want.back()})
        EXPECT_NE(std::find(seen.begin(), seen.end(), must), seen.end()) << must.fraction;
    EXPECT_GE(seen.size(), want.size() - 2);
}

} // namespace

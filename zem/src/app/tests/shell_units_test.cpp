// Small pieces of the shell that need no compositor.
#include <zem/app/app_data.hpp>
#include <zem/app/hooks.hpp>
#include <zem/app/signals.hpp>
#include <zem/app/text_scale.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

TEST(RunError, TextsOfEachKind) {
    using zem::RunError;
    EXPECT_EQ((RunError{RunError::Connect, "No such file or directory", {}}).text(),
              "Wayland connection failed: No such file or directory");
    EXPECT_EQ((RunError{RunError::Registry, "Broken pipe", {}}).text(), "Wayland registry init failed: Broken pipe");
    EXPECT_EQ((RunError{RunError::EventLoop, "signal pipe2: Too many open files", {}}).text(),
              "event-loop setup failed: signal pipe2: Too many open files");
    EXPECT_EQ((RunError{RunError::MissingProtocol, "not offered", "wl_shm"}).text(),
              "Wayland protocol `wl_shm` unavailable: not offered");
    EXPECT_EQ(zem::overlay_debug(7), "OverlayId(7)");
}

TEST(ShmFormat, PrefersAb24ElseSwapsChannelsOnArgb) {
    EXPECT_EQ(zem::shm_format({0, 1, 0x34324241}), std::make_pair(0x34324241u, false));
    EXPECT_EQ(zem::shm_format({0, 1}), std::make_pair(0u, true));
    EXPECT_EQ(zem::shm_format({}), std::make_pair(0u, true));
}

TEST(ParseScalingFactor, ReadsBothOutputForms) {
    const std::vector<std::pair<std::string, std::optional<float>>> cases = {
        {"1.5\n", 1.5f},
        {"text-scaling-factor: 1.25\n", 1.25f},
        {"text-scaling-factor: 0.0\n", std::nullopt},
        {"text-scaling-factor: -2\n", std::nullopt},
        {"text-scaling-factor: big\n", std::nullopt},
        {"text-scaling-factor: nan\n", std::nullopt},
        {"10", 10.0f},
        {"inf", INFINITY},
        {"Infinity\n", INFINITY},
        {"", std::nullopt},
        {"1.25 \n", std::nullopt},  // the last piece is the empty one after the space
        {"2e-1", 0.2f},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(zem::parse_scaling_factor(text), want) << text;
}

TEST(TextScale, ClampsToTheAllowedRange) {
    zem::set_text_scale(10);
    EXPECT_EQ(zem::current_text_scale(), 3.0f);
    zem::set_text_scale(INFINITY);
    EXPECT_EQ(zem::current_text_scale(), 3.0f);
    zem::set_text_scale(0.1f);
    EXPECT_EQ(zem::current_text_scale(), 0.5f);
    zem::set_text_scale(1.0f);
}

TEST(PerfGuard, SoftwareFramesAreAtLeast33MsApart) {
    using zem::event_loop::Instant;
    Instant t0(100s);
    zem::PerfGuard g = zem::PerfGuard::fresh(t0);
    // The pacing starts as if a frame had been let through 33 ms after start-up.
    EXPECT_FALSE(g.frame_due(true, t0 + 32ms));
    EXPECT_FALSE(g.frame_due(true, t0 + 65ms));
    EXPECT_TRUE(g.frame_due(true, t0 + 66ms));
    EXPECT_FALSE(g.frame_due(true, t0 + 66ms + 16ms)) << "a callback 16 ms after the last frame waits";
    EXPECT_TRUE(g.frame_due(true, t0 + 99ms));
    EXPECT_TRUE(g.frame_due(false, t0 + 100ms)) << "GLES frames are not throttled";
    ASSERT_TRUE(g.animation_start.has_value());
    EXPECT_EQ(*g.animation_start, t0 + 32ms);
}

class SignalPipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto r = zem::event_loop::Reactor::create();
        ASSERT_TRUE(r);
        reactor = std::move(*r);
    }
    std::unique_ptr<zem::event_loop::Reactor> reactor;
};

TEST_F(SignalPipeTest, LastChunkNamesTheSignalAndEndsTheLoop) {
    bool exited = false;
    auto pipe = zem::SignalPipe::install(*reactor, [&] { exited = true; });
    ASSERT_TRUE(pipe);
    // An empty pipe changes nothing.
    EXPECT_FALSE((*pipe)->drain().has_value());
    // 20 bytes: the last 16-byte chunk read begins with the 17th byte.
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = i == 16 ? SIGINT : SIGTERM;
    ASSERT_EQ(write((*pipe)->write_fd(), bytes, sizeof bytes), 20);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reactor->dispatch(1s));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "zem: SIGINT received, exiting cleanly\n");
    EXPECT_TRUE(exited);
}

TEST_F(SignalPipeTest, RealSignalIsDeliveredThroughThePipe) {
    bool exited = false;
    auto pipe = zem::SignalPipe::install(*reactor, [&] { exited = true; });
    ASSERT_TRUE(pipe);
    testing::internal::CaptureStderr();
    raise(SIGTERM);
    ASSERT_TRUE(reactor->dispatch(1s));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "zem: SIGTERM received, exiting cleanly\n");
    EXPECT_TRUE(exited);
}

TEST_F(SignalPipeTest, HandlersAreRestoredBeforeThePipeCloses) {
    struct sigaction before {};
    struct sigaction custom {};
    custom.sa_handler = [](int) {};
    sigaction(SIGTERM, &custom, &before);
    {
        auto pipe = zem::SignalPipe::install(*reactor, [] {});
        ASSERT_TRUE(pipe);
        struct sigaction during {};
        sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, custom.sa_handler);
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, custom.sa_handler) << "the earlier handler is back";
    struct sigaction sigint {};
    sigaction(SIGINT, nullptr, &sigint);
    EXPECT_EQ(sigint.sa_handler, SIG_DFL);
    // A descriptor opened now may reuse the pipe's numbers; a signal must not
    // write into it.
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    raise(SIGTERM);
    char c;
    fcntl(p[0], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read(p[0], &c, 1), -1);
    close(p[0]);
    close(p[1]);
    sigaction(SIGTERM, &before, nullptr);
}

}  // namespace

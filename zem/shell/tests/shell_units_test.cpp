// Small pieces of the shell that need no compositor.
#include <zem/shell/app_data.hpp>
#include <zem/shell/hooks.hpp>
#include <zem/shell/signals.hpp>
#include <zem/shell/text_scale.hpp>
#include <zem/core/length.hpp>

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
    EXPECT_EQ(zem::text_scale(), 3.0f);
    zem::set_text_scale(INFINITY);
    EXPECT_EQ(zem::text_scale(), 3.0f);
    zem::set_text_scale(0.1f);
    EXPECT_EQ(zem::text_scale(), 0.5f);
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

namespace {

TEST(BufferScale, ChangesWithinTheCapAndRefusesBeyondIt) {
    struct Case {
        const char* name;
        uint32_t w, h;
        int32_t from, to;
        std::optional<std::pair<uint32_t, uint32_t>> want;
        const char* line;  // standard error
    };
    const std::vector<Case> cases = {
        {"1 to 2", 100, 100, 1, 2, std::make_pair(200u, 200u), ""},
        {"same scale: nothing", 100, 100, 2, 2, std::nullopt, ""},
        {"past 256 MiB: refused", 10000, 10000, 1, 2, std::nullopt,
         "[zem] on_buffer_scale: scale 2 (physical 20000×20000) out of range — ignoring\n"},
        {"overflowing sizes saturate and are refused", 0xFFFFFFFFu, 3, 1, 4, std::nullopt,
         "[zem] on_buffer_scale: scale 4 (physical 4294967295×12) out of range — ignoring\n"},
        {"not configured yet: the scale is kept for later", 0, 0, 1, 3, std::make_pair(0u, 0u), ""},
    };
    for (const auto& c : cases) {
        zem::SurfaceState s = zem::create_surface_state(zem::SurfaceRole{}, "", 0);
        s.size = {c.w, c.h};
        s.scale = c.from;
        s.relayout = false;
        testing::internal::CaptureStderr();
        auto got = zem::apply_buffer_scale(s, nullptr, c.to);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line) << c.name;
        EXPECT_EQ(got, c.want) << c.name;
        EXPECT_EQ(s.scale, got ? c.to : c.from) << c.name;
        EXPECT_EQ(s.relayout, got.has_value()) << c.name;
    }
}

TEST(Configure, OutOfRangeSizesChangeNothing) {
    const std::vector<std::tuple<uint32_t, uint32_t, int32_t, const char*>> cases = {
        {0, 600, 1, "[zem] on_configure: size 0×600 (physical 0×600) out of range — ignoring\n"},
        {9000, 8000, 1, "[zem] on_configure: size 9000×8000 (physical 9000×8000) out of range — ignoring\n"},
        {0x80000000u, 10, 2,
         "[zem] on_configure: size 2147483648×10 (physical 4294967295×20) out of range — ignoring\n"},
    };
    for (auto [w, h, scale, line] : cases) {
        zem::SurfaceState s = zem::create_surface_state(zem::SurfaceRole{}, "", 0);
        s.scale = scale;
        testing::internal::CaptureStderr();
        zem::configure_surface(s, nullptr, w, h);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
        EXPECT_FALSE(s.configured);
        EXPECT_EQ(s.size, (std::array<uint32_t, 2>{0, 0}));
    }
}

}  // namespace

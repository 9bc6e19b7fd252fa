// A program built on the toolkit survives a reader that goes away.
#include <zem/shell/app.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

struct NoApp {
    using Msg = int;
    std::string app_id() { return "org.example.Sigpipe"; }
    std::vector<int> poll() { return {}; }
    void update(int) {}
    zem::Element view() { return zem::Element{}; }
};

// The child restores the default action first, so that only the toolkit's
// start-up can be what ignores the signal.
TEST(Sigpipe, WriteToAClosedPipeFailsWithEpipeAfterStartUp) {
    EXPECT_EXIT(
        {
            std::signal(SIGPIPE, SIG_DFL);
            setenv("WAYLAND_DISPLAY", "/nonexistent/zem-sigpipe-test", 1);
            auto r = zem::run_handle(std::make_unique<zem::AppAdapter<NoApp>>(NoApp{}));
            if (r) std::_Exit(3);  // no compositor there: start-up must fail
            int p[2];
            if (pipe(p) != 0) std::_Exit(4);
            close(p[0]);
            ssize_t n = write(p[1], "x", 1);
            std::_Exit(n < 0 && errno == EPIPE ? 0 : 5);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace

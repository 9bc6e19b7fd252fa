#include "kiosk/kiosk.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A compositor stand-in: a real listening Unix socket in a private runtime
// directory, with the environment pointing at it.
class KioskSwitch : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kiosk-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("WAYLAND_DISPLAY", "wayland-7", 1);
    }
    void TearDown() override {
        if (listener_ >= 0) ::close(listener_);
        fs::remove_all(dir_);
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("WAYLAND_DISPLAY");
    }

    void listen_at(const std::string& name, int backlog = 8) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(listener_, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = dir_ + "/" + name;
        ASSERT_LT(path.size(), sizeof addr.sun_path);
        std::strcpy(addr.sun_path, path.c_str());
        ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::listen(listener_, backlog), 0);
    }

    bool connection_pending() {
        pollfd p{listener_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }

    // Everything the next client wrote before closing.
    std::string accept_and_read() {
        int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        EXPECT_GE(c, 0);
        std::string got;
        char buf[256];
        ssize_t n;
        while ((n = ::read(c, buf, sizeof buf)) > 0) got.append(buf, std::size_t(n));
        ::close(c);
        return got;
    }

    std::string dir_;
    int listener_ = -1;
};

TEST_F(KioskSwitch, WritesTheExactLineAndCloses) {
    listen_at("mebra-wayland-7.sock");
    kiosk::set_kiosk(true);
    std::string on = accept_and_read();
    EXPECT_EQ(on, "{\"action\":\"set_kiosk\",\"enabled\":true}\n");
    EXPECT_EQ(on.size(), 38u);
    EXPECT_EQ(on.substr(0, 32), "{\"action\":\"set_kiosk\",\"enabled\":");
    kiosk::set_kiosk(false);
    std::string off = accept_and_read();
    EXPECT_EQ(off, "{\"action\":\"set_kiosk\",\"enabled\":false}\n");
    EXPECT_EQ(off.size(), 39u);
}

TEST_F(KioskSwitch, EmptyDisplayNameGivesBareFileName) {
    setenv("WAYLAND_DISPLAY", "", 1);
    listen_at("mebra-.sock");
    EXPECT_EQ(kiosk::control_socket_path(), dir_ + "/mebra-.sock");
    kiosk::set_kiosk(true);
    EXPECT_EQ(accept_and_read(), "{\"action\":\"set_kiosk\",\"enabled\":true}\n");
}

TEST_F(KioskSwitch, NoConnectionWithoutUsableEnvironment) {
    listen_at("mebra-wayland-7.sock");
    struct Case {
        const char* name;
        std::function<void()> prepare;
    };
    const std::vector<Case> cases = {
        {"runtime dir unset", [] { unsetenv("XDG_RUNTIME_DIR"); }},
        {"display unset", [] { unsetenv("WAYLAND_DISPLAY"); }},
        {"display not UTF-8", [] { setenv("WAYLAND_DISPLAY", "wayland-\xff", 1); }},
        {"other display", [] { setenv("WAYLAND_DISPLAY", "wayland-8", 1); }},
    };
    for (const auto& c : cases) {
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("WAYLAND_DISPLAY", "wayland-7", 1);
        c.prepare();
        kiosk::set_kiosk(true);
        EXPECT_FALSE(connection_pending()) << c.name;
    }
}

TEST_F(KioskSwitch, CompositorThatNeverAcceptsDoesNotBlock) {
    listen_at("mebra-wayland-7.sock", 0);
    // Fill the backlog with connections nobody accepts.
    std::vector<int> fillers;
    for (int k = 0; k < 4; ++k) {
        int f = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, (dir_ + "/mebra-wayland-7.sock").c_str());
        ::connect(f, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers.push_back(f);
    }
    auto finished = std::make_shared<std::promise<void>>();
    auto done = finished->get_future();
    std::thread caller([finished] {
        kiosk::set_kiosk(true);
        kiosk::set_kiosk(false);
        finished->set_value();
    });
    // A hang here would be the fault; the bound only keeps the suite alive.
    bool returned = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_TRUE(returned);
    if (returned)
        caller.join();
    else
        caller.detach();
    for (int f : fillers) ::close(f);
}

TEST_F(KioskSwitch, MissingSocketIsSilent) {
    testing::internal::CaptureStderr();
    kiosk::set_kiosk(true);
    setenv("XDG_RUNTIME_DIR", (dir_ + "/" + std::string(200, 'd')).c_str(), 1);
    kiosk::set_kiosk(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace

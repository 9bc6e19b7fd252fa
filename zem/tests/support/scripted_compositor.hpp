#pragma once
// A scripted compositor on libwayland-server, run on a thread of the test.
//
// It offers the globals the options ask for, at the versions they ask for,
// answers the requests a toolkit client makes (surfaces, regions, shared
// memory, xdg windows and popups), and logs every request in order as
// "interface.request(args)" so tests can check exact sequences.

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct wl_display;
struct wl_resource;

namespace zem::test {

struct ScriptedOptions {
    uint32_t compositor_version = 4;  // 0: not offered
    bool shm = true;
    bool shm_ab24 = true;             // advertise ABGR8888 besides the two mandatory formats
    uint32_t wm_base_version = 5;     // 0: not offered
    bool seat = false;
    bool output = true;
    int32_t configure_width = 320, configure_height = 240;  // sizes of the first configure
    bool release_buffers = true;      // false: the compositor holds every buffer
    bool frame_done = true;           // answer frame callbacks at the next commit
    int close_after_frames = 0;       // send xdg_toplevel.close after this many buffers (0: never)
};

class ScriptedCompositor {
public:
    [[nodiscard]] static std::expected<std::unique_ptr<ScriptedCompositor>, std::string> start(ScriptedOptions opts);
    ~ScriptedCompositor();

    // Absolute path of the socket, for WAYLAND_DISPLAY.
    const std::string& socket() const { return socket_; }

    std::vector<std::string> log() const;
    // Requests whose text begins with `prefix`.
    std::vector<std::string> matching(const std::string& prefix) const;
    // Waits until at least `count` requests begin with `prefix`; whether
    // they came within `limit`.
    bool wait_for(const std::string& prefix, size_t count = 1,
                  std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    // Pings the client and waits for its answer: everything sent before has
    // been handled by then. False when the client has no xdg_wm_base or does
    // not answer within `limit`.
    bool roundtrip(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Runs `fn` on the compositor thread and waits for it.
    void call(std::function<void()> fn);
    // Protocol error on the client's first toplevel.
    void post_error_on_toplevel(uint32_t code, const std::string& message);
    void close_toplevel();
    // Sends an xdg_toplevel configure with this size (0 = client's choice).
    void configure_toplevel(int32_t w, int32_t h);

    // Internal, used by the request handlers.
    struct State;

private:
    ScriptedCompositor() = default;
    std::unique_ptr<State> state_;
    std::string socket_, dir_;
    std::thread thread_;
};

}  // namespace zem::test

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
    uint32_t text_input_version = 0;  // zwp_text_input_manager_v3 (0: not offered)
    uint32_t data_device_manager_version = 0;  // wl_data_device_manager (0: not offered)
    uint32_t wm_base_version = 5;     // 0: not offered
    bool seat = false;
    uint32_t seat_capabilities = 0;   // sent when the seat is bound: pointer 1, keyboard 2, touch 4
    bool cursor_shape = false;        // offer wp_cursor_shape_manager_v1
    bool output = true;
    int32_t configure_width = 320, configure_height = 240;  // sizes of the first configure
    bool release_buffers = true;      // false: the compositor holds every buffer
    bool frame_done = true;           // answer frame callbacks at the next commit
    int close_after_frames = 0;       // send xdg_toplevel.close after this many buffers (0: never)
    bool session_manager = false;     // offer xdg_session_manager_v1 (version 1)
    bool keep_frames = false;         // copy the pixels of every committed shared-memory buffer
};

// The pixels of one committed shared-memory buffer, rows packed (width × 4
// bytes), in the buffer's own format.
struct CommittedFrame {
    uint32_t width = 0, height = 0, format = 0;
    std::vector<uint8_t> bytes;
};

class ScriptedCompositor {
public:
    [[nodiscard]] static std::expected<std::unique_ptr<ScriptedCompositor>, std::string> start(ScriptedOptions opts);
    ~ScriptedCompositor();

    // Absolute path of the socket, for WAYLAND_DISPLAY.
    const std::string& socket() const { return socket_; }

    std::vector<std::string> log() const;
    // The buffers committed so far, oldest first (with `keep_frames`).
    std::vector<CommittedFrame> frames() const;
    // Requests whose text begins with `prefix`.
    std::vector<std::string> matching(const std::string& prefix) const;
    // Input-method events to the client's newest zwp_text_input_v3 (enter
    // names the first toplevel's surface); nothing without one.
    void text_input_enter();
    void text_input_preedit(const std::string& text, int32_t begin, int32_t end);
    void text_input_commit_string(const std::string& text);
    void text_input_delete(uint32_t before, uint32_t after);
    void text_input_done(uint32_t serial);
    // Clipboard: asks the client's newest data source to send `mime` and
    // returns our read end (-1 without a source); announces a selection
    // offering `mimes` on the client's newest data device; hands over the
    // write end of the client's next wl_data_offer.receive (-1 when none
    // came within `wait`).
    int request_send(const std::string& mime);
    void new_selection(const std::vector<std::string>& mimes);
    int take_received(std::chrono::milliseconds wait);
    // Drag-and-drop onto the client's newest wl_surface: enter with an offer
    // of `mimes` (serial returned), then drop.
    uint32_t drag_enter(const std::vector<std::string>& mimes);
    void drag_drop();
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
    // Globals the client bound, as "interface,version".
    std::vector<std::string> binds() const;
    // Events of the client's first xdg_session_v1.
    void send_session_created(const std::string& id);
    void send_session_replaced();
    // Input on the first toplevel's surface, surface-local coordinates.
    // Each pointer event is followed by a frame, as a compositor groups them.
    void set_capabilities(uint32_t caps);
    void pointer_enter(double x, double y);
    void pointer_motion(double x, double y);
    void pointer_button(uint32_t button, bool pressed);
    void keyboard_enter();                  // sends a "us" keymap first
    void key(uint32_t code, bool pressed);  // evdev code
    void repeat_info(int32_t rate, int32_t delay);
    void touch_down(int32_t id, double x, double y);
    void touch_motion(int32_t id, double x, double y);
    void touch_up(int32_t id);
    void touch_cancel();
    // True once the client holds a device of each kind asked for.
    bool has_devices(uint32_t caps);

    // Internal, used by the request handlers.
    struct State;

private:
    ScriptedCompositor() = default;
    std::unique_ptr<State> state_;
    std::string socket_, dir_;
    std::thread thread_;
};

}  // namespace zem::test

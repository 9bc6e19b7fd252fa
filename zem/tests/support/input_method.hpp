#pragma once
// A small input method of our own for tests under a real compositor: it
// binds zwp_input_method_v2 for the first seat on its own connection, follows
// what the focused text input reports (activation, surrounding text) and
// sends composed text back, as an on-screen keyboard or a composing input
// method would.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwp_input_method_manager_v2;
struct zwp_input_method_v2;

namespace zem::test {

class InputMethod {
public:
    // Connects to `display` (a socket path or name) and asks for the input
    // method of the first seat; the error says why that failed.
    [[nodiscard]] static std::expected<std::unique_ptr<InputMethod>, std::string> connect(const std::string& display);
    ~InputMethod();
    InputMethod(const InputMethod&) = delete;
    InputMethod& operator=(const InputMethod&) = delete;

    // Sends what is queued and takes in what the compositor has sent (one
    // round trip). False once the connection has failed.
    bool pump();

    // The state as of the last `done`.
    struct State {
        bool active = false;
        std::string surrounding;
        std::uint32_t cursor = 0, anchor = 0;
        std::uint32_t hint = 0, purpose = 0;
    };
    const State& state() const { return current_; }
    // How many `done` events came: the serial a commit answers with.
    std::uint32_t done_count() const { return done_count_; }
    // Another input method already serves the seat.
    bool unavailable() const { return unavailable_; }

    // One group of changes, applied by the text input in the protocol's
    // order: delete around the cursor, insert `commit`, then show `preedit`.
    struct Edit {
        std::uint32_t delete_before = 0, delete_after = 0;
        std::optional<std::string> commit = std::nullopt;
        std::optional<std::string> preedit = std::nullopt;
        std::int32_t preedit_cursor_begin = -1, preedit_cursor_end = -1;
    };
    void send(const Edit& edit);

private:
    InputMethod() = default;
    static void on_global(void*, wl_registry*, std::uint32_t, const char*, std::uint32_t);
    static void on_global_remove(void*, wl_registry*, std::uint32_t);
    static void on_activate(void*, zwp_input_method_v2*);
    static void on_deactivate(void*, zwp_input_method_v2*);
    static void on_surrounding_text(void*, zwp_input_method_v2*, const char*, std::uint32_t, std::uint32_t);
    static void on_text_change_cause(void*, zwp_input_method_v2*, std::uint32_t);
    static void on_content_type(void*, zwp_input_method_v2*, std::uint32_t, std::uint32_t);
    static void on_done(void*, zwp_input_method_v2*);
    static void on_unavailable(void*, zwp_input_method_v2*);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwp_input_method_manager_v2* manager_ = nullptr;
    zwp_input_method_v2* im_ = nullptr;
    State pending_, current_;
    std::uint32_t done_count_ = 0;
    bool unavailable_ = false;
};

}  // namespace zem::test

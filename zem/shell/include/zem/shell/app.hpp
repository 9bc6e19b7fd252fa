#pragma once
// The application interface and the toolkit's entry `zem::run<App>`.
//
// An application type provides, as member functions:
//   using Msg = ...;                                  its message type
//   std::string app_id();                             required
//   std::vector<Msg> poll();                          required
//   void update(Msg);                                 required
//   zem::Element view();                                required
// and optionally (the defaults apply when absent):
//   std::optional<zem::WindowConfig> window_config(); none
//   std::optional<std::pair<uint32_t, uint32_t>> window_size();  none
//   void set_channel_sender(zem::MessageSender<Msg>); drops the sender
//   std::optional<std::chrono::nanoseconds> poll_interval();     none
//   std::vector<zem::OverlayDecl> overlays();         empty
//   void resized(uint32_t w, uint32_t h);             nothing
//   bool is_animating();                              false
//   std::optional<std::vector<uint8_t>> session_state();          none
//   void restore_session_state(std::vector<uint8_t>); ignores it
//
// `run` calls each of them directly on the application type; the compiled
// part of the shell reaches them through `AppHandle`, which `run` builds
// around the application value.

#include <zem/core/message.hpp>
#include <zem/shell/scene.hpp>
#include <zem/shell/types.hpp>
#include <zem/shell/event_loop.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zem {

// What an overlay without an anchor becomes: a separate window, or a
// layer-shell surface on one of the four layers.
enum class OverlayKind : std::uint8_t {
    LayerBackground = 0,
    LayerBottom = 1,
    Window = 2,
    LayerTop = 3,
    LayerOverlay = 4,
};

// An overlay that the application (or the tooltip) wants shown.
struct OverlayDecl {
    OverlayId id = 0;
    Element element;
    std::optional<std::vector<Rect>> input_region;
    Length width = Length::px(0), height = Length::px(0);
    std::optional<std::string> anchor;  // present: a popup hanging from that widget key
    OverlayKind kind = OverlayKind::Window;
    bool edge_top = false, edge_bottom = false, edge_left = false, edge_right = false;
    int32_t exclusive_zone = 0;
    bool keyboard_exclusive = false;
    OptionalMessage dismiss_message;
};

// The sending end of the message channel, typed for the application.
template <class Msg>
class MessageSender {
public:
    MessageSender() = default;
    explicit MessageSender(event_loop::Sender<Message> s) : inner_(std::move(s)) {}
    // False when the loop has ended.
    bool send(Msg m) const { return inner_.send(Message(std::move(m))); }

private:
    event_loop::Sender<Message> inner_;
};

// The application as the compiled shell sees it.
class AppHandle {
public:
    virtual ~AppHandle() = default;
    virtual std::optional<WindowConfig> window_config() = 0;
    virtual std::string app_id() = 0;
    virtual std::optional<std::pair<uint32_t, uint32_t>> window_size() = 0;
    virtual void set_channel_sender(event_loop::Sender<Message> sender) = 0;
    virtual std::optional<std::chrono::nanoseconds> poll_interval() = 0;
    virtual std::vector<Message> poll() = 0;
    virtual void update(Message m) = 0;
    virtual Element view() = 0;
    virtual std::vector<OverlayDecl> overlays() = 0;
    virtual void resized(uint32_t w, uint32_t h) = 0;
    virtual bool is_animating() = 0;
    virtual std::optional<std::vector<uint8_t>> session_state() = 0;
    virtual void restore_session_state(std::vector<uint8_t> bytes) = 0;
};

template <class App>
class AppAdapter final : public AppHandle {
public:
    using Msg = typename App::Msg;
    explicit AppAdapter(App app) : app_(std::move(app)) {}
    App& app() { return app_; }

    std::optional<WindowConfig> window_config() override {
        if constexpr (requires { app_.window_config(); }) return app_.window_config();
        else return std::nullopt;
    }
    std::string app_id() override { return app_.app_id(); }
    std::optional<std::pair<uint32_t, uint32_t>> window_size() override {
        if constexpr (requires { app_.window_size(); }) return app_.window_size();
        else return std::nullopt;
    }
    void set_channel_sender(event_loop::Sender<Message> sender) override {
        if constexpr (requires { app_.set_channel_sender(MessageSender<Msg>{}); })
            app_.set_channel_sender(MessageSender<Msg>(std::move(sender)));
    }
    std::optional<std::chrono::nanoseconds> poll_interval() override {
        if constexpr (requires { app_.poll_interval(); }) {
            auto d = app_.poll_interval();
            if (!d) return std::nullopt;
            return std::chrono::duration_cast<std::chrono::nanoseconds>(*d);
        } else {
            return std::nullopt;
        }
    }
    std::vector<Message> poll() override {
        std::vector<Message> out;
        for (auto& m : app_.poll()) out.emplace_back(std::move(m));
        return out;
    }
    void update(Message m) override { app_.update(std::move(m).template take<Msg>()); }
    Element view() override { return app_.view(); }
    std::vector<OverlayDecl> overlays() override {
        if constexpr (requires { app_.overlays(); }) return app_.overlays();
        else return {};
    }
    void resized(uint32_t w, uint32_t h) override {
        if constexpr (requires { app_.resized(w, h); }) app_.resized(w, h);
    }
    bool is_animating() override {
        if constexpr (requires { app_.is_animating(); }) return app_.is_animating();
        else return false;
    }
    std::optional<std::vector<uint8_t>> session_state() override {
        if constexpr (requires { app_.session_state(); }) return app_.session_state();
        else return std::nullopt;
    }
    void restore_session_state(std::vector<uint8_t> bytes) override {
        if constexpr (requires { app_.restore_session_state(std::move(bytes)); })
            app_.restore_session_state(std::move(bytes));
    }

private:
    App app_;
};

// Start-up, loop and ending for one application; returns the start-up
// failure instead of stopping. `run` is the public entry.
[[nodiscard]] std::expected<void, RunError> run_handle(std::unique_ptr<AppHandle> app);

// Stops the program with "zem::run failed during init: " and the error.
[[noreturn]] void fail_init(const RunError& e);

// Runs the application until a signal, the window's close or the loss of the
// display ends the loop. A start-up failure stops the program (status 101).
template <class App>
void run(App app) {
    auto r = run_handle(std::make_unique<AppAdapter<App>>(std::move(app)));
    if (!r) fail_init(r.error());
}

}  // namespace zem

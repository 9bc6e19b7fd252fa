// Pointer, touch and keyboard through a scripted compositor: the exact
// requests the toolkit answers them with, and what reaches the application.
#include "support/process.hpp"
#include "support/scripted_compositor.hpp"

#include <zem/shell/app.hpp>
#include <zem/widgets/button.hpp>
#include <zem/widgets/column.hpp>
#include <zem/widgets/text_edit.hpp>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using zem::test::ScriptedCompositor;
using zem::test::ScriptedOptions;

// What the application saw, read by the driving thread.
struct Seen {
    std::mutex mutex;
    std::vector<int> updates;
    std::atomic<int> views{0};
    std::atomic<bool> closed{false};
    bool windowed = false;     // a window with our own title bar
    bool auto_repeat = false;  // the button repeats while held
};

// A button at (0, 0, 100, 40) and a field below it at (0, 40, 200, 40).
struct InputApp {
    using Msg = int;
    std::shared_ptr<Seen> seen;

    ~InputApp() {
        if (seen) seen->closed = true;
    }
    InputApp(std::shared_ptr<Seen> s) : seen(std::move(s)) {}
    InputApp(InputApp&& o) noexcept : seen(std::move(o.seen)) {}

    std::string app_id() { return "org.example.Input"; }
    std::optional<zem::WindowConfig> window_config() {
        if (!seen->windowed) return std::nullopt;
        return zem::WindowConfig{"Input", "org.example.Input"};
    }
    std::vector<int> poll() { return {}; }
    void update(int m) {
        std::lock_guard lock(seen->mutex);
        seen->updates.push_back(m);
    }
    zem::Element view() {
        ++seen->views;
        zem::Button b;
        b.content = std::string("A");
        b.on_press = zem::Message(1);
        b.width = zem::Length::px(100);
        b.height = zem::Length::px(40);
        b.focusable = true;
        b.auto_repeat = seen->auto_repeat;
        zem::TextEdit t;
        t.width = zem::Length::px(200);
        t.height = zem::Length::px(40);
        zem::Column c;
        c.center_x = false;
        c.children.push_back(std::move(b));
        c.children.push_back(std::move(t));
        return c;
    }
    bool is_animating() { return false; }
};

struct Session {
    std::unique_ptr<ScriptedCompositor> c;
    std::shared_ptr<Seen> seen = std::make_shared<Seen>();
    std::thread app;
    std::atomic<bool> done{false};
    std::string err;

    explicit Session(ScriptedOptions o, bool windowed = false, bool auto_repeat = false) {
        seen->windowed = windowed;
        seen->auto_repeat = auto_repeat;
        o.seat = true;
        auto made = ScriptedCompositor::start(o);
        if (!made) {
            ADD_FAILURE() << made.error();
            return;
        }
        c = std::move(*made);
        setenv("WAYLAND_DISPLAY", c->socket().c_str(), 1);
        setenv("GSETTINGS_BACKEND", "memory", 1);
        setenv("ZEM_THEMES_DIR", TAVIX_SOURCE_DIR "/themes", 1);
        app = std::thread([this] {
            (void)zem::run_handle(std::make_unique<zem::AppAdapter<InputApp>>(InputApp(seen)));
            done = true;
        });
    }
    ~Session() {
        if (c && !done) c->close_toplevel();
        if (app.joinable()) app.join();
    }
    // The first frame is on screen (so the regions exist).
    bool shown() {
        return zem::test::wait_until([&] { return !c->matching("wl_surface.attach(wl_buffer").empty(); });
    }
    size_t count(const std::string& prefix) { return c->matching(prefix).size(); }
    std::vector<int> updates() {
        std::lock_guard lock(seen->mutex);
        return seen->updates;
    }
};

// Each settled step: the compositor answers a round of requests; waiting on
// a request we expect is the deadline.
TEST(ScriptedInput, CursorShapesAreProtocolValues) {
    ScriptedOptions o;
    o.seat_capabilities = 1;
    o.cursor_shape = true;
    Session s(o);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(1); }));
    ASSERT_TRUE(s.shown());
    s.c->pointer_enter(300, 200);  // empty space
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wp_cursor_shape_device_v1.set_shape(") == 1; }));
    s.c->pointer_motion(50, 20);  // the button
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wp_cursor_shape_device_v1.set_shape(") == 2; }));
    s.c->pointer_motion(51, 21);  // same button: nothing new
    s.c->pointer_motion(20, 60);  // the field
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wp_cursor_shape_device_v1.set_shape(") == 3; }));
    s.c->pointer_enter(20, 60);   // a new entry sends the shape again
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wp_cursor_shape_device_v1.set_shape(") == 4; }));
    std::vector<std::string> shapes;
    for (auto& l : s.c->matching("wp_cursor_shape_device_v1.set_shape(")) shapes.push_back(l.substr(l.find(',') + 1));
    EXPECT_EQ(shapes, (std::vector<std::string>{"1)", "4)", "9)", "9)"}));
    EXPECT_EQ(s.count("wl_pointer.set_cursor"), 0u);
}

TEST(ScriptedInput, HoverRedrawsWithoutANewView) {
    ScriptedOptions o;
    o.seat_capabilities = 1;
    Session s(o);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(1); }));
    ASSERT_TRUE(s.shown());
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wl_surface.frame(") >= 1; }));
    int views = s.seen->views;
    size_t attaches = s.count("wl_surface.attach(wl_buffer");
    s.c->pointer_enter(300, 200);
    s.c->pointer_motion(50, 20);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wl_surface.attach(wl_buffer") == attaches + 1; }));
    EXPECT_EQ(s.seen->views, views);
}

// A partial frame through the GLES renderer into a real EGL window (Mesa's
// software rasteriser, which hands the compositor shared-memory buffers):
// Tab focuses the button, its focus ring is drawn under the button's clip,
// and the whole buffers the compositor receives differ from the frame
// before only around the button.
TEST(ScriptedInput, GlesFocusFrameChangesOnlyTheButton) {
    struct Env {
        std::string name;
        std::optional<std::string> old;
        Env(const char* n, const char* v) : name(n) {
            if (const char* o = getenv(n)) old = o;
            setenv(n, v, 1);
        }
        ~Env() {
            if (old) setenv(name.c_str(), old->c_str(), 1);
            else unsetenv(name.c_str());
        }
    };
    Env gles("ZEM_FORCE_SOFTWARE", "0"), llvmpipe("LIBGL_ALWAYS_SOFTWARE", "1");
    ScriptedOptions o;
    o.seat_capabilities = 2;
    o.keep_frames = true;
    Session s(o);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(2); }));
    ASSERT_TRUE(s.shown());
    ASSERT_TRUE(zem::test::wait_until([&] { return !s.c->frames().empty(); }));
    // Keyboard entry redraws the whole page; the frame after it is the one
    // the focus frame is compared with.
    const size_t entered = s.c->frames().size();
    s.c->keyboard_enter();
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->frames().size() > entered; }));
    ASSERT_TRUE(s.c->roundtrip());
    const int views = s.seen->views;
    const size_t shown = s.c->frames().size();
    const zem::test::CommittedFrame before = s.c->frames().back();
    // Our own shared-memory path would pick ABGR8888, which this compositor
    // offers; Mesa's window buffers are ARGB8888.
    ASSERT_EQ(before.format, 0u) << "not drawn through EGL";
    s.c->key(KEY_TAB, true);
    s.c->key(KEY_TAB, false);
    // The frames drawn since, up to the first that shows the focus.
    std::vector<zem::test::CommittedFrame> frames;
    ASSERT_TRUE(zem::test::wait_until([&] {
        auto all = s.c->frames();
        frames.assign(all.begin() + std::ptrdiff_t(shown), all.end());
        return !frames.empty() && frames.back().bytes != before.bytes;
    })) << "no frame shows the focus";
    EXPECT_EQ(s.seen->views, views) << "a focus change is a partial frame, not a new view";
    uint32_t x0 = before.width, y0 = before.height, x1 = 0, y1 = 0;
    for (const auto& after : frames) {
        ASSERT_EQ(after.format, 0u);
        ASSERT_EQ(after.width, before.width);
        ASSERT_EQ(after.height, before.height);
        for (uint32_t y = 0; y < after.height; ++y)
            for (uint32_t x = 0; x < after.width; ++x) {
                const size_t i = (size_t(y) * after.width + x) * 4;
                if (std::memcmp(&before.bytes[i], &after.bytes[i], 4) == 0) continue;
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
            }
    }
    // The button is (0, 0, 100, 40); its ring reaches 7.5 beyond it.
    EXPECT_LE(x1, 108u) << "changed " << x0 << "," << y0 << " to " << x1 << "," << y1;
    EXPECT_LE(y1, 48u) << "changed " << x0 << "," << y0 << " to " << x1 << "," << y1;
    EXPECT_GE(x1 - x0, 90u) << "the ring runs along the whole button";
}

TEST(ScriptedInput, ClickAndTapSendTheButtonsMessage) {
    ScriptedOptions o;
    o.seat_capabilities = 1 | 4;
    Session s(o);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(1 | 4); }));
    ASSERT_TRUE(s.shown());
    s.c->pointer_enter(50, 20);
    s.c->pointer_button(BTN_LEFT, true);
    s.c->pointer_button(BTN_LEFT, false);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.updates().size() == 1; }));
    s.c->touch_down(7, 40, 10);
    s.c->touch_up(7);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.updates().size() == 2; }));
    // Released outside the button: no message.
    s.c->touch_down(8, 40, 10);
    s.c->touch_motion(8, 300, 200);
    s.c->touch_up(8);
    s.c->touch_down(9, 40, 10);
    s.c->touch_up(9);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.updates().size() >= 3; }));
    EXPECT_EQ(s.updates(), (std::vector<int>{1, 1, 1}));
}

TEST(ScriptedInput, LosingTouchMidGestureResetsIt) {
    ScriptedOptions o;
    o.seat_capabilities = 4;
    Session s(o);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(4); }));
    ASSERT_TRUE(s.shown());
    testing::internal::CaptureStderr();
    s.c->touch_down(1, 40, 10);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wl_surface.attach(wl_buffer") >= 2; }));  // pressed look
    s.c->set_capabilities(0);
    s.c->set_capabilities(4);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("wl_seat.get_touch(") == 2; }));
    // The new device's first touch starts afresh: the stale press sends nothing.
    s.c->touch_up(1);
    s.c->touch_down(2, 40, 10);
    s.c->touch_up(2);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.updates().size() >= 1; }));
    s.c->close_toplevel();
    ASSERT_TRUE(zem::test::wait_until([&] { return s.done.load(); }));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[zem] touch capability removed mid-gesture — reset stale touch state\n"), std::string::npos)
        << err;
    EXPECT_EQ(s.updates(), (std::vector<int>{1}));
}

TEST(ScriptedInput, EscapeEndsTheLoopNormally) {
    ScriptedOptions o;
    o.seat_capabilities = 2;
    Session s(o);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(2); }));
    ASSERT_TRUE(s.shown());
    s.c->keyboard_enter();
    s.c->key(KEY_ESC, true);
    // run() returns and the application is torn down in order; the test
    // process (which hosts it) is still here to see it.
    ASSERT_TRUE(zem::test::wait_until([&] { return s.done.load(); }));
    EXPECT_TRUE(s.seen->closed);
}

TEST(ScriptedInput, HeldAutoRepeatButtonRepeatsUntilReleased) {
    ScriptedOptions o;
    o.seat_capabilities = 2 | 4;
    Session s(o, false, true);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(2 | 4); }));
    ASSERT_TRUE(s.shown());
    s.c->keyboard_enter();
    s.c->repeat_info(25, 100);  // the first repeat after 100 ms, then every 120 ms
    s.c->touch_down(1, 40, 10);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.updates().size() >= 3; }));
    s.c->touch_up(1);
    size_t at_release = 0;
    // Nothing more after the release (another would be due within 120 ms).
    EXPECT_FALSE(zem::test::wait_until(
        [&] {
            if (at_release == 0) at_release = s.updates().size();
            return s.updates().size() > at_release + 1;
        },
        400ms));
    // No tap on release either: the press already sent it.
    for (int u : s.updates()) EXPECT_EQ(u, 1);
}

// A 320 × 240 window with a 36 px title band; its close button sits at
// (284, 4, 28, 28), maximise at (248, 4), minimise at (212, 4).
TEST(ScriptedInput, TitleBarMovesResizesAndCloses) {
    ScriptedOptions o;
    o.seat_capabilities = 1;
    Session s(o, true);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(1); }));
    ASSERT_TRUE(s.shown());
    s.c->pointer_enter(3, 3);
    s.c->pointer_button(BTN_LEFT, true);
    s.c->pointer_button(BTN_LEFT, false);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("xdg_toplevel.resize(wl_seat,") == 1; }));
    s.c->pointer_motion(150, 20);
    s.c->pointer_button(BTN_LEFT, true);
    s.c->pointer_button(BTN_LEFT, false);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("xdg_toplevel.move(wl_seat,") == 1; }));
    s.c->pointer_motion(316, 120);  // the right border
    s.c->pointer_button(BTN_LEFT, true);
    s.c->pointer_button(BTN_LEFT, false);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("xdg_toplevel.resize(wl_seat,") == 2; }));
    auto resizes = s.c->matching("xdg_toplevel.resize(wl_seat,");
    EXPECT_EQ(resizes[0].substr(resizes[0].rfind(',')), ",5)");
    EXPECT_EQ(resizes[1].substr(resizes[1].rfind(',')), ",8)");
    // Maximise and minimise sit 36 px apart to the close button's left.
    s.c->pointer_motion(262, 18);
    s.c->pointer_button(BTN_LEFT, true);
    s.c->pointer_button(BTN_LEFT, false);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("xdg_toplevel.set_maximized(") == 1; }));
    s.c->pointer_motion(226, 18);
    s.c->pointer_button(BTN_LEFT, true);
    s.c->pointer_button(BTN_LEFT, false);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.count("xdg_toplevel.set_minimized(") == 1; }));
    s.c->pointer_motion(298, 18);
    s.c->pointer_button(BTN_LEFT, true);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.done.load(); }));
    EXPECT_TRUE(s.seen->closed);
}

TEST(ScriptedInput, KeyboardLossStopsARepeatingKey) {
    ScriptedOptions o;
    o.seat_capabilities = 2;
    Session s(o);
    ASSERT_TRUE(s.c);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.c->has_devices(2); }));
    ASSERT_TRUE(s.shown());
    s.c->keyboard_enter();
    s.c->repeat_info(100, 50);
    s.c->key(KEY_TAB, true);  // focus the button
    s.c->key(KEY_TAB, false);
    s.c->key(KEY_ENTER, true);
    ASSERT_TRUE(zem::test::wait_until([&] { return s.updates().size() >= 3; }));  // it repeats
    s.c->set_capabilities(0);
    size_t after = 0;
    // Give a running repeat time to show itself: it fires every 10 ms.
    EXPECT_FALSE(zem::test::wait_until(
        [&] {
            if (after == 0) after = s.updates().size();
            return s.updates().size() > after + 1;
        },
        300ms));
}

}  // namespace

// The input method and the clipboard against the scripted compositor: the
// shell's own handlers on a connection of the test's making, with a reactor
// on a clock the test moves (no loop).
#include "support/scripted_compositor.hpp"

#include <zem/shell/app.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/text_fields.hpp>

#include <gtest/gtest.h>
#include <text-input-unstable-v3-client-protocol.h>
#include <wayland-client.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <string>
#include <vector>

namespace {

using namespace zem::test;
using zem::AppData;
using zem::HitAction;
using zem::HitRegion;
using zem::LayoutId;
using zem::SurfaceKey;

struct NoApp {
    using Msg = int;
    std::string app_id() { return "org.example.TextInput"; }
    std::vector<int> poll() { return {}; }
    void update(int) {}
    zem::Element view() { return zem::Element{}; }
};

void on_global(void* data, wl_registry* reg, uint32_t name, const char* iface, uint32_t) {
    auto& d = *static_cast<AppData*>(data);
    if (std::strcmp(iface, "wl_compositor") == 0)
        d.compositor = static_cast<wl_compositor*>(wl_registry_bind(reg, name, &wl_compositor_interface, 4));
    else if (std::strcmp(iface, "wl_seat") == 0)
        d.seats.push_back(zem::Seat{name, static_cast<wl_seat*>(wl_registry_bind(reg, name, &wl_seat_interface, 1)), 0});
    else if (std::strcmp(iface, "wl_data_device_manager") == 0)
        d.data_device_manager =
            static_cast<wl_data_device_manager*>(wl_registry_bind(reg, name, &wl_data_device_manager_interface, 3));
    else if (std::strcmp(iface, "zwp_text_input_manager_v3") == 0)
        d.text_input_manager = static_cast<zwp_text_input_manager_v3*>(
            wl_registry_bind(reg, name, &zwp_text_input_manager_v3_interface, 1));
}
void on_global_remove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {on_global, on_global_remove};

struct TextInput : testing::Test {
    std::unique_ptr<ScriptedCompositor> c;
    wl_display* display = nullptr;
    std::unique_ptr<zem::event_loop::Reactor> reactor;
    zem::event_loop::Instant now = zem::event_loop::Clock::now();
    std::unique_ptr<AppData> d;
    const SurfaceKey main = SurfaceKey::main();

    void SetUp() override {
        ScriptedOptions o;
        o.seat = true;
        o.text_input_version = 1;
        o.data_device_manager_version = 3;
        auto r = zem::event_loop::Reactor::create([this] { return now; });
        ASSERT_TRUE(r);
        reactor = std::move(*r);
        auto started = ScriptedCompositor::start(o);
        ASSERT_TRUE(started) << started.error();
        c = std::move(*started);
        display = wl_display_connect(c->socket().c_str());
        ASSERT_NE(display, nullptr);
        d = std::make_unique<AppData>(std::make_unique<zem::AppAdapter<NoApp>>(NoApp{}));
        d->display = display;
        d->reactor = reactor.get();
        d->registry = wl_display_get_registry(display);
        wl_registry_add_listener(d->registry, &kRegistry, d.get());
        ASSERT_GE(wl_display_roundtrip(display), 0);
        ASSERT_NE(d->text_input_manager, nullptr);
        ASSERT_EQ(d->seats.size(), 1u);
        zem::clipboard_start(*d);
        ASSERT_TRUE(d->clipboard);
    }
    void TearDown() override {
        if (d) {
            // The application data frees its globals and the registry itself.
            d->clipboard.reset();
            d.reset();
        }
        if (display) wl_display_disconnect(display);
    }

    void add_field(LayoutId id, std::string text, bool password = false) {
        HitAction::TextEdit f;
        f.text = std::string_view(text);
        f.password = password;
        f.on_change = zem::text_callback([id](const std::string& t) -> std::optional<zem::Message> {
            return zem::Message(std::to_string(id) + ":" + t);
        });
        HitRegion r;
        r.id = id;
        r.action = HitAction{std::move(f)};
        d->main_surface.regions.push_back(std::move(r));
    }
    // Lets us see the compositor's events, and it the requests our handlers
    // made in answer (the second round trip flushes them).
    void sync() {
        ASSERT_GE(wl_display_roundtrip(display), 0);
        ASSERT_GE(wl_display_roundtrip(display), 0);
    }
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        for (auto& m : d->messages) out.push_back(*m.get<std::string>());
        d->messages.clear();
        return out;
    }
    std::vector<std::string> text_input_log() { return c->matching("zwp_text_input_v3."); }
};

TEST_F(TextInput, EventsApplyOnlyAtDoneDeleteBeforeCommit) {
    add_field(1, "ab");
    d->set_focus(main, 1);
    sync();
    c->text_input_delete(1, 0);
    c->text_input_commit_string("\u00e9");
    c->text_input_preedit("x", 0, 1);
    sync();
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(zem::field_text(d->main_surface, 1), "ab");
    EXPECT_FALSE(d->main_surface.preedit);

    const auto before = text_input_log().size();
    c->text_input_done(1);  // answers our one commit so far
    sync();
    EXPECT_EQ(messages(), (std::vector<std::string>{"1:a\u00e9"}));
    EXPECT_EQ(zem::field_text(d->main_surface, 1), "a\u00e9");
    EXPECT_EQ(d->main_surface.kept.carets.at(1), 3u);
    ASSERT_TRUE(d->main_surface.preedit);
    EXPECT_EQ(d->main_surface.preedit->text, "x");
    // The new state goes back to the input method.
    auto log = text_input_log();
    EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(before), log.end()),
              (std::vector<std::string>{"zwp_text_input_v3.set_surrounding_text(a\u00e9,3,3)",
                                        "zwp_text_input_v3.commit()"}));
}

TEST_F(TextInput, AStaleDoneIsAppliedButNotAnswered) {
    add_field(1, "");
    d->set_focus(main, 1);
    sync();
    const auto before = text_input_log().size();
    c->text_input_commit_string("k");
    c->text_input_done(7);
    sync();
    EXPECT_EQ(messages(), (std::vector<std::string>{"1:k"}));
    EXPECT_EQ(text_input_log().size(), before);
}

TEST_F(TextInput, EachNewFieldIsEnabledAgainWithItsContent) {
    add_field(1, "abc");
    add_field(2, "secret", /*password=*/true);
    add_field(3, "xy");
    d->set_focus(main, 1);
    d->set_focus(main, 2);
    d->set_focus(main, 3);
    d->set_focus(main, std::nullopt);
    sync();
    EXPECT_EQ(c->matching("zwp_text_input_manager_v3.get_text_input").size(), 1u);
    EXPECT_EQ(text_input_log(), (std::vector<std::string>{
                                    "zwp_text_input_v3.enable()",
                                    "zwp_text_input_v3.set_surrounding_text(abc,3,3)",
                                    "zwp_text_input_v3.set_content_type(0,0)",
                                    "zwp_text_input_v3.commit()",
                                    // A password never reaches the input method.
                                    "zwp_text_input_v3.enable()",
                                    "zwp_text_input_v3.set_surrounding_text(,0,0)",
                                    "zwp_text_input_v3.set_content_type(192,8)",
                                    "zwp_text_input_v3.commit()",
                                    "zwp_text_input_v3.enable()",
                                    "zwp_text_input_v3.set_surrounding_text(xy,2,2)",
                                    "zwp_text_input_v3.set_content_type(0,0)",
                                    "zwp_text_input_v3.commit()",
                                    // Kept for the next field: only a focus
                                    // change tells a new object where it is.
                                    "zwp_text_input_v3.disable()",
                                    "zwp_text_input_v3.commit()",
                                }));
}

// The object exists before any field has focus (a compositor names the
// keyboard's surface to it only when that focus changes) and outlives each
// field: focus enables and disables the one object.
TEST_F(TextInput, OneObjectFromStartUpIsEnabledAndDisabledByFocus) {
    zem::text_input_start(*d);
    sync();
    EXPECT_EQ(c->matching("zwp_text_input_manager_v3.get_text_input").size(), 1u);
    EXPECT_TRUE(text_input_log().empty());
    add_field(1, "abc");
    d->set_focus(main, 1);
    d->set_focus(main, std::nullopt);
    d->set_focus(main, 1);
    sync();
    EXPECT_EQ(c->matching("zwp_text_input_manager_v3.get_text_input").size(), 1u);
    EXPECT_EQ(text_input_log(), (std::vector<std::string>{
                                    "zwp_text_input_v3.enable()",
                                    "zwp_text_input_v3.set_surrounding_text(abc,3,3)",
                                    "zwp_text_input_v3.set_content_type(0,0)",
                                    "zwp_text_input_v3.commit()",
                                    "zwp_text_input_v3.disable()",
                                    "zwp_text_input_v3.commit()",
                                    "zwp_text_input_v3.enable()",
                                    "zwp_text_input_v3.set_surrounding_text(abc,3,3)",
                                    "zwp_text_input_v3.set_content_type(0,0)",
                                    "zwp_text_input_v3.commit()",
                                }));
}

TEST_F(TextInput, DeletingASelectionReportsTheFinalText) {
    add_field(1, "abcd");
    d->set_focus(main, 1);
    d->main_surface.kept.carets[1] = 3;
    d->main_surface.kept.anchors[1] = 1;
    sync();
    c->text_input_delete(0, 0);
    c->text_input_done(1);
    sync();
    EXPECT_EQ(messages(), (std::vector<std::string>{"1:ad"}));
}

TEST_F(TextInput, PasswordFieldsRefuseControlCharactersFromTheInputMethod) {
    add_field(1, "pw", /*password=*/true);
    d->set_focus(main, 1);
    sync();
    c->text_input_commit_string("a\nb");
    c->text_input_done(1);
    sync();
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(zem::field_text(d->main_surface, 1), "pw");
}

}  // namespace

namespace {

struct Clipboard : TextInput {
    void SetUp() override {
        TextInput::SetUp();
        // A test writing into a pipe the shell gave up on must see EPIPE.
        std::signal(SIGPIPE, SIG_IGN);
    }
    // Runs the reactor until `done` holds or a real-time deadline passes.
    template <class P>
    bool pump(P done) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            wl_display_flush(display);
            if (!reactor->dispatch(std::chrono::milliseconds(5))) return false;
        }
        return true;
    }
    // Reads `fd` to its end while the reactor runs; what came.
    std::string drain(int fd) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        std::string got;
        bool eof = false;
        pump([&] {
            char buf[65536];
            ssize_t n;
            while ((n = ::read(fd, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
            eof = n == 0;
            return eof;
        });
        close(fd);
        EXPECT_TRUE(eof);
        return got;
    }
    void write_all(int fd, const std::string& s) {
        for (std::size_t off = 0; off < s.size();) {
            ssize_t n = ::write(fd, s.data() + off, s.size() - off);
            if (n <= 0) break;
            off += static_cast<std::size_t>(n);
        }
    }
    // A selection whose text the compositor's side writes; the write end of
    // the client's receive.
    int announce(std::vector<std::string> mimes = {"text/plain", "text/plain;charset=utf-8"}) {
        sync();  // the compositor knows our data device
        c->new_selection(mimes);
        sync();
        return c->take_received(std::chrono::seconds(5));
    }
};

TEST_F(Clipboard, KeyboardCopyOffersTheTextWithTheKeysSerial) {
    add_field(1, "abc");
    d->set_focus(main, 1);
    d->key_serial = 4242;
    d->input_serial = 7;
    d->ctrl = true;
    d->text_key(main, zem::KeyStroke{XKB_KEY_a, 0, 0, "a"});
    d->text_key(main, zem::KeyStroke{XKB_KEY_c, 0, 0, "c"});
    sync();
    EXPECT_EQ(c->matching("wl_data_source.offer"),
              (std::vector<std::string>{"wl_data_source.offer(text/plain;charset=utf-8)",
                                        "wl_data_source.offer(text/plain)", "wl_data_source.offer(UTF8_STRING)"}));
    EXPECT_EQ(c->matching("wl_data_device.set_selection"),
              (std::vector<std::string>{"wl_data_device.set_selection(wl_data_source,4242)"}));
}

TEST_F(Clipboard, SendingNeverBlocksAndServesWhatWasCopied) {
    const std::string big(1 << 20, 'x');  // far beyond a pipe's buffer
    d->clipboard_text = big;
    zem::offer_clipboard_text(*d, 1);
    sync();
    d->clipboard_text = "changed later";
    int fd = c->request_send("text/plain;charset=utf-8");
    ASSERT_GE(fd, 0);
    sync();  // a blocking write would hang here: nobody reads yet
    EXPECT_EQ(drain(fd), big);
}

TEST_F(Clipboard, AReaderThatNeverReadsIsDroppedAfterTheTimeOut) {
    d->clipboard_text = std::string(1 << 20, 'y');
    zem::offer_clipboard_text(*d, 1);
    sync();
    int fd = c->request_send("text/plain");
    ASSERT_GE(fd, 0);
    sync();
    now += std::chrono::seconds(11);
    ASSERT_TRUE(reactor->dispatch(std::chrono::milliseconds(0)));
    // The pipe holds what fitted, then its end: our side let go.
    std::string got = drain(fd);
    EXPECT_LT(got.size(), std::size_t(1) << 20);
}

TEST_F(Clipboard, SelectionReadsKeepThePreviousTextUnlessTheNewOneIsWhole) {
    int fd = announce();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(c->matching("wl_data_offer.receive"),
              (std::vector<std::string>{"wl_data_offer.receive(text/plain;charset=utf-8,fd)"}));
    write_all(fd, "hello");
    close(fd);
    ASSERT_TRUE(pump([&] { return d->clipboard_text == "hello"; }));

    // Invalid UTF-8: the previous text stays.
    fd = announce();
    write_all(fd, "bad \xff");
    close(fd);
    ASSERT_TRUE(pump([&] { return !zem::clipboard_read_pending(*d); }));
    EXPECT_EQ(d->clipboard_text, "hello");

    // A writer that never finishes is abandoned after the time-out.
    fd = announce();
    write_all(fd, "partial");
    // Data counts as progress: the time-out runs from the last of it.
    ASSERT_TRUE(pump([&] {
        now += std::chrono::seconds(3);
        return !zem::clipboard_read_pending(*d);
    }));
    EXPECT_FALSE(zem::clipboard_read_pending(*d));
    EXPECT_EQ(d->clipboard_text, "hello");
    close(fd);

    // Only the current selection's text counts: a slow first writer that
    // finishes after the second changes nothing.
    int first = announce();
    int second = announce();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    write_all(second, "two");
    close(second);
    ASSERT_TRUE(pump([&] { return d->clipboard_text == "two"; }));
    write_all(first, "one");
    close(first);
    ASSERT_TRUE(pump([&] { return !zem::clipboard_read_pending(*d); }));
    EXPECT_EQ(d->clipboard_text, "two");
}

TEST_F(Clipboard, TextsOverTheLimitAreRefusedWhole) {
    d->clipboard_text = "kept";
    int fd = announce();
    ASSERT_GE(fd, 0);
    std::thread writer([this, fd] {
        write_all(fd, std::string(16777217, 'z'));
        close(fd);
    });
    ASSERT_TRUE(pump([&] { return !zem::clipboard_read_pending(*d); }));
    writer.join();
    EXPECT_TRUE(d->clipboard_text == "kept") << d->clipboard_text.size() << " bytes";

    fd = announce();
    std::thread exact([this, fd] {
        write_all(fd, std::string(16777216, 'a'));
        close(fd);
    });
    ASSERT_TRUE(pump([&] { return !zem::clipboard_read_pending(*d); }));
    exact.join();
    EXPECT_EQ(d->clipboard_text.size(), 16777216u);
}

TEST_F(Clipboard, DroppedTextIsAcceptedReadAndDiscarded) {
    wl_surface* surface = wl_compositor_create_surface(d->compositor);
    sync();
    d->clipboard_text = "kept";
    const uint32_t serial = c->drag_enter({"text/plain", "text/plain;charset=utf-8", "image/png"});
    sync();
    EXPECT_EQ(c->matching("wl_data_offer.accept"),
              (std::vector<std::string>{"wl_data_offer.accept(" + std::to_string(serial) +
                                        ",text/plain;charset=utf-8)"}));
    EXPECT_EQ(c->matching("wl_data_offer.set_actions"),
              (std::vector<std::string>{"wl_data_offer.set_actions(1,1)"}));
    c->drag_drop();
    sync();
    EXPECT_EQ(c->matching("wl_data_offer.receive"),
              (std::vector<std::string>{"wl_data_offer.receive(text/plain;charset=utf-8,fd)"}));
    EXPECT_EQ(c->matching("wl_data_offer.finish").size(), 1u);
    int fd = c->take_received(std::chrono::seconds(5));
    ASSERT_GE(fd, 0);
    write_all(fd, "dropped");
    // Our copy of the write end is gone, so closing this one ends the read.
    close(fd);
    ASSERT_TRUE(pump([&] { return reactor->next_deadline() == std::nullopt; }));
    EXPECT_EQ(d->clipboard_text, "kept");
    EXPECT_TRUE(d->messages.empty());
    wl_surface_destroy(surface);
}

}  // namespace

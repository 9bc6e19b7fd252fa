// The input method against the scripted compositor: the shell's own
// text-input handling on a connection of the test's making (no loop).
#include "support/scripted_compositor.hpp"

#include <zem/shell/app.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/text_fields.hpp>

#include <gtest/gtest.h>
#include <text-input-unstable-v3-client-protocol.h>
#include <wayland-client.h>

#include <cstring>
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
    if (std::strcmp(iface, "wl_seat") == 0)
        d.seats.push_back(zem::Seat{name, static_cast<wl_seat*>(wl_registry_bind(reg, name, &wl_seat_interface, 1)), 0});
    else if (std::strcmp(iface, "zwp_text_input_manager_v3") == 0)
        d.text_input_manager = static_cast<zwp_text_input_manager_v3*>(
            wl_registry_bind(reg, name, &zwp_text_input_manager_v3_interface, 1));
}
void on_global_remove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {on_global, on_global_remove};

struct TextInput : testing::Test {
    std::unique_ptr<ScriptedCompositor> c;
    wl_display* display = nullptr;
    std::unique_ptr<AppData> d;
    const SurfaceKey main = SurfaceKey::main();

    void SetUp() override {
        ScriptedOptions o;
        o.seat = true;
        o.text_input_version = 1;
        auto started = ScriptedCompositor::start(o);
        ASSERT_TRUE(started) << started.error();
        c = std::move(*started);
        display = wl_display_connect(c->socket().c_str());
        ASSERT_NE(display, nullptr);
        d = std::make_unique<AppData>(std::make_unique<zem::AppAdapter<NoApp>>(NoApp{}));
        d->display = display;
        d->registry = wl_display_get_registry(display);
        wl_registry_add_listener(d->registry, &kRegistry, d.get());
        ASSERT_GE(wl_display_roundtrip(display), 0);
        ASSERT_NE(d->text_input_manager, nullptr);
        ASSERT_EQ(d->seats.size(), 1u);
    }
    void TearDown() override {
        if (d) {
            if (d->text_input_manager) zwp_text_input_manager_v3_destroy(d->text_input_manager);
            for (auto& s : d->seats) wl_seat_destroy(s.seat);
            wl_registry_destroy(d->registry);
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
    EXPECT_FALSE(d->preedit);

    const auto before = text_input_log().size();
    c->text_input_done(1);  // answers our one commit so far
    sync();
    EXPECT_EQ(messages(), (std::vector<std::string>{"1:a\u00e9"}));
    EXPECT_EQ(zem::field_text(d->main_surface, 1), "a\u00e9");
    EXPECT_EQ(d->main_surface.kept.carets.at(1), 3u);
    ASSERT_TRUE(d->preedit);
    EXPECT_EQ(d->preedit->text, "x");
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
                                    "zwp_text_input_v3.disable()",
                                    "zwp_text_input_v3.commit()",
                                    "zwp_text_input_v3.destroy()",
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

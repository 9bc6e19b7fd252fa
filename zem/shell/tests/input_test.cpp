// The shell's input side without a compositor: listener slots, window
// overlay sizes, keymaps from layout names, and the key handling of one
// surface driven with a clock of our own.
#include <zem/shell/app_data.hpp>
#include <zem/shell/input_internal.hpp>
#include <zem/shell/keyboard.hpp>
#include <zem/widgets/stack.hpp>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace zem {
namespace {

using namespace std::chrono_literals;

// libwayland calls each event of the bound version through the listener's
// slot of that number; a listener shorter than the interface (or with a
// null slot) aborts the client the first time the compositor sends it.
TEST(Listeners, EverySlotOfTheInterfaceIsThere) {
    auto table = listener_table();
    ASSERT_FALSE(table.empty());
    for (const ListenerSlots& row : table) {
        EXPECT_EQ(row.slots, std::size_t(row.interface->event_count)) << row.name;
        EXPECT_EQ(row.filled, row.slots) << row.name;
    }
}

TEST(Listeners, ShortListenerIsCaught) {
    struct Two {
        void (*a)();
        void (*b)();
    } two{[] {}, nullptr};
    ListenerSlots row = listener_slots("two", &wl_surface_interface, two);
    EXPECT_EQ(row.slots, 2u);
    EXPECT_EQ(row.filled, 1u);
}

TEST(WindowOverlay, SizeIsLogicalWithADefault) {
    struct {
        int32_t pending_w, pending_h;
        uint32_t declared_w, declared_h;
        std::pair<uint32_t, uint32_t> size;
    } rows[] = {
        {0, 0, 0, 0, {480, 320}},
        {0, 0, 300, 200, {300, 200}},
        {640, 480, 300, 200, {640, 480}},
        {0, 0, 0, 200, {480, 200}},
        {500, 0, 0, 0, {500, 320}},
    };
    for (auto& r : rows)
        EXPECT_EQ(window_overlay_size(r.pending_w, r.pending_h, r.declared_w, r.declared_h), r.size)
            << r.declared_w << "x" << r.declared_h;
}

// Layout names as a user picks them; the keycodes are evdev's.
TEST(Keymaps, LayoutsFromNames) {
    setenv("LC_ALL", "en_US.UTF-8", 1);
    struct {
        const char* layout;
        uint32_t code;
        const char* text;
    } rows[] = {
        {"us", KEY_Z, "z"}, {"us", KEY_Q, "q"}, {"de", KEY_Z, "y"}, {"de", KEY_Y, "z"},
        {"de", KEY_SEMICOLON, "ö"}, {"fr", KEY_Q, "a"}, {"fr", KEY_A, "q"}, {"fr", KEY_2, "é"},
    };
    for (auto& r : rows) {
        KeyTranslator t;
        ASSERT_TRUE(t.load_names(r.layout)) << r.layout;
        KeyStroke s = t.translate(r.code, 0, true);
        EXPECT_EQ(s.text, std::optional<std::string>(r.text)) << r.layout << " " << r.code;
        EXPECT_EQ(t.translate(r.code, 0, false).text, std::nullopt) << "releases carry no text";
    }
}

TEST(Keymaps, FrenchDeadCircumflexComposes) {
    setenv("LC_ALL", "en_US.UTF-8", 1);
    KeyTranslator t;
    ASSERT_TRUE(t.load_names("fr"));
    KeyStroke dead = t.translate(KEY_LEFTBRACE, 0, true);
    EXPECT_EQ(dead.keysym, uint32_t(XKB_KEY_dead_circumflex));
    EXPECT_EQ(dead.text, std::nullopt);
    EXPECT_EQ(t.translate(KEY_E, 0, true).text, std::optional<std::string>("ê"));
    EXPECT_EQ(t.translate(KEY_E, 0, true).text, std::optional<std::string>("e"));
}

TEST(Keymaps, ShiftTabIsIsoLeftTab) {
    for (const char* layout : {"us", "de", "fr"}) {
        KeyTranslator t;
        ASSERT_TRUE(t.load_names(layout));
        EXPECT_EQ(t.keysym(KEY_TAB), uint32_t(XKB_KEY_Tab));
        t.set_modifiers(t.mask(XKB_MOD_NAME_SHIFT), 0, 0, 0);
        EXPECT_TRUE(t.active(XKB_MOD_NAME_SHIFT));
        EXPECT_EQ(t.keysym(KEY_TAB), uint32_t(XKB_KEY_ISO_Left_Tab)) << layout;
        t.forget_modifiers();
        EXPECT_FALSE(t.active(XKB_MOD_NAME_SHIFT));
    }
}

// The compositor sends its keymap whole, so a system without the keyboard
// descriptions (no xkb-data: a minimal installed image) must still type.
TEST(Keymaps, TheCompositorsKeymapNeedsNoDescriptionsOnDisk) {
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    ASSERT_NE(ctx, nullptr);
    xkb_rule_names names{"evdev", "pc105", "us", nullptr, nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    ASSERT_NE(keymap, nullptr);
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    xkb_keymap_unref(keymap);
    xkb_context_unref(ctx);
    ASSERT_NE(text, nullptr);

    // Every place xkbcommon looks for descriptions points nowhere.
    const std::vector<std::string> vars = {"XKB_CONFIG_ROOT", "XKB_CONFIG_EXTRA_PATH", "HOME", "XDG_CONFIG_HOME"};
    std::vector<std::optional<std::string>> saved;
    for (const auto& v : vars) {
        const char* old = std::getenv(v.c_str());
        saved.push_back(old ? std::optional<std::string>(old) : std::nullopt);
        setenv(v.c_str(), "/nonexistent/zem-no-xkb", 1);
    }
    {
        KeyTranslator t;
        EXPECT_TRUE(t.load_text(text));
        EXPECT_TRUE(t.ready());
        EXPECT_EQ(t.keysym(KEY_TAB), uint32_t(XKB_KEY_Tab));
        EXPECT_EQ(t.translate(KEY_A, 0, true).text, std::optional<std::string>("a"));
        EXPECT_FALSE(t.load_names("us")) << "names need the descriptions";
    }
    for (std::size_t i = 0; i < vars.size(); ++i) {
        if (saved[i]) setenv(vars[i].c_str(), saved[i]->c_str(), 1);
        else unsetenv(vars[i].c_str());
    }
    std::free(text);
}

struct NullApp {
    using Msg = int;
    std::string app_id() { return "org.example.Keys"; }
    std::vector<int> poll() { return {}; }
    void update(int) {}
    Element view() { return Element{}; }
    bool is_animating() { return false; }
};

HitRegion button(LayoutId id, int message) {
    HitRegion r;
    r.id = id;
    r.rect = {float(id) * 100, 0, 80, 40};
    r.focusable = true;
    HitAction::Press p;
    p.on_press = Message(message);
    r.action.value = std::move(p);
    return r;
}

// One surface with three buttons, a keyboard clock of our own, and the
// reactor that runs key repeat.
struct KeyFixture : ::testing::Test {
    event_loop::Instant t = event_loop::Instant(100s);
    std::unique_ptr<event_loop::Reactor> reactor;
    AppData d{std::make_unique<AppAdapter<NullApp>>(NullApp{})};

    void SetUp() override {
        auto r = event_loop::Reactor::create([this] { return t; });
        ASSERT_TRUE(r) << r.error();
        reactor = std::move(*r);
        d.reactor = reactor.get();
        d.main_surface.regions = {button(1, 10), button(2, 20), button(3, 30)};
    }
    void TearDown() override { d.reactor = nullptr; }

    KeyStroke key(uint32_t keysym) { return KeyStroke{keysym, 0, 0, std::nullopt}; }
    void advance(std::chrono::milliseconds ms) {
        t += ms;
        ASSERT_TRUE(reactor->dispatch(0ms));
    }
    std::vector<int> queued() {
        std::vector<int> out;
        for (auto& m : d.messages) out.push_back(*m.get<int>());
        d.messages.clear();
        return out;
    }
};

TEST_F(KeyFixture, TabCyclesAndShiftTabGoesBack) {
    std::vector<std::optional<LayoutId>> seen;
    for (int i = 0; i < 4; ++i) {
        d.press_key(key(XKB_KEY_Tab));
        d.release_key(key(XKB_KEY_Tab));
        seen.push_back(d.main_surface.focus);
    }
    EXPECT_EQ(seen, (std::vector<std::optional<LayoutId>>{1, 2, 3, 1}));
    d.press_key(key(XKB_KEY_ISO_Left_Tab));
    EXPECT_EQ(d.main_surface.focus, std::optional<LayoutId>(3));
    d.shift = true;
    d.press_key(key(XKB_KEY_Tab));
    EXPECT_EQ(d.main_surface.focus, std::optional<LayoutId>(2));
    // Tab never repeats.
    advance(2000ms);
    EXPECT_EQ(d.main_surface.focus, std::optional<LayoutId>(2));
}

TEST_F(KeyFixture, ReturnActivatesFocusThenHover) {
    d.main_surface.hover = 3;
    d.press_key(key(XKB_KEY_Return));
    d.press_key(key(XKB_KEY_KP_Enter));
    d.main_surface.focus = 2;
    d.press_key(key(XKB_KEY_Return));
    d.press_key(key(XKB_KEY_space));
    EXPECT_EQ(queued(), (std::vector<int>{30, 30, 20, 20}));
}

TEST_F(KeyFixture, RepeatFollowsRateAndDelay) {
    d.repeat = keys::RepeatInfo{25, 600};
    d.main_surface.focus = 1;
    d.press_key(key(XKB_KEY_Return));
    EXPECT_EQ(queued().size(), 1u);
    advance(599ms);
    EXPECT_EQ(queued().size(), 0u);
    advance(1ms);
    EXPECT_EQ(queued().size(), 1u);
    advance(39ms);
    EXPECT_EQ(queued().size(), 0u);
    advance(1ms);
    EXPECT_EQ(queued().size(), 1u);
    d.release_key(key(XKB_KEY_Return));
    advance(1000ms);
    EXPECT_EQ(queued().size(), 0u);
}

TEST_F(KeyFixture, RateZeroMeansNoRepeat) {
    d.repeat = keys::RepeatInfo{0, 0};
    d.main_surface.focus = 1;
    d.press_key(key(XKB_KEY_Return));
    EXPECT_FALSE(d.key_repeat.has_value());
    advance(5000ms);
    EXPECT_EQ(queued().size(), 1u);
}

TEST_F(KeyFixture, LosingTheKeyboardStopsRepeatAndModifiers) {
    d.main_surface.focus = 1;
    d.ctrl = d.shift = true;
    d.press_key(key(XKB_KEY_Return));
    ASSERT_TRUE(d.key_repeat.has_value());
    d.keyboard_lost();
    EXPECT_FALSE(d.key_repeat.has_value());
    EXPECT_FALSE(d.ctrl);
    EXPECT_FALSE(d.shift);
    advance(5000ms);
    EXPECT_EQ(queued().size(), 1u);
}

TEST_F(KeyFixture, EscapeDismissesBeforeItEnds) {
    // An open menu closes first.
    d.main_surface.context_menu = ContextMenu{};
    d.press_key(key(XKB_KEY_Escape));
    EXPECT_FALSE(d.main_surface.context_menu.has_value());
    EXPECT_FALSE(d.exit);
    // A region that handles Escape gets it.
    HitRegion g;
    g.id = 9;
    HitAction::Press p;
    p.on_escape = Message(99);
    g.action.value = std::move(p);
    d.main_surface.regions.push_back(std::move(g));
    d.press_key(key(XKB_KEY_Escape));
    EXPECT_EQ(queued(), (std::vector<int>{99}));
    EXPECT_FALSE(d.exit);
    // Nothing left: the loop is asked to end; the process goes on.
    d.main_surface.regions.pop_back();
    d.main_surface.focus = 2;
    d.press_key(key(XKB_KEY_Escape));
    EXPECT_TRUE(d.exit);
    EXPECT_FALSE(d.main_surface.focus.has_value());
    EXPECT_FALSE(d.key_repeat.has_value());
}

TEST_F(KeyFixture, LongPressFiresOnceAtHalfASecond) {
    HitRegion l;
    l.id = 7;
    l.rect = {0, 100, 100, 40};
    HitAction::Press p;
    p.on_long_press = Message(70);
    l.action.value = std::move(p);
    d.main_surface.regions.push_back(std::move(l));
    EXPECT_EQ(d.long_press_timeout(), std::nullopt);
    d.main_surface.gesture.hit_test(d.main_surface.regions, {}, 50, 120, t);
    EXPECT_EQ(d.long_press_timeout(), std::optional<event_loop::Duration>(500ms));
    t += 499ms;
    d.fire_long_press();
    EXPECT_EQ(queued(), std::vector<int>{});
    EXPECT_EQ(d.long_press_timeout(), std::optional<event_loop::Duration>(1ms));
    t += 1ms;
    d.fire_long_press();
    EXPECT_EQ(queued(), std::vector<int>{70});
    EXPECT_EQ(d.long_press_timeout(), std::nullopt);
    t += 400ms;
    d.fire_long_press();
    EXPECT_EQ(queued(), std::vector<int>{});
}

// A drag that begins on an overlay which the application then removes (a
// sheet that closes as its handle is dragged away): the main surface
// carries the drag on, the next moves still move it, and the release ends
// it everywhere. Both ways a drag starts: pointer travel past 24 px, and a
// finger held for the long press.
TEST_F(KeyFixture, DragOutlivesTheOverlayItBeganOn) {
    for (bool pointer : {true, false}) {
        SCOPED_TRACE(pointer ? "pointer" : "touch");
        const OverlayId sheet = 5;
        const SurfaceKey ov = SurfaceKey::overlay(sheet);
        d.main_surface.size = {800, 600};
        d.main_surface.gesture = {};
        d.main_surface.primary_touch.reset();
        SurfaceState& o = d.overlay_surfaces[sheet];
        o.size = {400, 300};
        HitRegion handle = button(1, 10);
        handle.rect = {0, 0, 80, 40};
        HitAction::Press grip;
        grip.on_drag = Message(11);
        handle.action.value = std::move(grip);
        o.regions = {std::move(handle)};
        if (pointer) {
            d.pointer_focus = ov;
            input_press(d, ov, 10, 10, true);
            d.pointer_position = {40, 10};  // 30 px of travel
            pointer_moved(d, ov);
        } else {
            d.touches[3] = ov;
            o.primary_touch = 3;
            input_press(d, ov, 10, 10, false);
            t += 500ms;
            d.fire_long_press();
        }
        ASSERT_TRUE(d.overlay_surfaces.at(sheet).gesture.drag_active);
        queued();

        d.remove_overlay(sheet);
        EXPECT_TRUE(d.main_surface.gesture.drag_active);
        EXPECT_EQ(d.main_surface.gesture.press_origin, (std::pair<float, float>{10, 10}));
        EXPECT_EQ(d.main_surface.primary_touch, pointer ? std::nullopt : std::optional<int32_t>(3));
        if (pointer) {
            EXPECT_EQ(d.pointer_focus, SurfaceKey::main());
        } else {
            EXPECT_EQ(d.touches.at(3), SurfaceKey::main());
        }

        // A move on the main surface is a drag move: the view is rebuilt.
        d.view_dirty = false;
        if (pointer) {
            d.pointer_position = {200, 200};
            pointer_moved(d, SurfaceKey::main());
        } else {
            input_move(d, SurfaceKey::main(), 200, 200);
        }
        EXPECT_TRUE(d.view_dirty);
        input_release(d, SurfaceKey::main(), 200, 200);
        EXPECT_FALSE(d.main_surface.gesture.drag_active);
        EXPECT_EQ(queued(), std::vector<int>{});

        // Over: plain moves afterwards rebuild nothing.
        d.view_dirty = false;
        d.pointer_position = {300, 300};
        pointer_moved(d, SurfaceKey::main());
        EXPECT_FALSE(d.view_dirty);
        d.touches.clear();
        d.main_surface.primary_touch.reset();
    }
}

// SipHash-1-3 with a zero key is what CPython 3.11 hashes bytes with when
// PYTHONHASHSEED=0; this value came from hash(b"zem-tooltip\xff") there.
TEST(Tooltip, OverlayIdIsTheLowHalfOfItsNamesHash) {
    const unsigned char bytes[] = {'z', 'e', 'm', '-', 't', 'o', 'o', 'l', 't', 'i', 'p', 0xff};
    EXPECT_EQ(siphash13(bytes, sizeof bytes), 0x3cbe27402090bb06ULL);
    EXPECT_EQ(tooltip_overlay_id(), OverlayId(0x2090bb06u));
}

TEST_F(KeyFixture, TooltipShowsAfterTheRestAboveItsWidget) {
    d.main_surface.size = {800, 600};
    HitRegion r = button(1, 10);
    r.rect = {100, 100, 80, 40};
    r.tooltip = "Hi";
    d.hover_tooltip(SurfaceKey::main(), &r);
    EXPECT_EQ(d.tooltip_timeout(), std::optional<event_loop::Duration>(600ms));
    d.hover_tooltip(SurfaceKey::main(), &r);  // resting on it keeps the deadline
    t += 599ms;
    d.show_due_tooltip();
    EXPECT_FALSE(d.tooltip_overlay().has_value());
    t += 1ms;
    d.show_due_tooltip();
    auto decl = d.tooltip_overlay();
    ASSERT_TRUE(decl.has_value());
    EXPECT_EQ(decl->id, tooltip_overlay_id());
    EXPECT_EQ(decl->kind, OverlayKind::LayerOverlay);
    ASSERT_TRUE(decl->input_region.has_value());
    EXPECT_TRUE(decl->input_region->empty());
    const Stack* stack = decl->element.as<Stack>();
    ASSERT_NE(stack, nullptr);
    ASSERT_EQ(stack->children.size(), 1u);
    // 40 px wide (the minimum), 28 high, centred over the widget, 6 px above.
    EXPECT_EQ(stack->children[0].placement, std::optional<Rect>(Rect{120, 66, 40, 28}));
    // Leaving for empty space hides it.
    d.overlays_dirty = false;
    d.hover_tooltip(SurfaceKey::main(), nullptr);
    EXPECT_FALSE(d.tooltip_overlay().has_value());
    EXPECT_TRUE(d.overlays_dirty);
}

TEST_F(KeyFixture, TooltipNearTheTopGoesBelow) {
    d.main_surface.size = {800, 600};
    HitRegion r = button(1, 10);
    r.rect = {0, 10, 80, 40};
    r.tooltip = "A longer tooltip text";
    d.hover_tooltip(SurfaceKey::main(), &r);
    t += 600ms;
    d.show_due_tooltip();
    auto decl = d.tooltip_overlay();
    ASSERT_TRUE(decl.has_value());
    const Rect p = *decl->element.as<Stack>()->children[0].placement;
    EXPECT_FLOAT_EQ(p.w, 24 + 7.5f * 21);
    EXPECT_FLOAT_EQ(p.x, 4);          // kept on screen
    EXPECT_FLOAT_EQ(p.y, 10 + 40 + 6);  // below the widget
}

}  // namespace
}  // namespace zem

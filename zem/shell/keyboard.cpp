// The keyboard: keymap and compose through xkbcommon, key repeat on the
// loop's timers, and what each key does to the focused surface.
#include <zem/input/keys.hpp>
#include <zem/input/regions.hpp>
#include <zem/shell/accessibility.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/input_internal.hpp>
#include <zem/shell/keyboard.hpp>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace zem {

struct XkbKeyboard {
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    xkb_compose_table* compose_table = nullptr;
    xkb_compose_state* compose = nullptr;
    wl_surface* focused = nullptr;

    ~XkbKeyboard() {
        xkb_compose_state_unref(compose);
        xkb_compose_table_unref(compose_table);
        xkb_state_unref(state);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }
};

namespace {

void destroy_xkb(XkbKeyboard* k) { delete k; }

AppData& D(void* data) { return *static_cast<AppData*>(data); }

const char* compose_locale() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char* v = std::getenv(name); v && *v) return v;
    return "C";
}

}  // namespace

KeyTranslator::KeyTranslator() : xkb_(new XkbKeyboard, destroy_xkb) {
    xkb_->context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    // xkbcommon refuses a context when no directory of keyboard descriptions
    // exists (a system without xkb-data). The compositor's keymap comes whole
    // and needs none of them, so the keyboard must not be lost for that:
    // only keymaps built from layout names do without.
    if (!xkb_->context) xkb_->context = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    if (xkb_->context) {
        xkb_->compose_table =
            xkb_compose_table_new_from_locale(xkb_->context, compose_locale(), XKB_COMPOSE_COMPILE_NO_FLAGS);
        if (xkb_->compose_table)
            xkb_->compose = xkb_compose_state_new(xkb_->compose_table, XKB_COMPOSE_STATE_NO_FLAGS);
    }
}

bool KeyTranslator::use_keymap(xkb_keymap* keymap) {
    if (!keymap) return false;
    xkb_state* state = xkb_state_new(keymap);
    if (!state) {
        xkb_keymap_unref(keymap);
        return false;
    }
    xkb_state_unref(xkb_->state);
    xkb_keymap_unref(xkb_->keymap);
    xkb_->keymap = keymap;
    xkb_->state = state;
    return true;
}

bool KeyTranslator::load_text(const char* text) {
    if (!xkb_->context) return false;
    return use_keymap(xkb_keymap_new_from_string(xkb_->context, text, XKB_KEYMAP_FORMAT_TEXT_V1,
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS));
}

bool KeyTranslator::load_names(const char* layout, const char* variant) {
    if (!xkb_->context) return false;
    xkb_rule_names names{"evdev", "pc105", layout, variant, nullptr};
    return use_keymap(xkb_keymap_new_from_names(xkb_->context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

bool KeyTranslator::ready() const { return xkb_->state != nullptr; }

uint32_t KeyTranslator::keysym(uint32_t raw) const {
    return xkb_->state ? xkb_state_key_get_one_sym(xkb_->state, raw + 8) : 0;
}

void KeyTranslator::set_modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
    if (xkb_->state) xkb_state_update_mask(xkb_->state, depressed, latched, locked, 0, 0, group);
}

bool KeyTranslator::active(const char* modifier) const {
    return xkb_->state && xkb_state_mod_name_is_active(xkb_->state, modifier, XKB_STATE_MODS_EFFECTIVE) > 0;
}

uint32_t KeyTranslator::mask(const char* modifier) const {
    if (!xkb_->keymap) return 0;
    xkb_mod_index_t i = xkb_keymap_mod_get_index(xkb_->keymap, modifier);
    return i == XKB_MOD_INVALID ? 0 : (1u << i);
}

void KeyTranslator::forget_modifiers() {
    if (xkb_->state) xkb_state_update_mask(xkb_->state, 0, 0, 0, 0, 0, 0);
    if (xkb_->compose) xkb_compose_state_reset(xkb_->compose);
}

KeyStroke KeyTranslator::translate(uint32_t raw, uint32_t time, bool pressed) {
    KeyStroke s;
    s.raw_code = raw;
    s.time = time;
    if (!xkb_->state) return s;
    s.keysym = xkb_state_key_get_one_sym(xkb_->state, raw + 8);
    if (!pressed) return s;
    auto plain = [&]() -> std::optional<std::string> {
        char buf[64];
        int n = xkb_state_key_get_utf8(xkb_->state, raw + 8, buf, sizeof buf);
        if (n <= 0 || size_t(n) >= sizeof buf) return std::nullopt;
        return std::string(buf, size_t(n));
    };
    if (!xkb_->compose) {
        s.text = plain();
        return s;
    }
    if (xkb_compose_state_feed(xkb_->compose, s.keysym) == XKB_COMPOSE_FEED_IGNORED) return s;
    switch (xkb_compose_state_get_status(xkb_->compose)) {
    case XKB_COMPOSE_COMPOSED: {
        char buf[64];
        int n = xkb_compose_state_get_utf8(xkb_->compose, buf, sizeof buf);
        if (n > 0 && size_t(n) < sizeof buf) s.text = std::string(buf, size_t(n));
        xkb_compose_state_reset(xkb_->compose);
        break;
    }
    case XKB_COMPOSE_CANCELLED: xkb_compose_state_reset(xkb_->compose); break;
    case XKB_COMPOSE_COMPOSING: break;
    case XKB_COMPOSE_NOTHING: s.text = plain(); break;
    }
    return s;
}

namespace {

KeyTranslator& translator(AppData& d) {
    if (!d.key_translator) d.key_translator = std::make_unique<KeyTranslator>();
    return *d.key_translator;
}

void keyboard_keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    AppData& d = D(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            // The text may or may not end in a NUL inside `size`.
            std::string text(static_cast<const char*>(map), strnlen(static_cast<const char*>(map), size));
            munmap(map, size);
            // A keymap that does not compile leaves the previous one in use.
            (void)translator(d).load_text(text.c_str());
        }
    }
    close(fd);
}
void keyboard_enter(void* data, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) {
    AppData& d = D(data);
    if (!translator(d).ready()) return;
    auto key = surface ? d.surface_key_of(surface) : std::nullopt;
    d.keyboard_focus = key.value_or(SurfaceKey::main());
    d.keyboard_surface = surface;
    SurfaceState& s = d.surface_mut(d.keyboard_focus);
    s.redraw = s.relayout = true;
    a11y_update_focus(d, true);
}
void keyboard_leave(void* data, wl_keyboard*, uint32_t, wl_surface*) {
    AppData& d = D(data);
    d.keyboard_surface = nullptr;
    d.stop_key_repeat();
    d.keyboard_focus = SurfaceKey::main();
    a11y_update_focus(d, false);
}
void keyboard_key(void* data, wl_keyboard*, uint32_t serial, uint32_t time, uint32_t key, uint32_t state) {
    AppData& d = D(data);
    if (!d.keyboard_surface || !translator(d).ready()) return;
    d.key_serial = serial;
    bool pressed = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    KeyStroke s = translator(d).translate(key, time, pressed);
    if (pressed) d.press_key(s);
    else d.release_key(s);
}
void keyboard_modifiers(void* data, wl_keyboard*, uint32_t, uint32_t dep, uint32_t lat, uint32_t lock,
                        uint32_t group) {
    AppData& d = D(data);
    KeyTranslator& t = translator(d);
    t.set_modifiers(dep, lat, lock, group);
    d.ctrl = t.active(XKB_MOD_NAME_CTRL);
    d.shift = t.active(XKB_MOD_NAME_SHIFT);
}
void keyboard_repeat(void* data, wl_keyboard*, int32_t rate, int32_t delay) {
    AppData& d = D(data);
    // Rate 0 switches repeat off until the compositor says otherwise.
    if (rate <= 0) d.stop_key_repeat();
    d.repeat = keys::RepeatInfo{std::max(rate, 0), rate <= 0 ? 0 : delay};
}
const wl_keyboard_listener kKeyboardListener = {keyboard_keymap, keyboard_enter,     keyboard_leave,
                                                keyboard_key,    keyboard_modifiers, keyboard_repeat};

}  // namespace

void attach_keyboard_listener(AppData& d, wl_keyboard* k) {
    wl_keyboard_add_listener(k, &kKeyboardListener, &d);
    // Before version 4 nobody tells us the repeat rate.
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(k)) < 4) d.repeat = keys::RepeatInfo{200, 200};
}

std::vector<ListenerSlots> keyboard_listener_table() {
    return {listener_slots("wl_keyboard", &wl_keyboard_interface, kKeyboardListener)};
}

void AppData::stop_key_repeat() {
    if (key_repeat && reactor) reactor->remove_timer(key_repeat->timer);
    key_repeat.reset();
}

void AppData::keyboard_lost() {
    // A held key must not go on repeating, nor a held Ctrl turn the next
    // letter into a shortcut.
    stop_key_repeat();
    shift = ctrl = false;
    if (key_translator) key_translator->forget_modifiers();
    keyboard_surface = nullptr;
}

void AppData::press_key(const KeyStroke& stroke) {
    SurfaceKey k = keyboard_focus;
    stop_key_repeat();
    handle_key(k, stroke);
    if (keys::never_repeats(stroke.keysym) || exit || !reactor) return;
    auto timing = keys::repeat_timing(repeat);
    if (!timing) return;
    auto first = event_loop::checked_add(reactor->now(), timing->delay);
    if (!first) return;
    auto interval = timing->interval;
    event_loop::TimerId id = reactor->add_timer(*first, [this, k, stroke, interval](event_loop::Instant) {
        // The surface the key went to is gone: the repeat ends with it.
        if (!k.is_main() && !overlay_surfaces.count(k.id)) {
            key_repeat.reset();
            return event_loop::TimerNext{};
        }
        handle_key(k, stroke);
        return event_loop::checked_add(reactor->now(), interval);
    });
    key_repeat = KeyRepeat{stroke, id};
}

void AppData::release_key(const KeyStroke& stroke) {
    if (key_repeat && key_repeat->stroke.keysym == stroke.keysym) stop_key_repeat();
}

void AppData::handle_key(SurfaceKey k, const KeyStroke& stroke) {
    if (!k.is_main() && !overlay_surfaces.count(k.id)) return;
    SurfaceState& s = surface_mut(k);
    auto field = [&]() -> const HitAction::TextEdit* {
        const HitRegion* r = s.focus ? region_with_id(s.regions, *s.focus) : nullptr;
        return r ? r->action.as<HitAction::TextEdit>() : nullptr;
    };
    switch (stroke.keysym) {
    case keys::kTab:
    case keys::kIsoLeftTab: {
        bool backward = stroke.keysym == keys::kIsoLeftTab || shift;
        if (auto next = keys::focus_step(collect_focusable(s.regions), s.focus, backward)) set_focus(k, *next);
        break;
    }
    case keys::kReturn:
    case keys::kKpEnter: {
        if (const auto* f = field(); f && f->multiline) {
            insert_text(k, "\n");
            break;
        }
        auto target = s.focus ? s.focus : s.hover;
        const HitRegion* r = target ? region_with_id(s.regions, *target) : nullptr;
        if (!r) break;
        if (const auto* t = r->action.as<HitAction::TextEdit>()) {
            if (t->on_submit) messages.push_back(*t->on_submit);
        } else if (auto m = hit_message(r->action)) {
            messages.push_back(std::move(*m));
        }
        break;
    }
    case keys::kSpace: {
        if (!s.focus) break;
        const HitRegion* r = region_with_id(s.regions, *s.focus);
        if (auto m = r ? hit_message(r->action) : std::nullopt) messages.push_back(std::move(*m));
        else insert_text(k, " ");
        break;
    }
    case keys::kEscape: {
        if (s.context_menu) {
            s.context_menu.reset();
            break;
        }
        if (s.focus) {
            auto c = s.kept.carets.find(*s.focus), a = s.kept.anchors.find(*s.focus);
            if (c != s.kept.carets.end() && a != s.kept.anchors.end() && c->second != a->second) {
                a->second = c->second;
                break;
            }
        }
        for (auto it = s.regions.rbegin(); it != s.regions.rend(); ++it)
            if (const auto* p = it->action.as<HitAction::Press>(); p && p->on_escape) {
                messages.push_back(*p->on_escape);
                s.redraw = s.relayout = true;
                return;
            }
        // Nothing left to dismiss: leave the loop the way a window close
        // does, so the application's state is torn down in order (a
        // running job is not cut off by a bare process exit).
        set_focus(k, std::nullopt);
        exit = true;
        return;
    }
    case keys::kUp:
    case keys::kDown: {
        if (field() && text_key(k, stroke)) break;
        // The innermost list under the keyboard moves its highlight.
        for (auto it = s.scroll_regions.rbegin(); it != s.scroll_regions.rend(); ++it) {
            auto items = s.kept.list_items.find(it->id);
            if (items == s.kept.list_items.end() || items->second.empty()) continue;
            auto next = keys::list_highlight_step(items->second, s.hover, stroke.keysym == keys::kDown);
            if (!next) break;
            const ListItemSpan& item = items->second[*next];
            auto& off = s.kept.scroll_offsets[it->id];
            off.second = keys::scroll_into_view(item.top, item.height, it->rect.h, off.second);
            s.hover = item.id;
            break;
        }
        break;
    }
    default:
        // Caret moves, deletion, shortcuts and typing belong to the fields.
        (void)text_key(k, stroke);
        break;
    }
    s.redraw = s.relayout = true;
}

}  // namespace zem

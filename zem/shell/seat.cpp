// Seats and their pointer and touch devices.
//
// Each seat remembers the capabilities it last announced, so a device that
// goes away is noticed (and one of a second seat is created at all). Device
// objects get their listeners where they are made: a proxy without one
// makes libwayland abort on its first event.
#include <zem/input/cursor.hpp>
#include <zem/input/regions.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/draw_frame.hpp>
#include <zem/shell/input_internal.hpp>
#include <zem/shell/wayland_internal.hpp>

#include <wayland-client.h>
#include <cursor-shape-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <cmath>
#include <cstdio>
#include <linux/input-event-codes.h>

namespace zem {

namespace {

AppData& D(void* data) { return *static_cast<AppData*>(data); }

// Pointer and touch events on a window overlay's surface are not ours to
// handle; any other surface we do not know counts as the main one.
std::optional<SurfaceKey> input_key(AppData& d, wl_surface* s) {
    auto key = s ? d.surface_key_of(s) : std::nullopt;
    if (!key) return SurfaceKey::main();
    if (!key->is_main())
        if (auto it = d.overlay_surfaces.find(key->id); it != d.overlay_surfaces.end() && it->second.role.window())
            return std::nullopt;
    return key;
}

bool known(AppData& d, SurfaceKey key) {
    return key.is_main() || (key.kind == SurfaceKey::Overlay && d.overlay_surfaces.count(key.id) > 0);
}

GestureConfig config_of(const SurfaceState& s) {
    GestureConfig c;
    c.width_px = float(s.size[0]) * float(s.effective_scale());
    c.height_px = float(s.size[1]) * float(s.effective_scale());
    return c;
}

bool any_drag(AppData& d) {
    if (d.main_surface.gesture.drag_active) return true;
    for (auto& [id, st] : d.overlay_surfaces)
        if (st.gesture.drag_active) return true;
    return false;
}

void redraw_fully(SurfaceState& s) { s.redraw = s.relayout = true; }

void apply_motion(AppData& d, SurfaceKey key, MotionOutcome o) {
    SurfaceState& s = d.surface_mut(key);
    std::visit(
        [&](auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, motion::DragMove>) {
                d.view_dirty = d.overlays_dirty = true;
                redraw_fully(s);
                redraw_fully(d.main_surface);
                for (auto& [id, st] : d.overlay_surfaces) redraw_fully(st);
            } else if constexpr (std::is_same_v<V, motion::SliderMoved>) {
                if (v.message) d.messages.push_back(std::move(*v.message));
                redraw_fully(s);
            } else if constexpr (std::is_same_v<V, motion::Scrolled>) {
                redraw_fully(s);
            } else if constexpr (std::is_same_v<V, motion::Pull>) {
                d.overlays_dirty = true;
                for (auto& [id, st] : d.overlay_surfaces) redraw_fully(st);
            } else if constexpr (std::is_same_v<V, motion::EdgeSwipe>) {
                if (v.horizontal) {
                    d.view_dirty = true;
                    if (key.is_main()) redraw_fully(d.main_surface);
                }
                d.overlays_dirty = true;
                for (auto& [id, st] : d.overlay_surfaces) redraw_fully(st);
            }
        },
        o);
}

void apply_release(AppData& d, SurfaceKey key, std::vector<GestureOutcome> outcomes) {
    auto all_full = [&](bool overlays) {
        d.view_dirty = d.overlays_dirty = true;
        redraw_fully(d.main_surface);
        d.main_surface.frame_pending = false;
        if (overlays)
            for (auto& [id, st] : d.overlay_surfaces) {
                redraw_fully(st);
                st.frame_pending = false;
            }
    };
    for (auto& o : outcomes) {
        std::visit(
            [&](auto& v) {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<V, gesture::DragEnd>) {
                    auto calm = [](SurfaceState& st) {
                        st.gesture.disarm_long_press();
                        st.gesture.drag_active = st.gesture.pointer_press = false;
                    };
                    calm(d.main_surface);
                    for (auto& [id, st] : d.overlay_surfaces) calm(st);
                    all_full(true);
                } else if constexpr (std::is_same_v<V, gesture::SwipeLeft> || std::is_same_v<V, gesture::SwipeRight> ||
                                     std::is_same_v<V, gesture::HorizontalSwipeCancel>) {
                    all_full(false);
                } else if constexpr (std::is_same_v<V, gesture::SwipeUp> || std::is_same_v<V, gesture::SwipeDown> ||
                                     std::is_same_v<V, gesture::PullRelease>) {
                    all_full(true);
                } else if constexpr (std::is_same_v<V, gesture::VerticalSwipeCancel>) {
                    d.view_dirty = d.overlays_dirty = true;
                } else if constexpr (std::is_same_v<V, gesture::Tap>) {
                    d.messages.push_back(std::move(v.message));
                } else if constexpr (std::is_same_v<V, gesture::TapOutside>) {
                    if (!key.is_main())
                        if (auto m = d.widget_message(key.id)) d.messages.push_back(std::move(*m));
                }
            },
            o);
    }
}

}  // namespace

// A press (left button or first finger) at p in buffer pixels.
void input_press(AppData& d, SurfaceKey key, float x, float y, bool pointer) {
    SurfaceState& s = d.surface_mut(key);
    auto hit = s.gesture.hit_test(s.regions, s.scroll_regions, x, y, d.reactor ? d.reactor->now() : InputInstant{});
    s.gesture.pointer_press = pointer;
    s.pressed = s.gesture.pressed;
    s.redraw = true;
    d.set_focus(key, hit.hit ? std::optional<LayoutId>(hit.id) : std::nullopt);
    if (hit.slider_message) d.messages.push_back(std::move(*hit.slider_message));
    // What the press itself does, before any release.
    const HitRegion* r = hit.hit ? region_with_id(s.regions, hit.id) : nullptr;
    InputInstant now = d.reactor ? d.reactor->now() : InputInstant{};
    if (const auto* p = r ? r->action.as<HitAction::Press>() : nullptr; p && p->auto_repeat) {
        if (auto m = hit_message(r->action)) {
            d.messages.push_back(std::move(*m));
            d.arm_button_repeat(key, hit.id);
        }
    } else if (r && r->action.as<HitAction::TextEdit>()) {
        if (d.clicks.register_click(now, x, y)) d.select_word_at(key, hit.id, x, y);
        else d.place_caret_at(key, hit.id, x, y);
    } else {
        (void)d.clicks.register_click(now, x, y);
    }
}

void input_move(AppData& d, SurfaceKey key, float x, float y) {
    SurfaceState& s = d.surface_mut(key);
    bool forced = any_drag(d);
    apply_motion(d, key, s.gesture.update(s.regions, s.kept.scroll_offsets, config_of(s), forced, x, y));
    // A press that went down in a field drags its selection: the anchor
    // stays where the press put it, the caret follows the finger or pointer.
    SurfaceState& now = d.surface_mut(key);
    if (now.gesture.pressed)
        if (const HitRegion* r = region_with_id(now.regions, *now.gesture.pressed);
            r && r->action.as<HitAction::TextEdit>())
            d.extend_selection_to(key, r->id, x, y);
}

void input_release(AppData& d, SurfaceKey key, float x, float y) {
    SurfaceState& s = d.surface_mut(key);
    bool forced = any_drag(d);
    s.redraw = true;
    auto outcomes = s.gesture.finish(s.regions, config_of(s), forced, x, y);
    s.pressed = s.gesture.pressed;
    apply_release(d, key, std::move(outcomes));
    d.stop_button_repeat();
}

namespace {

// --- pointer --------------------------------------------------------------------

std::pair<float, float> to_buffer(const SurfaceState& s, wl_fixed_t x, wl_fixed_t y) {
    float k = float(s.effective_scale());
    return {float(wl_fixed_to_double(x)) * k, float(wl_fixed_to_double(y)) * k};
}

void pointer_enter(void* data, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    AppData& d = D(data);
    auto key = input_key(d, surface);
    if (!key) {
        // Over a window overlay: its events are not ours, and must not land
        // on the surface the pointer came from.
        d.pointer_focus = SurfaceKey{SurfaceKey::None, 0};
        return;
    }
    d.pointer_focus = *key;
    d.pointer_serial = serial;
    d.pointer_position = to_buffer(d.surface(*key), x, y);
    // A new entry has no cursor of ours yet, whatever we sent before.
    d.cursor_shape = cursor::kNoShapeSent;
    d.refresh_cursor_shape(*key);
}
void pointer_leave(void*, wl_pointer*, uint32_t, wl_surface*) {}
void pointer_motion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    AppData& d = D(data);
    SurfaceKey key = d.pointer_focus;
    if (!known(d, key)) return;
    d.pointer_position = to_buffer(d.surface(key), x, y);
    pointer_moved(d, key);
}
}  // namespace

void pointer_moved(AppData& d, SurfaceKey key) {
    SurfaceState& s = d.surface_mut(key);
    auto [px, py] = d.pointer_position;
    const HitRegion* under = region_under(s.regions, px, py);
    std::optional<LayoutId> hover = under ? std::optional<LayoutId>(under->id) : std::nullopt;
    if (hover != s.hover) {
        auto not_slider = [&](std::optional<LayoutId> id) {
            const HitRegion* r = id ? region_with_id(s.regions, *id) : nullptr;
            return r && !r->action.as<HitAction::Slider>();
        };
        if (not_slider(s.hover) || not_slider(hover)) s.redraw = true;
        s.hover = hover;
    }
    d.hover_tooltip(key, under);
    // Dragging a widget that offers it starts past 24 px, without waiting
    // for the long press.
    GestureRecognizer& g = s.gesture;
    if (g.long_press_armed && g.drag_message &&
        std::hypot(px - g.press_origin.first, py - g.press_origin.second) > 24.0f) {
        Message drag = std::move(*g.drag_message);
        g.disarm_long_press();
        g.drag_active = true;
        s.redraw = s.relayout = true;
        d.app->update(std::move(drag));
        d.view_dirty = d.overlays_dirty = true;
        d.stop_button_repeat();
    }
    // A drag that started elsewhere (or on an overlay that has gone since)
    // moves with the pointer here too.
    if (g.tracking || g.slider_drag || any_drag(d)) input_move(d, key, px, py);
    d.refresh_cursor_shape(key);
}

namespace {
void pointer_button(void* data, wl_pointer*, uint32_t serial, uint32_t, uint32_t button, uint32_t state) {
    AppData& d = D(data);
    SurfaceKey key = d.pointer_focus;
    if (!known(d, key)) return;
    SurfaceState& s = d.surface_mut(key);
    auto [x, y] = d.pointer_position;
    if (button == BTN_RIGHT && state == WL_POINTER_BUTTON_STATE_PRESSED) {
        // The secondary button stands in for a long press.
        const HitRegion* r = region_under(s.regions, x, y);
        if (const auto* p = r ? r->action.as<HitAction::Press>() : nullptr; p && p->on_long_press) {
            d.messages.push_back(*p->on_long_press);
            s.redraw = s.relayout = true;
        } else if (r && r->action.as<HitAction::TextEdit>()) {
            if (s.focus != r->id) d.set_focus(key, r->id);
            d.open_context_menu(key, r->id, x, y);
        } else if (s.context_menu) {
            s.context_menu.reset();
            s.redraw = s.relayout = true;
        }
        return;
    }
    if (button != BTN_LEFT) return;
    if (state == WL_POINTER_BUTTON_STATE_PRESSED) {
        d.input_serial = serial;
        d.drop_tooltips();
        float k = float(s.effective_scale());
        // Our own window frame: the title band and the border around it.
        WindowRole* w = key.is_main() && !d.seats.empty() && s.top_inset > 0 ? s.role.window() : nullptr;
        uint32_t edge = w ? cursor::resize_edge(x, y, float(s.size[0]) * k, float(s.size[1]) * k, 6 * k) : 0;
        if (s.top_inset * k > 0 && y < s.top_inset * k) {
            if (contains(s.close_button_rect, x, y)) {
                d.exit = true;
                return;
            }
            if (w && s.close_button_rect.w > 0 && contains(title_bar_neighbour(s.close_button_rect, 1), x, y)) {
                if (s.maximized) xdg_toplevel_unset_maximized(w->toplevel);
                else xdg_toplevel_set_maximized(w->toplevel);
                return;
            }
            if (w && s.close_button_rect.w > 0 && contains(title_bar_neighbour(s.close_button_rect, 2), x, y)) {
                xdg_toplevel_set_minimized(w->toplevel);
                return;
            }
            if (w && edge) xdg_toplevel_resize(w->toplevel, d.seats.front().seat, serial, edge);
            else if (w) xdg_toplevel_move(w->toplevel, d.seats.front().seat, serial);
            return;
        }
        if (w && edge) {
            xdg_toplevel_resize(w->toplevel, d.seats.front().seat, serial, edge);
            return;
        }
        input_press(d, key, x, y, true);
    } else {
        input_release(d, key, x, y);
    }
    d.refresh_cursor_shape(key);
}
void pointer_axis(void* data, wl_pointer*, uint32_t, uint32_t axis, wl_fixed_t value) {
    AppData& d = D(data);
    SurfaceKey key = d.pointer_focus;
    if (!known(d, key)) return;
    SurfaceState& s = d.surface_mut(key);
    auto [x, y] = d.pointer_position;
    auto areas = areas_under(s.scroll_regions, x, y);
    redraw_fully(s);
    if (areas.empty()) {
        d.view_dirty = d.overlays_dirty = true;
        return;
    }
    // A wheel step is ten pixels; touchpads and the rest give pixels.
    float factor = d.axis_source == WL_POINTER_AXIS_SOURCE_WHEEL ? 10.0f : 1.0f;
    float v = float(wl_fixed_to_double(value)) * factor;
    auto& off = s.kept.scroll_offsets[areas.front().id];
    bool horizontal = axis == WL_POINTER_AXIS_HORIZONTAL_SCROLL;
    switch (areas.front().axis) {
    case ScrollAxis::Both:
        (horizontal ? off.first : off.second) = std::max((horizontal ? off.first : off.second) + v, 0.0f);
        break;
    case ScrollAxis::Horizontal: off.first = std::max(off.first + v, 0.0f); break;
    case ScrollAxis::Vertical:
        if (!horizontal) off.second = std::max(off.second + v, 0.0f);
        break;
    }
}
void pointer_frame(void* data, wl_pointer*) { D(data).axis_source.reset(); }
void pointer_axis_source(void* data, wl_pointer*, uint32_t source) { D(data).axis_source = source; }
void pointer_axis_stop(void*, wl_pointer*, uint32_t, uint32_t) {}
void pointer_axis_discrete(void*, wl_pointer*, uint32_t, int32_t) {}
void pointer_axis_value120(void*, wl_pointer*, uint32_t, int32_t) {}
const wl_pointer_listener kPointerListener = {pointer_enter,       pointer_leave,        pointer_motion,
                                              pointer_button,      pointer_axis,         pointer_frame,
                                              pointer_axis_source, pointer_axis_stop,    pointer_axis_discrete,
                                              pointer_axis_value120};

// --- touch -----------------------------------------------------------------------

void touch_down(void* data, wl_touch*, uint32_t serial, uint32_t, wl_surface* surface, int32_t id, wl_fixed_t x,
                wl_fixed_t y) {
    AppData& d = D(data);
    d.input_serial = serial;
    auto key = input_key(d, surface);
    if (!key) return;
    d.touches[id] = *key;
    SurfaceState& s = d.surface_mut(*key);
    auto [px, py] = to_buffer(s, x, y);
    if (s.primary_touch == id) return;
    if (s.primary_touch) {
        s.secondary_touches[id] = {px, py};
        return;
    }
    s.primary_touch = id;
    input_press(d, *key, px, py, false);
}
void touch_up(void* data, wl_touch*, uint32_t, uint32_t, int32_t id) {
    AppData& d = D(data);
    auto it = d.touches.find(id);
    SurfaceKey key = it != d.touches.end() ? it->second : SurfaceKey::main();
    if (it != d.touches.end()) d.touches.erase(it);
    if (!known(d, key)) return;
    SurfaceState& s = d.surface_mut(key);
    if (s.primary_touch == id) {
        s.primary_touch.reset();
        input_release(d, key, s.gesture.last_point.first, s.gesture.last_point.second);
    } else {
        s.secondary_touches.erase(id);
    }
}
void touch_motion(void* data, wl_touch*, uint32_t, int32_t id, wl_fixed_t x, wl_fixed_t y) {
    AppData& d = D(data);
    auto it = d.touches.find(id);
    SurfaceKey key = it != d.touches.end() ? it->second : SurfaceKey::main();
    if (!known(d, key)) return;
    SurfaceState& s = d.surface_mut(key);
    auto [px, py] = to_buffer(s, x, y);
    if (s.primary_touch != id) {
        s.secondary_touches[id] = {px, py};
        return;
    }
    input_move(d, key, px, py);
}
void touch_frame(void*, wl_touch*) {}
void touch_cancel(void* data, wl_touch*) { D(data).cancel_touch(); }
void touch_shape(void*, wl_touch*, int32_t, wl_fixed_t, wl_fixed_t) {}
void touch_orientation(void*, wl_touch*, int32_t, wl_fixed_t) {}
const wl_touch_listener kTouchListener = {touch_down,   touch_up,    touch_motion,     touch_frame,
                                          touch_cancel, touch_shape, touch_orientation};

// --- seat -------------------------------------------------------------------------

void new_capability(AppData& d, wl_seat* seat, uint32_t cap) {
    if (cap == WL_SEAT_CAPABILITY_KEYBOARD && d.keyboard == nullptr) {
        d.keyboard = wl_seat_get_keyboard(seat);
        if (d.keyboard) attach_keyboard_listener(d, d.keyboard);
    } else if (cap == WL_SEAT_CAPABILITY_POINTER && d.pointer == nullptr) {
        d.pointer = wl_seat_get_pointer(seat);
        if (!d.pointer) return;
        wl_pointer_add_listener(d.pointer, &kPointerListener, &d);
        if (d.cursor_shape_manager) {
            if (d.cursor_shape_device) wp_cursor_shape_device_v1_destroy(d.cursor_shape_device);
            d.cursor_shape_device = wp_cursor_shape_manager_v1_get_pointer(d.cursor_shape_manager, d.pointer);
            d.cursor_shape = cursor::kNoShapeSent;
        }
    } else if (cap == WL_SEAT_CAPABILITY_TOUCH && d.touch == nullptr) {
        if (d.cancel_touch())
            std::fputs("[zem] touch capability re-added — cleared touch state stranded across the gap\n", stderr);
        d.touch = wl_seat_get_touch(seat);
        if (d.touch) wl_touch_add_listener(d.touch, &kTouchListener, &d);
    }
}

// A device that went away. Only our proxy goes: no release request is sent.
void lost_capability(AppData& d, uint32_t cap) {
    if (cap == WL_SEAT_CAPABILITY_KEYBOARD && d.keyboard) {
        wl_keyboard_destroy(d.keyboard);
        d.keyboard = nullptr;
        d.keyboard_lost();
    } else if (cap == WL_SEAT_CAPABILITY_POINTER && d.pointer) {
        if (d.cursor_shape_device) wp_cursor_shape_device_v1_destroy(d.cursor_shape_device);
        d.cursor_shape_device = nullptr;
        wl_pointer_destroy(d.pointer);
        d.pointer = nullptr;
    } else if (cap == WL_SEAT_CAPABILITY_TOUCH && d.touch) {
        wl_touch_destroy(d.touch);
        d.touch = nullptr;
        if (d.cancel_touch())
            std::fputs("[zem] touch capability removed mid-gesture — reset stale touch state\n", stderr);
    }
}

void seat_capabilities(void* data, wl_seat* seat, uint32_t caps) {
    AppData& d = D(data);
    Seat* rec = nullptr;
    for (Seat& s : d.seats)
        if (s.seat == seat) rec = &s;
    if (!rec) return;
    uint32_t changed = caps ^ rec->capabilities;
    rec->capabilities = caps;
    for (uint32_t cap : {WL_SEAT_CAPABILITY_KEYBOARD, WL_SEAT_CAPABILITY_POINTER, WL_SEAT_CAPABILITY_TOUCH}) {
        if (!(changed & cap)) continue;
        if (caps & cap) new_capability(d, seat, cap);
        else lost_capability(d, cap);
    }
}
void seat_name(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {seat_capabilities, seat_name};

}  // namespace

void add_seat(AppData& d, uint32_t name, uint32_t version) {
    auto* s = static_cast<wl_seat*>(
        wl_registry_bind(d.registry, name, &wl_seat_interface,
                         std::min<uint32_t>({version, 7u, uint32_t(wl_seat_interface.version)})));
    wl_seat_add_listener(s, &kSeatListener, &d);
    d.seats.push_back(Seat{name, s, 0});
}

void AppData::refresh_cursor_shape(SurfaceKey key) {
    if (!cursor_shape_device || !known(*this, key)) return;
    const SurfaceState& s = surface(key);
    uint32_t shape = cursor::kDefault;
    if (s.hover)
        if (const HitRegion* r = region_with_id(s.regions, *s.hover)) shape = cursor::protocol_value(r->cursor);
    if (s.gesture.slider_drag) shape = cursor::kGrabbing;
    if (const WindowRole* w = const_cast<SurfaceState&>(s).role.window(); w && key.is_main() && s.top_inset > 0) {
        float k = float(s.effective_scale());
        if (uint32_t edge = cursor::edge_shape(pointer_position.first, pointer_position.second,
                                               float(s.size[0]) * k, float(s.size[1]) * k, 6 * k);
            edge != cursor::kNoShapeSent)
            shape = edge;
    }
    if (shape == cursor_shape) return;
    wp_cursor_shape_device_v1_set_shape(cursor_shape_device, pointer_serial, shape);
    cursor_shape = shape;
}

bool AppData::cancel_touch() {
    bool live = !touches.empty();
    auto reset = [&](SurfaceState& s) {
        live = live || s.primary_touch || !s.secondary_touches.empty();
        s.secondary_touches.clear();
        s.primary_touch.reset();
        s.gesture.reset();
        if (s.pressed) {
            s.pressed.reset();
            s.redraw = true;
        }
    };
    reset(main_surface);
    for (auto& [id, st] : overlay_surfaces) reset(st);
    touches.clear();
    stop_button_repeat();
    return live;
}

std::vector<ListenerSlots> input_listener_table() {
    return {
        listener_slots("wl_seat", &wl_seat_interface, kSeatListener),
        listener_slots("wl_pointer", &wl_pointer_interface, kPointerListener),
        listener_slots("wl_touch", &wl_touch_interface, kTouchListener),
    };
}

}  // namespace zem

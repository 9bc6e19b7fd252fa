// Wayland listeners: registry, outputs, seats, surfaces and their roles.
#include <zem/shell/app_data.hpp>
#include <zem/shell/wayland_internal.hpp>

#include <wayland-client.h>
#include <cursor-shape-v1-client-protocol.h>
#include <ext-foreign-toplevel-list-v1-client-protocol.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-decoration-unstable-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <algorithm>
#include <unistd.h>

namespace zem {

uint32_t proxy_version(const void* proxy) {
    return wl_proxy_get_version(reinterpret_cast<wl_proxy*>(const_cast<void*>(proxy)));
}

namespace {

AppData& D(void* data) { return *static_cast<AppData*>(data); }

// --- outputs -------------------------------------------------------------------

void output_geometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                     int32_t) {}
void output_mode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void output_done(void*, wl_output*) {}
void output_scale(void* data, wl_output* o, int32_t factor) {
    AppData& d = D(data);
    for (Output& out : d.outputs)
        if (out.output == o) out.scale = factor;
    refresh_surface_scales(d);
}
void output_name(void*, wl_output*, const char*) {}
void output_description(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {output_geometry, output_mode,  output_done,
                                            output_scale,    output_name, output_description};

// --- seats (devices are created here; their input handling is its own piece) --

void keyboard_keymap(void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) { close(fd); }
void keyboard_enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void keyboard_leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void keyboard_key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void keyboard_modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void keyboard_repeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboardListener = {keyboard_keymap, keyboard_enter,     keyboard_leave,
                                                keyboard_key,    keyboard_modifiers, keyboard_repeat};

void seat_capabilities(void* data, wl_seat* seat, uint32_t caps) {
    AppData& d = D(data);
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && d.keyboard == nullptr) {
        d.keyboard = wl_seat_get_keyboard(seat);
        if (d.keyboard) wl_keyboard_add_listener(d.keyboard, &kKeyboardListener, &d);
    }
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && d.pointer == nullptr) {
        d.pointer = wl_seat_get_pointer(seat);
        if (d.pointer && d.cursor_shape_manager) {
            if (d.cursor_shape_device) wp_cursor_shape_device_v1_destroy(d.cursor_shape_device);
            d.cursor_shape_device = wp_cursor_shape_manager_v1_get_pointer(d.cursor_shape_manager, d.pointer);
        }
    }
    if ((caps & WL_SEAT_CAPABILITY_TOUCH) && d.touch == nullptr) d.touch = wl_seat_get_touch(seat);
}
void seat_name(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {seat_capabilities, seat_name};

// --- shm, wm_base, foreign toplevels --------------------------------------------

void shm_format_event(void* data, wl_shm*, uint32_t format) { D(data).shm_formats.push_back(format); }
const wl_shm_listener kShmListener = {shm_format_event};

void wm_ping(void*, xdg_wm_base* b, uint32_t serial) { xdg_wm_base_pong(b, serial); }
const xdg_wm_base_listener kWmBaseListener = {wm_ping};

// Other clients' toplevels: read and dropped.
void handle_closed(void*, ext_foreign_toplevel_handle_v1* h) { ext_foreign_toplevel_handle_v1_destroy(h); }
void handle_done(void*, ext_foreign_toplevel_handle_v1*) {}
void handle_title(void*, ext_foreign_toplevel_handle_v1*, const char*) {}
void handle_app_id(void*, ext_foreign_toplevel_handle_v1*, const char*) {}
void handle_identifier(void*, ext_foreign_toplevel_handle_v1*, const char*) {}
const ext_foreign_toplevel_handle_v1_listener kHandleListener = {handle_closed, handle_done, handle_title,
                                                                 handle_app_id, handle_identifier};
void list_toplevel(void*, ext_foreign_toplevel_list_v1*, ext_foreign_toplevel_handle_v1* h) {
    ext_foreign_toplevel_handle_v1_add_listener(h, &kHandleListener, nullptr);
}
void list_finished(void*, ext_foreign_toplevel_list_v1*) {}
const ext_foreign_toplevel_list_v1_listener kListListener = {list_toplevel, list_finished};

// --- surfaces ---------------------------------------------------------------------

void surface_enter(void* data, wl_surface* s, wl_output* o) {
    AppData& d = D(data);
    auto key = d.surface_key_of(s);
    if (!key) return;
    auto& list = d.surface_mut(*key).entered_outputs;
    if (std::find(list.begin(), list.end(), o) == list.end()) list.push_back(o);
    refresh_surface_scales(d);
}
void surface_leave(void* data, wl_surface* s, wl_output* o) {
    AppData& d = D(data);
    auto key = d.surface_key_of(s);
    if (!key) return;
    auto& list = d.surface_mut(*key).entered_outputs;
    list.erase(std::remove(list.begin(), list.end(), o), list.end());
    refresh_surface_scales(d);
}
const wl_surface_listener kSurfaceListener = {surface_enter, surface_leave};

// --- xdg windows ----------------------------------------------------------------

std::optional<SurfaceKey> key_of_xdg(AppData& d, const xdg_surface* x) {
    if (auto* w = d.main_surface.role.window(); w && w->xdg == x) return SurfaceKey::main();
    for (auto& [id, st] : d.overlay_surfaces) {
        if (auto* w = st.role.window(); w && w->xdg == x) return SurfaceKey::overlay(id);
        if (auto* p = st.role.popup(); p && p->xdg == x) return SurfaceKey::overlay(id);
    }
    return std::nullopt;
}

WindowRole* window_of_toplevel(AppData& d, const xdg_toplevel* t, SurfaceKey* key) {
    if (auto* w = d.main_surface.role.window(); w && w->toplevel == t) {
        *key = SurfaceKey::main();
        return w;
    }
    for (auto& [id, st] : d.overlay_surfaces)
        if (auto* w = st.role.window(); w && w->toplevel == t) {
            *key = SurfaceKey::overlay(id);
            return w;
        }
    return nullptr;
}

void window_configure(AppData& d, SurfaceKey key) {
    SurfaceState& st = d.surface_mut(key);
    WindowRole* w = st.role.window();
    if (key.is_main()) {
        if (d.fullscreen_pending) {
            xdg_toplevel_set_fullscreen(w->toplevel, nullptr);
            d.fullscreen_pending = false;
        }
        float band = w->server_side ? 0.0f : st.top_inset_restore;
        if (band != st.top_inset) {
            st.top_inset = band;
            st.relayout = true;
            d.view_dirty = true;
        }
        uint32_t width = w->pending_w > 0 ? uint32_t(w->pending_w) : d.window_size ? d.window_size->first : 800;
        uint32_t height = w->pending_h > 0 ? uint32_t(w->pending_h) : d.window_size ? d.window_size->second : 600;
        xdg_surface_set_window_geometry(w->xdg, 0, 0, int32_t(width), int32_t(height));
        d.resize_main_surface(width, height);
        return;
    }
    int32_t s = st.effective_scale();
    auto fallback = [s](uint32_t declared) {
        return std::max<uint32_t>(static_cast<uint32_t>(std::lround(double(declared) / s)), 1);
    };
    uint32_t width = w->pending_w > 0 ? uint32_t(w->pending_w) : fallback(st.declared_size[0]);
    uint32_t height = w->pending_h > 0 ? uint32_t(w->pending_h) : fallback(st.declared_size[1]);
    xdg_surface_set_window_geometry(w->xdg, 0, 0, int32_t(width), int32_t(height));
    configure_surface(st, d.shm, width, height);
}

void xdg_surface_configure(void* data, xdg_surface* x, uint32_t serial) {
    AppData& d = D(data);
    xdg_surface_ack_configure(x, serial);
    auto key = key_of_xdg(d, x);
    if (!key) return;
    SurfaceState& st = d.surface_mut(*key);
    if (st.role.window()) {
        window_configure(d, *key);
    } else if (PopupRole* p = st.role.popup()) {
        configure_surface(st, d.shm, uint32_t(std::max(p->pending_w, 1)), uint32_t(std::max(p->pending_h, 1)));
    }
}
const xdg_surface_listener kXdgSurfaceListener = {xdg_surface_configure};

void toplevel_configure(void* data, xdg_toplevel* t, int32_t w, int32_t h, wl_array*) {
    SurfaceKey key;
    if (WindowRole* win = window_of_toplevel(D(data), t, &key)) {
        win->pending_w = w;
        win->pending_h = h;
    }
}
void toplevel_close(void* data, xdg_toplevel* t) {
    AppData& d = D(data);
    SurfaceKey key;
    // Closing the main window ends the run; a window overlay's close is ignored.
    if (window_of_toplevel(d, t, &key) && key.is_main()) d.exit = true;
}
void toplevel_bounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void toplevel_caps(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevelListener = {toplevel_configure, toplevel_close, toplevel_bounds, toplevel_caps};

void decoration_configure(void* data, zxdg_toplevel_decoration_v1* deco, uint32_t mode) {
    AppData& d = D(data);
    auto set = [&](SurfaceState& st) {
        if (auto* w = st.role.window(); w && w->decoration == deco)
            w->server_side = mode == ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE;
    };
    set(d.main_surface);
    for (auto& [id, st] : d.overlay_surfaces) set(st);
}
const zxdg_toplevel_decoration_v1_listener kDecorationListener = {decoration_configure};

// --- popups -------------------------------------------------------------------------

std::optional<OverlayId> overlay_of_popup(AppData& d, const xdg_popup* p) {
    for (auto& [id, st] : d.overlay_surfaces)
        if (auto* r = st.role.popup(); r && r->popup == p) return id;
    return std::nullopt;
}
void popup_configure(void* data, xdg_popup* p, int32_t, int32_t, int32_t w, int32_t h) {
    AppData& d = D(data);
    if (auto id = overlay_of_popup(d, p)) {
        PopupRole* r = d.overlay_surfaces.at(*id).role.popup();
        r->pending_w = w;
        r->pending_h = h;
    }
}
void popup_done(void* data, xdg_popup* p) {
    AppData& d = D(data);
    auto id = overlay_of_popup(d, p);
    if (!id) return;
    if (OptionalMessage m = d.widget_message(*id)) d.messages.push_back(std::move(*m));
    d.remove_overlay(*id);
}
void popup_repositioned(void*, xdg_popup*, uint32_t) {}
const xdg_popup_listener kPopupListener = {popup_configure, popup_done, popup_repositioned};

// --- layer surfaces ----------------------------------------------------------------

std::optional<SurfaceKey> key_of_layer(AppData& d, const zwlr_layer_surface_v1* l) {
    if (auto* r = d.main_surface.role.layer(); r && r->layer == l) return SurfaceKey::main();
    for (auto& [id, st] : d.overlay_surfaces)
        if (auto* r = st.role.layer(); r && r->layer == l) return SurfaceKey::overlay(id);
    return std::nullopt;
}
void layer_configure(void* data, zwlr_layer_surface_v1* l, uint32_t serial, uint32_t w, uint32_t h) {
    AppData& d = D(data);
    zwlr_layer_surface_v1_ack_configure(l, serial);
    auto key = key_of_layer(d, l);
    if (!key) return;
    w = std::max<uint32_t>(w, 1);
    h = std::max<uint32_t>(h, 1);
    if (key->is_main()) d.resize_main_surface(w, h);
    else configure_surface(d.surface_mut(*key), d.shm, w, h);
}
void layer_closed(void* data, zwlr_layer_surface_v1* l) {
    AppData& d = D(data);
    auto key = key_of_layer(d, l);
    if (!key) return;
    if (key->is_main()) d.exit = true;
    else d.remove_overlay(key->id);
}
const zwlr_layer_surface_v1_listener kLayerListener = {layer_configure, layer_closed};

}  // namespace

void attach_surface_listener(AppData& d, wl_surface* s) { wl_surface_add_listener(s, &kSurfaceListener, &d); }

void attach_window_listeners(AppData& d, WindowRole& w) {
    xdg_surface_add_listener(w.xdg, &kXdgSurfaceListener, &d);
    xdg_toplevel_add_listener(w.toplevel, &kToplevelListener, &d);
    if (w.decoration) zxdg_toplevel_decoration_v1_add_listener(w.decoration, &kDecorationListener, &d);
}

void attach_popup_listeners(AppData& d, PopupRole& p) {
    xdg_surface_add_listener(p.xdg, &kXdgSurfaceListener, &d);
    xdg_popup_add_listener(p.popup, &kPopupListener, &d);
}

void attach_layer_listeners(AppData& d, LayerRole& l) {
    zwlr_layer_surface_v1_add_listener(l.layer, &kLayerListener, &d);
}

void refresh_surface_scales(AppData& d) {
    auto scale_of = [&](const SurfaceState& st) {
        int32_t best = 0;
        for (wl_output* o : st.entered_outputs)
            for (const Output& out : d.outputs)
                if (out.output == o) best = std::max(best, out.scale);
        return best;
    };
    if (int32_t s = scale_of(d.main_surface); s > 0 && s != d.main_surface.scale)
        scale_changed(d, SurfaceKey::main(), s);
    std::vector<std::pair<OverlayId, int32_t>> changes;
    for (auto& [id, st] : d.overlay_surfaces)
        if (int32_t s = scale_of(st); s > 0 && s != st.scale) changes.emplace_back(id, s);
    for (auto [id, s] : changes) scale_changed(d, SurfaceKey::overlay(id), s);
}

// Listener installation for globals, used by start-up.
void add_output(AppData& d, uint32_t name, uint32_t version) {
    auto* o = static_cast<wl_output*>(
        wl_registry_bind(d.registry, name, &wl_output_interface, std::min<uint32_t>(version, 4)));
    wl_output_add_listener(o, &kOutputListener, &d);
    d.outputs.push_back(Output{name, o, 1});
}

void add_seat(AppData& d, uint32_t name, uint32_t version) {
    auto* s = static_cast<wl_seat*>(wl_registry_bind(d.registry, name, &wl_seat_interface,
                                                     std::min<uint32_t>(version, uint32_t(wl_seat_interface.version))));
    wl_seat_add_listener(s, &kSeatListener, &d);
    d.seats.push_back(Seat{name, s, 0});
}

void listen_shm(AppData& d) { wl_shm_add_listener(d.shm, &kShmListener, &d); }
void listen_wm_base(AppData& d) { xdg_wm_base_add_listener(d.wm_base, &kWmBaseListener, &d); }
void listen_foreign_toplevels(AppData& d) {
    ext_foreign_toplevel_list_v1_add_listener(d.foreign_toplevels, &kListListener, &d);
}

}  // namespace zem

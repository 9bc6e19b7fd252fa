#include <zem/shell/app_data.hpp>

#include <base/env.hpp>
#include <zem/access/atspi_bridge.hpp>
#include <zem/shell/accessibility.hpp>
#include <zem/shell/hooks.hpp>
#include <zem/shell/wayland_internal.hpp>

#include <wayland-client.h>
#include <xdg-activation-v1-client-protocol.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zem {

std::string RunError::text() const {
    switch (kind) {
        case Connect: return "Wayland connection failed: " + detail;
        case Registry: return "Wayland registry init failed: " + detail;
        case EventLoop: return "event-loop setup failed: " + detail;
        case MissingProtocol: return "Wayland protocol `" + interface + "` unavailable: " + detail;
    }
    return detail;
}

std::string overlay_debug(OverlayId id) { return "OverlayId(" + std::to_string(id) + ")"; }

bool perf_warnings_enabled() {
    static std::once_flag once;
    static bool enabled = false;
    std::call_once(once, [] {
        enabled = base::env_flag("ZEM_PERF_WARN");
    });
    return enabled;
}

PerfGuard PerfGuard::fresh(event_loop::Instant now) {
    PerfGuard g;
    auto first = event_loop::checked_add(now, std::chrono::milliseconds(33));
    g.last_frame = first ? *first : now;
    return g;
}

bool PerfGuard::frame_due(bool software, event_loop::Instant now) {
    using namespace std::chrono;
    if (!animation_start) animation_start = now;
    if (perf_warnings_enabled()) {
        auto running = duration_cast<seconds>(now - *animation_start).count();
        if (!animation_warned && running >= 10) {
            std::fprintf(stderr,
                         "[zem][perf] App::is_animating() has stayed true for 10s — a settled animation must "
                         "return false, or the loop redraws at the display rate forever (battery drain).\n");
            animation_warned = true;
        }
        if (software && !software_warned && running >= 3) {
            std::fprintf(stderr,
                         "[zem][perf] continuous animation on the software renderer — sustained CPU with no GPU "
                         "offload (costly on mobile). Prefer event-driven redraws, or a GLES-capable compositor.\n");
            software_warned = true;
        }
    }
    if (software && now - last_frame < milliseconds(33)) return false;
    last_frame = now;
    return true;
}

void PerfGuard::warn_poll_interval(std::chrono::nanoseconds period) {
    if (!perf_warnings_enabled() || poll_warned) return;
    if (period >= std::chrono::milliseconds(100)) return;
    std::fprintf(stderr,
                 "[zem][perf] poll_interval() of %lldms defeats the event-driven idle model — wake the loop from "
                 "your worker with set_channel_sender instead of polling.\n",
                 static_cast<long long>(period.count() / 1000000));
    poll_warned = true;
}

AppData::AppData(std::unique_ptr<AppHandle> app_handle) : app(std::move(app_handle)) {}

namespace {

// Frees our side of a Wayland object. Only at the end of a run, when the
// connection closes next and takes the compositor's side with it: no
// request is sent, so no destructor's version needs checking.
template <class T>
void drop_proxy(T*& object) {
    if (object != nullptr) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(object));
    object = nullptr;
}

}  // namespace

AppData::~AppData() {
    // Surfaces (and their Wayland objects) go before the globals they were
    // made from.
    overlay_surfaces.clear();
    // The session objects are only let go on our side: a destroy request
    // would end the session that the next start is to restore.
    drop_proxy(session.toplevel_session);
    drop_proxy(session.session);
    main_surface = SurfaceState{};
    drop_proxy(cursor_shape_device);
    drop_proxy(keyboard);
    drop_proxy(pointer);
    drop_proxy(touch);
    for (Seat& s : seats) drop_proxy(s.seat);
    for (Output& o : outputs) drop_proxy(o.output);
    drop_proxy(cursor_shape_manager);
    drop_proxy(foreign_toplevels);
    drop_proxy(xdg_activation);
    drop_proxy(data_device_manager);
    drop_proxy(text_input_manager);
    drop_proxy(decoration_manager);
    drop_proxy(wm_base);
    drop_proxy(layer_shell);
    drop_proxy(subcompositor);
    drop_proxy(shm);
    drop_proxy(compositor);
    drop_proxy(registry);
}

SurfaceState& AppData::surface_mut(SurfaceKey key) {
    if (key.is_main()) return main_surface;
    auto it = overlay_surfaces.find(key.id);
    if (it == overlay_surfaces.end()) {
        std::fprintf(stderr, "surface_mut(): overlay not registered\n");
        std::exit(101);
    }
    return it->second;
}

const SurfaceState& AppData::surface(SurfaceKey key) const {
    if (key.is_main()) return main_surface;
    auto it = overlay_surfaces.find(key.id);
    if (it == overlay_surfaces.end()) {
        std::fprintf(stderr, "surface(): overlay not registered\n");
        std::exit(101);
    }
    return it->second;
}

std::optional<SurfaceKey> AppData::surface_key_of(const wl_surface* s) const {
    if (s == nullptr) return std::nullopt;
    if (main_surface.role.wl_surface_ptr() == s) return SurfaceKey::main();
    for (const auto& [id, st] : overlay_surfaces)
        if (st.role.wl_surface_ptr() == s) return SurfaceKey::overlay(id);
    return std::nullopt;
}

void AppData::remove_overlay(OverlayId id) {
    if (auto it = overlay_surfaces.find(id); it != overlay_surfaces.end()) {
        // A drag that began on this overlay outlives it: the main surface
        // carries it on, so the finger or pointer still moves it and its
        // release still ends it (every surface's drag state goes then).
        const SurfaceState& gone = it->second;
        if (gone.gesture.drag_active) {
            main_surface.gesture.press_origin = gone.gesture.press_origin;
            main_surface.gesture.drag_active = true;
            if (!main_surface.primary_touch) main_surface.primary_touch = gone.primary_touch;
        }
        overlay_surfaces.erase(it);
    }
    SurfaceKey k = SurfaceKey::overlay(id);
    if (pending_tooltip && pending_tooltip->key == k) pending_tooltip.reset();
    if (shown_tooltip && shown_tooltip->key == k) drop_tooltips();
    if (pointer_focus == k) pointer_focus = SurfaceKey::main();
    if (keyboard_focus == k) keyboard_focus = SurfaceKey::main();
    for (auto& [touch, key] : touches)
        if (key == k) key = SurfaceKey::main();
}

void AppData::resize_main_surface(uint32_t w, uint32_t h) {
    const bool changed = configure_surface(main_surface, shm, w, h, egl);
    {
        std::uint32_t scale = static_cast<std::uint32_t>(main_surface.effective_scale());
        a11y_set_window_bounds(*this, main_surface.size[0] * scale, main_surface.size[1] * scale);
        a11y_update_focus(*this, true);
    }
    std::optional<std::string> token = std::move(activation_token);
    activation_token.reset();
    if (token && xdg_activation && main_surface.role.wl_surface_ptr())
        xdg_activation_v1_activate(xdg_activation, token->c_str(), main_surface.role.wl_surface_ptr());
    // The view and the overlays depend on the size only.
    if (!changed) return;
    uint32_t s = static_cast<uint32_t>(main_surface.effective_scale());
    uint32_t pw = main_surface.size[0] * s, ph = main_surface.size[1] * s;
    set_physical_size(pw, ph);
    app->resized(pw, ph);
    view_dirty = true;
    overlays_dirty = true;
}

OptionalMessage AppData::widget_message(OverlayId id) {
    for (OverlayDecl& o : app->overlays())
        if (o.id == id) return std::move(o.dismiss_message);
    return std::nullopt;
}

void AppData::mark_dirty() {
    view_dirty = true;
    overlays_dirty = true;
    main_surface.redraw = main_surface.relayout = true;
    for (auto& [id, st] : overlay_surfaces) st.redraw = st.relayout = true;
}

void AppData::request_frame(SurfaceKey key) {
    SurfaceState& s = surface_mut(key);
    if (wl_surface* ws = s.role.wl_surface_ptr()) s.frame_callback.request(ws, this, key);
}

std::pair<uint32_t, bool> AppData::shm_format_choice() const { return shm_format(shm_formats); }

// --- frame callbacks and scale ------------------------------------------------

void on_frame_done(AppData& d, SurfaceKey key) {
    bool animating = d.app->is_animating();
    if (!key.is_main()) {
        auto it = d.overlay_surfaces.find(key.id);
        if (it == d.overlay_surfaces.end()) return;
        it->second.frame_pending = false;
        if (animating) {
            d.overlays_dirty = true;
            it->second.redraw = it->second.relayout = true;
        }
        return;
    }
    SurfaceState& m = d.main_surface;
    m.frame_pending = false;
    if (!animating) {
        d.perf.animation_start.reset();
        d.perf.animation_warned = false;
        d.perf.software_warned = false;
        return;
    }
    if (d.perf.frame_due(software_renderer_active(), d.reactor ? d.reactor->now() : event_loop::Clock::now())) {
        d.view_dirty = true;
        m.redraw = m.relayout = true;
    } else if (wl_surface* ws = m.role.wl_surface_ptr()) {
        m.frame_callback.request(ws, &d, SurfaceKey::main());
        wl_surface_commit(ws);
        m.frame_pending = true;
    }
}

void scale_changed(AppData& d, SurfaceKey key, int32_t n) {
    if (n < 1) return;
    if (!key.is_main()) {
        auto it = d.overlay_surfaces.find(key.id);
        if (it == d.overlay_surfaces.end()) return;
        if (apply_buffer_scale(it->second, d.shm, n)) d.overlays_dirty = true;  // (tooltips dropped here)
        return;
    }
    auto changed = apply_buffer_scale(d.main_surface, d.shm, n);
    if (!changed) return;
    set_physical_size(changed->first, changed->second);
    d.app->resized(changed->first, changed->second);
    d.view_dirty = true;
    d.overlays_dirty = true;
}

void new_output(AppData& d, wl_output* o) {
    if (d.layer_shell == nullptr) return;
    if (d.main_surface.role.pending_layer()) create_pending_layer_surface(d, d.main_surface, o);
    for (auto& [id, st] : d.overlay_surfaces)
        if (st.role.pending_layer()) create_pending_layer_surface(d, st, o);
}

}  // namespace zem

// Start-up, the main loop and its ending.
#include <zem/shell/app.hpp>

#include <base/env.hpp>
#include <base/quote.hpp>
#include <base/sigpipe.hpp>
#include <base/utf8.hpp>
#include <zem/shell/accessibility.hpp>
#include <zem/shell/app_data.hpp>
#include <zem/shell/hooks.hpp>
#include <zem/shell/shm_pool.hpp>
#include <zem/shell/signals.hpp>
#include <zem/shell/text_fields.hpp>
#include <zem/shell/text_scale.hpp>
#include <zem/shell/wayland_internal.hpp>

#include <wayland-client.h>
#include <cursor-shape-v1-client-protocol.h>
#include <ext-foreign-toplevel-list-v1-client-protocol.h>
#include <text-input-unstable-v3-client-protocol.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-activation-v1-client-protocol.h>
#include <xdg-decoration-unstable-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/epoll.h>
#include <utility>

namespace zem {
namespace {

using event_loop::DispatchError;
using event_loop::Status;

// libwayland reports a protocol error through its log before the failing
// call returns; the last line is kept so the loop can quote its message.
std::mutex g_log_mutex;
std::string g_last_log;

void capture_log(const char* fmt, va_list ap) {
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    std::lock_guard lock(g_log_mutex);
    g_last_log = buf;
}

std::string last_log_message() {
    std::lock_guard lock(g_log_mutex);
    std::string s = g_last_log;
    // "iface@id: error N: message\n" → "message"
    if (auto p = s.find(": error "); p != std::string::npos)
        if (auto q = s.find(": ", p + 8); q != std::string::npos) s = s.substr(q + 2);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

DispatchError display_error(wl_display* display) {
    int e = wl_display_get_error(display);
    if (e == 0) e = errno;
    return DispatchError{e, std::strerror(e)};
}

// The Wayland connection as a reactor source, following libwayland's
// prepare_read / flush / read_events / dispatch_pending sequence.
class WaylandSource final : public event_loop::PreparedSource {
public:
    explicit WaylandSource(wl_display* d) : display_(d) {}

    std::expected<bool, DispatchError> prepare() override {
        bool dispatched = false;
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) return std::unexpected(display_error(display_));
            dispatched = true;
        }
        if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
            DispatchError e = display_error(display_);
            wl_display_cancel_read(display_);
            return std::unexpected(e);
        }
        return dispatched;
    }

    Status process(uint32_t revents) override {
        if (revents & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
            if (wl_display_read_events(display_) < 0) return std::unexpected(display_error(display_));
        } else {
            wl_display_cancel_read(display_);
        }
        if (wl_display_dispatch_pending(display_) < 0) return std::unexpected(display_error(display_));
        return {};
    }

private:
    wl_display* display_;
};

struct RegistryState {
    std::vector<Global>* globals;
    AppData* d;
};

void registry_global(void* data, wl_registry*, uint32_t name, const char* iface, uint32_t version) {
    auto* st = static_cast<RegistryState*>(data);
    st->globals->push_back(Global{name, iface, version});
    AppData* d = st->d;
    if (d == nullptr || !d->registry_ready) return;
    // Outputs and seats may come and go during the run.
    if (std::strcmp(iface, "wl_output") == 0) {
        add_output(*d, name, version);
        new_output(*d, d->outputs.back().output);
    } else if (std::strcmp(iface, "wl_seat") == 0) {
        add_seat(*d, name, version);
    }
}

void registry_remove(void* data, wl_registry*, uint32_t name) {
    auto* st = static_cast<RegistryState*>(data);
    auto& g = *st->globals;
    std::erase_if(g, [name](const Global& x) { return x.name == name; });
    if (AppData* d = st->d) {
        for (auto it = d->outputs.begin(); it != d->outputs.end(); ++it)
            if (it->name == name) {
                wl_output_destroy(it->output);
                d->outputs.erase(it);
                break;
            }
    }
}

const wl_registry_listener kRegistryListener = {registry_global, registry_remove};

const Global* find_global(const std::vector<Global>& globals, const char* iface) {
    for (const Global& g : globals)
        if (g.interface == iface) return &g;
    return nullptr;
}

// Binds `iface` at the highest version both sides know, capped at `max`.
template <class T>
T* bind(AppData& d, const wl_interface* iface, uint32_t max, uint32_t* version_out = nullptr) {
    const Global* g = find_global(d.globals, iface->name);
    if (g == nullptr) return nullptr;
    uint32_t v = std::min({g->version, max, static_cast<uint32_t>(iface->version)});
    if (version_out) *version_out = v;
    return static_cast<T*>(wl_registry_bind(d.registry, g->name, iface, v));
}

RunError missing(const char* name) {
    return RunError{RunError::MissingProtocol, "the requested global was not found in the registry", name};
}

// Reads "XDG_ACTIVATION_TOKEN"; a valid, non-empty value is taken out of
// the environment so that children do not inherit it.
std::optional<std::string> take_activation_token() {
    const char* v = std::getenv("XDG_ACTIVATION_TOKEN");
    if (v == nullptr || v[0] == '\0') return std::nullopt;
    std::string token = v;
    // Only UTF-8 text is a token.
    if (!base::utf8::is_valid(token)) return std::nullopt;
    unsetenv("XDG_ACTIVATION_TOKEN");
    return token;
}

bool drawable(const SurfaceState& s) { return s.configured && s.redraw && !s.frame_pending; }

enum class LoopEnd { Exit, Lost };

// One iteration's dispatch outcome: go on, or end (the message is written).
bool handle_dispatch_error(AppData& d, const DispatchError& e) {
    int code = e.code;
    bool lost = code == ECONNRESET || code == EPIPE || code == EPROTO;
    if (d.display && wl_display_get_error(d.display) == EPROTO) {
        const wl_interface* iface = nullptr;
        uint32_t id = 0;
        uint32_t pcode = wl_display_get_protocol_error(d.display, &iface, &id);
        std::fprintf(stderr, "zem: wayland protocol error — interface=%s object_id=%u code=%u: %s\n",
                     iface ? iface->name : "unknown", id, pcode, last_log_message().c_str());
        return true;
    }
    if (lost) {
        std::fprintf(stderr, "zem: wayland connection lost (%s); exiting\n", e.text.c_str());
        return true;
    }
    std::fprintf(stderr, "dispatch: %s\n", e.text.c_str());
    std::exit(101);
}

}  // namespace

[[noreturn]] void fail_init(const RunError& e) {
    std::fprintf(stderr, "zem::run failed during init: %s\n", e.text().c_str());
    std::exit(101);
}

std::expected<void, RunError> run_handle(std::unique_ptr<AppHandle> app_handle) {
    // A clipboard reader that closes its pipe early must fail our write with
    // EPIPE, not end the program (possibly in the middle of an install).
    base::ignore_sigpipe();
    // Taken before any thread of ours starts: the environment is not safe to
    // change while another thread may read it.
    std::optional<std::string> activation_token = take_activation_token();
    wl_log_set_handler_client(capture_log);

    // Connect to the compositor.
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return std::unexpected(RunError{RunError::Connect, std::strerror(errno), {}});
    struct DisplayGuard {
        wl_display* d;
        ~DisplayGuard() {
            ShmPool::drop_orphans();
            wl_display_disconnect(d);
        }
    } display_guard{display};

    auto data = std::make_unique<AppData>(std::move(app_handle));
    AppData& d = *data;
    d.display = display;

    // The registry, filled by one round trip.
    RegistryState reg_state{&d.globals, &d};
    d.registry = wl_display_get_registry(display);
    wl_registry_add_listener(d.registry, &kRegistryListener, &reg_state);
    if (wl_display_roundtrip(display) < 0)
        return std::unexpected(RunError{RunError::Registry, std::strerror(wl_display_get_error(display)), {}});

    // The reactor, with the Wayland connection and the signal pipe as sources.
    auto reactor = event_loop::Reactor::create();
    if (!reactor) return std::unexpected(RunError{RunError::EventLoop, "EventLoop::try_new: " + reactor.error(), {}});
    d.reactor = reactor->get();
    WaylandSource wayland_source(display);
    if (auto id = (*reactor)->add_prepared(wl_display_get_fd(display), EPOLLIN, &wayland_source); !id)
        return std::unexpected(RunError{RunError::EventLoop, "WaylandSource::insert: " + id.error(), {}});
    auto signals = SignalPipe::install(**reactor, [&d] { d.exit = true; });
    if (!signals) return std::unexpected(signals.error());

    // Bind the globals; the order matters to the objects made from them.
    d.compositor = bind<wl_compositor>(d, &wl_compositor_interface, 6, &d.compositor_version);
    if (d.compositor == nullptr) return std::unexpected(missing("wl_compositor"));
    d.shm = bind<wl_shm>(d, &wl_shm_interface, 1);
    if (d.shm == nullptr) return std::unexpected(missing("wl_shm"));
    listen_shm(d);
    d.subcompositor = bind<wl_subcompositor>(d, &wl_subcompositor_interface, 1);

    // One GLES context for the run; without it every frame is drawn in
    // software and EGL is not tried again.
    if (auto egl = EglContext::create(EglOptions{.native_display = display})) {
        d.egl = std::move(*egl);
    } else {
        announce_render_backend(egl.error());
        set_software_renderer_active(true);
    }

    d.layer_shell = bind<zwlr_layer_shell_v1>(d, &zwlr_layer_shell_v1_interface, 4, &d.layer_shell_version);

    // Window configuration, session and app id.
    std::optional<WindowConfig> config = d.app->window_config();
    // The session needs the app id: it is asked here, once.
    d.app_id = d.app->app_id();
    d.session = session_restore_setup(d.app_id, *d.app);
    bind_session_manager(d.session, d.globals, d.registry);
    if (config && config->app_id != d.app_id)
        std::fprintf(stderr, "zem: window_config app_id %s differs from App::app_id %s; App::app_id wins\n",
                     base::debug_quote(config->app_id).c_str(), base::debug_quote(d.app_id).c_str());

    // The xdg shell and the main window.
    d.wm_base = bind<xdg_wm_base>(d, &xdg_wm_base_interface, 6, &d.wm_base_version);
    if (d.wm_base == nullptr) return std::unexpected(missing("xdg_wm_base"));
    listen_wm_base(d);
    d.decoration_manager = bind<zxdg_decoration_manager_v1>(d, &zxdg_decoration_manager_v1_interface, 1);
    d.window_size = d.app->window_size();
    float band = config ? 36.0f : 0.0f;
    {
        WindowRole w;
        w.surface = wl_compositor_create_surface(d.compositor);
        attach_surface_listener(d, w.surface);
        w.xdg = xdg_wm_base_get_xdg_surface(d.wm_base, w.surface);
        w.toplevel = xdg_surface_get_toplevel(w.xdg);
        if (d.decoration_manager) {
            w.decoration = zxdg_decoration_manager_v1_get_toplevel_decoration(d.decoration_manager, w.toplevel);
            zxdg_toplevel_decoration_v1_set_mode(w.decoration, band > 0
                                                                   ? ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE
                                                                   : ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
        }
        std::string title = config ? config->title : "zem";
        xdg_toplevel_set_title(w.toplevel, title.c_str());
        xdg_toplevel_set_app_id(w.toplevel, d.app_id.c_str());
        if (d.window_size) {
            auto [ww, wh] = *d.window_size;
            xdg_toplevel_set_min_size(w.toplevel, int32_t(ww), int32_t(wh));
            xdg_toplevel_set_max_size(w.toplevel, int32_t(ww), int32_t(wh));
        } else {
            xdg_toplevel_set_fullscreen(w.toplevel, nullptr);
        }
        restore_main_toplevel(d.session, w.toplevel);
        attach_window_listeners(d, w);
        wl_surface_commit(w.surface);
        d.main_surface = create_surface_state(SurfaceRole(std::move(w)), title, band);
    }

    // Text input, data device, activation and foreign toplevels.
    d.text_input_manager = bind<zwp_text_input_manager_v3>(d, &zwp_text_input_manager_v3_interface, 1);
    d.data_device_manager = bind<wl_data_device_manager>(d, &wl_data_device_manager_interface, 3);
    // (Clipboard and drag-and-drop channels join here.)
    if (auto a11y = setup_accessibility(d, **reactor, true); !a11y)
        return std::unexpected(RunError{RunError::EventLoop, a11y.error(), {}});
    d.xdg_activation = bind<xdg_activation_v1>(d, &xdg_activation_v1_interface, 1);
    d.activation_token = std::move(activation_token);
    d.foreign_toplevels = bind<ext_foreign_toplevel_list_v1>(d, &ext_foreign_toplevel_list_v1_interface, 1);
    if (d.foreign_toplevels) listen_foreign_toplevels(d);
    d.debug_layout = std::getenv("ZEM_DEBUG_LAYOUT") != nullptr;

    // Seats, outputs and the cursor-shape manager.
    std::vector<Global> snapshot = d.globals;
    for (const Global& g : snapshot) {
        if (g.interface == "wl_seat") add_seat(d, g.name, g.version);
        else if (g.interface == "wl_output") add_output(d, g.name, g.version);
    }
    d.cursor_shape_manager = bind<wp_cursor_shape_manager_v1>(d, &wp_cursor_shape_manager_v1_interface, 2);
    clipboard_start(d);
    text_input_start(d);
    d.registry_ready = true;

    // Loop state.
    d.fullscreen_pending = !d.window_size.has_value();
    d.exit = false;
    d.view_dirty = d.overlays_dirty = true;
    d.perf = PerfGuard::fresh(d.reactor->now());

    // The channel that carries messages from other threads.
    auto messages = event_loop::Channel<Message>::create();
    if (!messages) return std::unexpected(RunError{RunError::EventLoop, "channel insert_source: " + messages.error(), {}});
    if (auto id = messages->insert(**reactor, 1024, [&d](Message&& m) { d.messages.push_back(std::move(m)); }); !id)
        return std::unexpected(RunError{RunError::EventLoop, "channel insert_source: " + id.error(), {}});
    d.app->set_channel_sender(messages->sender());

    // The text scale, and its changes.
    auto scales = event_loop::Channel<float>::create();
    if (!scales) return std::unexpected(RunError{RunError::EventLoop, "text-scale insert_source: " + scales.error(), {}});
    auto scale_id = scales->insert(**reactor, 1024, [&d](float&& f) {
        if (std::fabs(f - text_scale()) < 1.1920929e-7f) return;
        set_text_scale(f);
        d.view_dirty = d.overlays_dirty = true;
        d.main_surface.redraw = d.main_surface.relayout = true;
        for (auto& [id, st] : d.overlay_surfaces) st.redraw = st.relayout = true;
    });
    if (!scale_id) return std::unexpected(RunError{RunError::EventLoop, "text-scale insert_source: " + scale_id.error(), {}});
    spawn_text_scale_watcher(scales->sender());

    // The poll timer.
    if (auto period = d.app->poll_interval()) {
        d.perf.warn_poll_interval(*period);
        auto first = event_loop::checked_add(d.reactor->now(), *period);
        if (first) {
            d.reactor->add_timer(*first, [&d](event_loop::Instant now) -> event_loop::TimerNext {
                for (Message& m : d.app->poll()) d.messages.push_back(std::move(m));
                auto next = d.app->poll_interval();
                return event_loop::checked_add(
                    now, next ? std::chrono::duration_cast<event_loop::Duration>(*next) : std::chrono::seconds(1));
            });
        }
    }
    // The 30-second session save, only with a session store.
    if (d.session.store) {
        auto timer = insert_session_save_timer(*d.reactor, [&d] {
            if (d.session.persisting()) d.session.store->save(d.app->session_state());
        });
        if (!timer) return std::unexpected(timer.error());
    }

    // The loop.
    while (!d.exit) {
        // Dispatch events; a pending long press or tooltip bounds the wait.
        // Requests from assistive technologies may have left messages or
        // redraws behind: take them now rather than at the next event.
        auto wait = d.long_press_timeout();
        if (auto tip = d.tooltip_timeout(); tip && (!wait || *tip < *wait)) wait = tip;
        if (std::exchange(d.a11y_work_left, false)) wait = event_loop::Duration::zero();
        if (auto st = d.reactor->dispatch(wait); !st) {
            handle_dispatch_error(d, st.error());
            d.exit = true;
            break;
        }
        // Long press and tooltips.
        d.fire_long_press();
        d.show_due_tooltip();
        // Poll.
        for (Message& m : d.app->poll()) d.messages.push_back(std::move(m));
        // (Clipboard results go here.)
        // Hand the queued messages to update.
        std::deque<Message> batch;
        batch.swap(d.messages);
        if (!batch.empty()) {
            for (Message& m : batch) d.app->update(std::move(m));
            d.mark_dirty();
            d.refresh_cursor_shape(d.pointer_focus);
        }
        // Drag points.
        if (!d.drag_points.empty()) {
            d.drag_points.clear();
            d.main_surface.redraw = d.main_surface.relayout = true;
            d.view_dirty = d.overlays_dirty = true;
        }
        // (Edited texts live until a draw shows the view that reflects them.)
        // Overlays.
        reconcile_overlays(d);
        // Nothing is drawn until the window can show it.
        bool any = drawable(d.main_surface);
        for (auto& [id, st] : d.overlay_surfaces) any = any || drawable(st);
        if (any) {
            // View. A rebuilt tree may move anything: the next frame of
            // the main surface is full, never a partial one over stale
            // pixels.
            // A slider being dragged shows its value as it goes.
            if (d.any_slider_drag()) d.view_dirty = d.overlays_dirty = true;
            if (d.view_dirty) {
                ++d.view_generation;
                d.view_cache = d.app->view();
                d.view_dirty = false;
                d.main_surface.relayout = true;
            }
            // Overlay declarations.
            if (d.overlays_dirty) {
                ++d.overlay_generation;
                d.overlay_cache = d.app->overlays();
                if (auto tip = d.tooltip_overlay()) d.overlay_cache->push_back(std::move(*tip));
                d.overlays_dirty = false;
                for (auto& [id, st] : d.overlay_surfaces) st.relayout = true;
            }
            // Draw.
            draw_dirty_surfaces(d);
        }
        update_accessibility(d, any);
        // (Subsurfaces go here.)
        apply_accessibility_actions(d);
        wl_display_flush(display);
    }

    // Ending: the session saved as a clean exit, then everything goes
    // before the connection.
    if (d.session.persisting()) d.session.store->save_and_exit(d.app->session_state());
    data.reset();
    signals->reset();
    reactor->reset();
    return {};
}

}  // namespace zem

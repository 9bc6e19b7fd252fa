#pragma once
// The loop's state for one running application.

#include <zem/shell/app.hpp>
#include <zem/shell/surface.hpp>
#include <zem/shell/event_loop.hpp>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_shm;
struct wl_subcompositor;
struct wl_seat;
struct wl_output;
struct wl_keyboard;
struct wl_pointer;
struct wl_touch;
struct xdg_wm_base;
struct zxdg_decoration_manager_v1;
struct zwlr_layer_shell_v1;
struct zwp_text_input_manager_v3;
struct wl_data_device_manager;
struct xdg_activation_v1;
struct ext_foreign_toplevel_list_v1;
struct wp_cursor_shape_manager_v1;
struct wp_cursor_shape_device_v1;

namespace zem {

// Paces animated frames and warns about animations that never settle.
struct PerfGuard {
    event_loop::Instant last_frame;
    std::optional<event_loop::Instant> animation_start;
    bool animation_warned = false;
    bool software_warned = false;
    bool poll_warned = false;

    static PerfGuard fresh(event_loop::Instant now);
    bool frame_due(bool software, event_loop::Instant now);
    void warn_poll_interval(std::chrono::nanoseconds period);
};

// Performance warnings: "ZEM_PERF_WARN" set, not empty and not "0"; read
// once per process.
bool perf_warnings_enabled();

struct Global {
    uint32_t name;
    std::string interface;
    uint32_t version;
};

struct Output {
    uint32_t name = 0;
    wl_output* output = nullptr;
    int32_t scale = 1;
};

struct Seat {
    uint32_t name = 0;
    wl_seat* seat = nullptr;
    uint32_t capabilities = 0;
};

struct AppData {
    explicit AppData(std::unique_ptr<AppHandle> app_handle);
    ~AppData();
    AppData(const AppData&) = delete;
    AppData& operator=(const AppData&) = delete;

    std::unique_ptr<AppHandle> app;

    // Wayland objects (bound at start-up; optional ones may stay null).
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    std::vector<Global> globals;
    wl_compositor* compositor = nullptr;
    uint32_t compositor_version = 0;
    wl_shm* shm = nullptr;
    std::vector<uint32_t> shm_formats;
    wl_subcompositor* subcompositor = nullptr;
    zwlr_layer_shell_v1* layer_shell = nullptr;
    uint32_t layer_shell_version = 0;
    xdg_wm_base* wm_base = nullptr;
    uint32_t wm_base_version = 0;
    zxdg_decoration_manager_v1* decoration_manager = nullptr;
    zwp_text_input_manager_v3* text_input_manager = nullptr;
    wl_data_device_manager* data_device_manager = nullptr;
    xdg_activation_v1* xdg_activation = nullptr;
    ext_foreign_toplevel_list_v1* foreign_toplevels = nullptr;
    wp_cursor_shape_manager_v1* cursor_shape_manager = nullptr;
    std::vector<Output> outputs;
    std::vector<Seat> seats;
    wl_keyboard* keyboard = nullptr;
    wl_pointer* pointer = nullptr;
    wl_touch* touch = nullptr;
    wp_cursor_shape_device_v1* cursor_shape_device = nullptr;
    bool registry_ready = false;  // start-up binding done; later globals are bound as they come

    event_loop::Reactor* reactor = nullptr;

    SurfaceState main_surface;
    std::map<OverlayId, SurfaceState> overlay_surfaces;
    std::deque<Message> messages;

    std::string app_id;
    std::optional<std::pair<uint32_t, uint32_t>> window_size;
    bool fullscreen_pending = false;
    std::optional<std::string> activation_token;
    bool debug_layout = false;

    SurfaceKey pointer_focus = SurfaceKey::main();
    SurfaceKey keyboard_focus = SurfaceKey::main();
    std::map<int32_t, SurfaceKey> touches;
    uint8_t cursor_shape = 34;

    bool exit = false;
    bool view_dirty = true;
    bool overlays_dirty = true;
    std::optional<Element> view_cache;
    std::optional<std::vector<OverlayDecl>> overlay_cache;
    std::vector<std::pair<float, float>> drag_points;
    std::string clipboard_text;
    PerfGuard perf;

    // Counts frames presented (all surfaces), for idle checks and figures.
    uint64_t frames_presented = 0;

    SurfaceState& surface_mut(SurfaceKey key);
    const SurfaceState& surface(SurfaceKey key) const;
    std::optional<SurfaceKey> surface_key_of(const wl_surface* s) const;
    void remove_overlay(OverlayId id);
    void resize_main_surface(uint32_t w, uint32_t h);
    OptionalMessage widget_message(OverlayId id);
    void mark_dirty();
    // Asks for a frame callback on the surface with this key.
    void request_frame(SurfaceKey key);

    // Pixel format of software buffers and whether the canvas must swap red
    // and blue.
    std::pair<uint32_t, bool> shm_format_choice() const;
};

// The format to use for SHM buffers given the advertised formats.
std::pair<uint32_t, bool> shm_format(const std::vector<uint32_t>& formats);

// The configure step: buffers for a logical w × h.
void configure_surface(SurfaceState& s, wl_shm* shm, uint32_t w, uint32_t h);

// A buffer-scale change; returns the new buffer size when anything changed.
std::optional<std::pair<uint32_t, uint32_t>> apply_buffer_scale(SurfaceState& s, wl_shm* shm, int32_t n);

void set_surface_input_region(wl_surface* surface, wl_compositor* compositor,
                              const std::optional<std::vector<Rect>>& rects, int32_t scale);

void reconcile_overlays(AppData& d);
void draw_dirty_surfaces(AppData& d);
bool create_pending_layer_surface(AppData& d, SurfaceState& s, wl_output* output);

// Wayland handlers set up by start-up.
void on_frame_done(AppData& d, SurfaceKey key);
void scale_changed(AppData& d, SurfaceKey key, int32_t n);
void new_output(AppData& d, wl_output* o);

}  // namespace zem

#pragma once
// The loop's state for one running application.

#include <zem/access/actions.hpp>
#include <zem/access/adapter.hpp>
#include <zem/shell/app.hpp>
#include <zem/shell/surface.hpp>
#include <zem/shell/event_loop.hpp>
#include <zem/shell/session.hpp>
#include <zem/input/keys.hpp>
#include <zem/shell/keyboard.hpp>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

namespace zem::access {
class AtspiBridge;
}

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

    // The run's GLES context; absent when frames are drawn in software.
    // Declared before the surfaces, which draw with it until they go.
    std::shared_ptr<EglContext> egl;

    SurfaceState main_surface;
    std::map<OverlayId, SurfaceState> overlay_surfaces;
    std::deque<Message> messages;

    std::string app_id;
    SessionState session;
    std::optional<std::pair<uint32_t, uint32_t>> window_size;
    bool fullscreen_pending = false;
    std::optional<std::string> activation_token;
    bool debug_layout = false;

    SurfaceKey pointer_focus = SurfaceKey::main();
    SurfaceKey keyboard_focus = SurfaceKey::main();
    std::map<int32_t, SurfaceKey> touches;
    // Pointer, touch and keyboard state (seat.cpp and its neighbours).
    // The last cursor shape sent, as the protocol numbers it; 0 = none yet.
    uint32_t cursor_shape = 0;
    std::pair<float, float> pointer_position{0, 0};  // buffer pixels
    uint32_t pointer_serial = 0;
    std::optional<keys::RepeatInfo> repeat;  // none: never told
    struct KeyRepeat {
        KeyStroke stroke;
        event_loop::TimerId timer = 0;
    };
    std::optional<KeyRepeat> key_repeat;
    std::unique_ptr<KeyTranslator> key_translator;
    // Tooltips: the one waiting for the pointer to rest, and the one shown.
    struct PendingTooltip {
        std::string text;
        Rect rect;  // the widget's, buffer pixels of its surface
        SurfaceKey key;
        LayoutId widget = 0;
        event_loop::Instant due;
    };
    struct ShownTooltip {
        std::string text;
        SurfaceKey key;
        Rect rect;
    };
    std::optional<PendingTooltip> pending_tooltip;
    // A held auto-repeat button, the pointer's last click (double clicks)
    // and the axis source of the pointer frame in progress.
    struct ButtonRepeat {
        SurfaceKey key;
        LayoutId widget = 0;
        event_loop::TimerId timer = 0;
    };
    std::optional<ButtonRepeat> button_repeat;
    ClickHistory clicks;
    std::optional<uint32_t> axis_source;
    std::optional<ShownTooltip> shown_tooltip;
    wl_surface* keyboard_surface = nullptr;  // the surface with keyboard focus

    bool exit = false;
    bool view_dirty = true;
    bool overlays_dirty = true;
    std::optional<Element> view_cache;
    std::optional<std::vector<OverlayDecl>> overlay_cache;
    std::vector<std::pair<float, float>> drag_points;
    std::string clipboard_text;
    // Text editing: `view` and `overlays` calls so far, which tell when a
    // draw reflects a field's edited text.
    std::uint64_t view_generation = 0;
    std::uint64_t overlay_generation = 0;
    // The modifiers the editing keys read; the keyboard handler keeps them.
    bool shift = false, ctrl = false;
    // The input method's text-input object and its state (text_input.cpp).
    struct TextInput;
    struct TextInputDeleter {
        void operator()(TextInput* t) const;
    };
    std::unique_ptr<TextInput, TextInputDeleter> text_input;
    // The data device, our copy source and transfers in flight (clipboard.cpp).
    struct Clipboard;
    struct ClipboardDeleter {
        void operator()(Clipboard* c) const;
    };
    std::unique_ptr<Clipboard, ClipboardDeleter> clipboard;
    // Records a field's text typed since the view last reflected it.
    void store_edit(SurfaceKey key, LayoutId id, std::string_view text);
    // Drops the edited texts a draw of `key` has shown (the regions now come
    // from a view that reflects them).
    void drop_reflected_edits(SurfaceKey key);
    PerfGuard perf;

    // Counts frames presented (all surfaces), for idle checks and figures.
    uint64_t frames_presented = 0;

    // Accessibility: requests waiting for the loop, the overlays that carried
    // numbers 1, 2, … in the last tree, and whether the last requests left
    // work (messages, redraws) that the next dispatch must not sleep over.
    std::deque<access::ActionRequest> a11y_pending;
    std::vector<OverlayId> a11y_overlay_numbers;
    bool a11y_work_left = false;
    std::optional<event_loop::Channel<access::ActionRequest>> a11y_channel;
    // Last, so that it (and the bus thread it owns) goes first.
    std::unique_ptr<access::Adapter> accessibility;
    std::unique_ptr<access::AtspiBridge> atspi;

    SurfaceState& surface_mut(SurfaceKey key);
    const SurfaceState& surface(SurfaceKey key) const;
    std::optional<SurfaceKey> surface_key_of(const wl_surface* s) const;
    void remove_overlay(OverlayId id);
    void resize_main_surface(uint32_t w, uint32_t h);
    OptionalMessage widget_message(OverlayId id);
    // Text fields (focus, carets, edits, context menu); see text_fields.cpp.
    void set_focus(SurfaceKey key, std::optional<LayoutId> focus);
    bool text_key(SurfaceKey key, const KeyStroke& stroke);  // true: an editing case handled it
    void insert_text(SurfaceKey key, std::string_view s);
    void place_caret_at(SurfaceKey key, LayoutId id, float x, float y);
    void select_word_at(SurfaceKey key, LayoutId id, float x, float y);
    void extend_selection_to(SurfaceKey key, LayoutId id, float x, float y);
    void open_context_menu(SurfaceKey key, LayoutId id, float x, float y);
    bool context_menu_action(SurfaceKey key, float x, float y);
    std::uint32_t input_serial = 0;  // last left press or touch down
    std::uint32_t key_serial = 0;    // last wl_keyboard.key
    void mark_dirty();
    // Asks for a frame callback on the surface with this key.
    void request_frame(SurfaceKey key);
    // Input (seat.cpp, keyboard.cpp): see there.
    void refresh_cursor_shape(SurfaceKey key);
    bool cancel_touch();
    void stop_key_repeat();
    void keyboard_lost();
    void press_key(const KeyStroke& stroke);
    void release_key(const KeyStroke& stroke);
    void handle_key(SurfaceKey key, const KeyStroke& stroke);
    // Long press (long_press.cpp): the time left until the next one is due,
    // and firing the due ones.
    std::optional<event_loop::Duration> long_press_timeout() const;
    void fire_long_press();
    bool any_slider_drag() const;
    void arm_button_repeat(SurfaceKey key, LayoutId widget);
    void stop_button_repeat();
    // Tooltips (tooltip.cpp).
    void hover_tooltip(SurfaceKey key, const HitRegion* under);
    void drop_tooltips();
    std::optional<event_loop::Duration> tooltip_timeout() const;
    void show_due_tooltip();
    std::optional<OverlayDecl> tooltip_overlay() const;

    // Pixel format of software buffers and whether the canvas must swap red
    // and blue.
    std::pair<uint32_t, bool> shm_format_choice() const;
};

// The format to use for SHM buffers given the advertised formats.
std::pair<uint32_t, bool> shm_format(const std::vector<uint32_t>& formats);

// The configure step: buffers (or the EGL window) for a logical w × h. True
// when the surface took a new size (buffers reallocated or window resized,
// relayout and redraw due); false when the size is refused or unchanged,
// which leaves buffers, window and view alone.
bool configure_surface(SurfaceState& s, wl_shm* shm, uint32_t w, uint32_t h,
                       const std::shared_ptr<EglContext>& egl = nullptr);

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

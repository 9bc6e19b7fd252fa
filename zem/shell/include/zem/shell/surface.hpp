#pragma once
// One surface of the application: its role object and its state.

#include <zem/shell/egl_window.hpp>
#include <zem/shell/scene.hpp>
#include <zem/shell/shm_pool.hpp>
#include <zem/shell/types.hpp>
#include <zem/input/gesture.hpp>
#include <zem/input/input_types.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct wl_surface;
struct wl_callback;
struct wl_output;
struct xdg_surface;
struct xdg_toplevel;
struct xdg_popup;
struct zxdg_toplevel_decoration_v1;
struct zwlr_layer_surface_v1;

namespace zem {

struct AppData;

// Layer-surface placement: what a pending layer surface carries and what a
// created one was made with.
// The layer-shell layers and keyboard modes, by their protocol values.
enum class ShellLayer : uint32_t { Background = 0, Bottom = 1, Top = 2, Overlay = 3 };
enum class LayerKeyboard : uint32_t { None = 0, Exclusive = 1, OnDemand = 2 };

struct LayerParams {
    std::string name_space;
    uint32_t width = 0, height = 0;  // logical
    int32_t exclusive_zone = 0;
    ShellLayer layer = ShellLayer::Background;
    uint32_t anchor = 0;             // protocol bits top 1, bottom 2, left 4, right 8
    LayerKeyboard keyboard = LayerKeyboard::None;
};

struct WindowRole {
    wl_surface* surface = nullptr;
    xdg_surface* xdg = nullptr;
    xdg_toplevel* toplevel = nullptr;
    zxdg_toplevel_decoration_v1* decoration = nullptr;
    // The toplevel configure waiting for its xdg_surface configure.
    int32_t pending_w = 0, pending_h = 0;
    bool server_side = false;
};
struct PopupRole {
    wl_surface* surface = nullptr;
    xdg_surface* xdg = nullptr;
    xdg_popup* popup = nullptr;
    int32_t pending_w = 0, pending_h = 0;
};
struct LayerRole {
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    LayerParams params;
};
struct PendingLayerRole {
    LayerParams params;
};

// The role object of a surface. Destroying it destroys its Wayland objects.
class SurfaceRole {
public:
    enum Kind { Window, Popup, Layer, PendingLayer };

    SurfaceRole() = default;
    explicit SurfaceRole(WindowRole r) : v_(r) {}
    explicit SurfaceRole(PopupRole r) : v_(r) {}
    explicit SurfaceRole(LayerRole r) : v_(r) {}
    explicit SurfaceRole(PendingLayerRole r) : v_(std::move(r)) {}
    SurfaceRole(SurfaceRole&& o) noexcept : v_(std::move(o.v_)) { o.v_ = PendingLayerRole{}; }
    SurfaceRole& operator=(SurfaceRole&& o) noexcept;
    ~SurfaceRole() { destroy(); }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    // The wl_surface of a created role, null for a pending one.
    wl_surface* wl_surface_ptr() const;
    WindowRole* window() { return std::get_if<WindowRole>(&v_); }
    PopupRole* popup() { return std::get_if<PopupRole>(&v_); }
    LayerRole* layer() { return std::get_if<LayerRole>(&v_); }
    PendingLayerRole* pending_layer() { return std::get_if<PendingLayerRole>(&v_); }

private:
    void destroy();
    std::variant<WindowRole, PopupRole, LayerRole, PendingLayerRole> v_{PendingLayerRole{}};
};

// The outstanding frame callback of a surface; destroyed with it.
class FrameCallback {
public:
    FrameCallback() = default;
    FrameCallback(FrameCallback&& o) noexcept { *this = std::move(o); }
    FrameCallback& operator=(FrameCallback&& o) noexcept;
    ~FrameCallback() { reset(); }
    // Requests a frame callback on `surface` that reports to `d` for `key`.
    void request(wl_surface* surface, AppData* d, SurfaceKey key);
    void reset();
    void forget() { cb_ = nullptr; tag_ = nullptr; }  // the callback fired and freed itself

private:
    wl_callback* cb_ = nullptr;
    void* tag_ = nullptr;
};

struct SurfaceState {
    SurfaceRole role;
    FrameCallback frame_callback;
    std::string title;

    // Logical size (0 until the first configure) and integer buffer scale
    // (below 1 counts as 1).
    std::array<uint32_t, 2> size{0, 0};
    int32_t scale = 1;
    float top_inset = 0;          // title band in use
    float top_inset_restore = 0;  // title band to bring back after server-side decorations

    bool configured = false;
    bool redraw = false;
    bool relayout = true;  // the next frame must be full
    bool frame_pending = false;
    std::vector<wl_output*> entered_outputs;  // for the buffer scale

    // Interaction state the next frame shows, and what the last one showed.
    std::optional<LayoutId> focus, hover, pressed;
    std::optional<LayoutId> last_focus, last_hover, last_pressed;
    // Text editing: the open context menu, and each field's text typed since
    // the element tree last reflected it.
    std::optional<ContextMenu> context_menu;
    std::map<LayoutId, EditedText> edited_texts;
    std::vector<HitRegion> regions;  // the last frame's interactive regions
    std::vector<ScrollArea> scroll_regions;
    std::vector<AccessNode> statics;
    // The id-keyed maps that live across frames (carets, selection anchors,
    // scroll offsets, layer canvases, list-item spans), kept in the shape the
    // layout-and-draw pass takes them.
    FrameLayout kept;
    // The storage of the last frame plan's damage, for the next plan.
    std::vector<Rect> plan_damage;
    Rect close_button_rect;
    // The press, touch or drag in progress on this surface, and the fingers:
    // the first one drives the gesture, the others are only followed.
    GestureRecognizer gesture;
    std::optional<int32_t> primary_touch;
    std::map<int32_t, std::pair<float, float>> secondary_touches;
    // The scale the compositor asked for (wl_surface version 6).
    std::optional<int32_t> preferred_scale;
    bool maximized = false;  // as the toplevel's last configure said

    std::optional<Canvas> canvas;
    std::unique_ptr<ShmPool> shm_pool;

    // Overlays: what was last applied.
    std::array<uint32_t, 2> declared_size{0, 0};
    int32_t exclusive_zone = 0;
    int32_t declared_scale = 1;
    Rect anchor_rect;
    bool anchor_valid = false;
    uint32_t reposition_token = 0;

    // An input method's uncommitted text in a field of this surface: drawn
    // at the caret, never part of the field's text or of any message.
    struct Preedit {
        LayoutId widget = 0;
        std::string text;
        int32_t cursor_begin = 0, cursor_end = 0;
    };
    std::optional<Preedit> preedit;

    // The EGL window when frames of this surface are drawn with GLES. Last
    // member: it is destroyed first, before the wl_surface of `role`.
    std::optional<EglWindowSurface> egl_surface;

    int32_t effective_scale() const { return scale < 1 ? 1 : scale; }
};

// A fresh surface record: scale 1, size 0 × 0, no buffers, `relayout` set.
SurfaceState create_surface_state(SurfaceRole role, std::string title, float top_inset);

}  // namespace zem

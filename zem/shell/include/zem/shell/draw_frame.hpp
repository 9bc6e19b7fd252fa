#pragma once
// One frame of one surface: full or partial, with damage tracking, drawn in
// software into a shared-memory buffer.

#include <zem/shell/scene.hpp>
#include <zem/shell/surface.hpp>

#include <functional>
#include <optional>
#include <vector>

struct wl_compositor;

namespace zem {

struct IdPair {
    std::optional<WidgetId> last, current;
};

// Damage of changed focus, hover and press state (buffer pixels), snapped
// outward to whole pixels, clamped to W × H, empty rects removed.
std::vector<Rect> damage_add(const std::vector<HitRegion>& regions, const IdPair& focus, const IdPair& hover,
                              const IdPair& press, uint32_t W, uint32_t H);
// The same into `out` (emptied first), whose storage the caller keeps.
void damage_add(const std::vector<HitRegion>& regions, const IdPair& focus, const IdPair& hover, const IdPair& press,
                uint32_t W, uint32_t H, std::vector<Rect>& out);

// Compositor damage of a full frame whose layout stayed put; empty = whole
// surface. Never returns a rect of zero or negative size.
std::vector<Rect> damage_merge(const std::vector<HitRegion>& last, const std::vector<HitRegion>& now,
                                const IdPair& focus, const IdPair& hover, const IdPair& press, uint32_t W,
                                uint32_t H);

// The client-side title bar; returns the close button's rect.
Rect draw_title_bar(Canvas& canvas, const std::string& title, uint32_t W, float bar, float s);
// The title bar's n-th button left of the close button (1 maximise,
// 2 minimise), from the close button's rectangle.
Rect title_bar_neighbour(const Rect& close, int n);

struct FrameInputs {
    const Element* root = nullptr;  // drawn as it stands; not copied
    Color background;
    std::optional<std::vector<Rect>> input_region;
    bool debug_layout = false;
    uint32_t shm_format = 0;
    bool swap_rb = true;
    wl_compositor* compositor = nullptr;
    std::function<void()> request_frame;
    EglContext* egl = nullptr;  // frames of surfaces with an EGL window go through GLES
};

enum class FrameKind { Skipped, Full, Partial };

// What the next frame of a surface will be: skipped (zero size, or a
// partial frame with nothing to repaint), full, or partial with its damage.
struct FramePlan {
    FrameKind kind = FrameKind::Skipped;
    uint32_t W = 0, H = 0;
    std::vector<Rect> damage;  // partial: the clip; full: compositor damage (empty = whole)
};
// A partial plan's damage fills `damage_storage`, the list of an earlier
// plan handed back, so that steady frames allocate nothing.
FramePlan plan_frame(const SurfaceState& s, std::vector<Rect> damage_storage = {});

// The canvas half of a frame: paints `s` as `plan` says and keeps the
// frame's regions; a full frame fills `plan.damage` with its compositor
// damage. Nothing reaches the compositor.
void paint_frame(SurfaceState& s, const FrameInputs& in, FramePlan& plan);

// Damage rects for swap-with-damage: x, y, w, h per rect, whole pixels
// snapped outward, origin at the bottom left of an H-pixel-high surface.
std::vector<int32_t> gl_damage_rects(const std::vector<Rect>& damage, uint32_t H);

// Draws (or skips) one frame of `s`. On success the surface's
// `frame_pending` is set and `relayout` cleared.
FrameKind draw_frame(SurfaceState& s, const FrameInputs& in);

// Lays out and paints a scene offscreen exactly as a full frame would, into
// `canvas` (already W × H); for tests and figures that compare pixels.
void render_offscreen(Canvas& canvas, const Element& root, Color background, const std::string& title,
                      float top_inset, int32_t scale, std::vector<HitRegion>* regions = nullptr);

}  // namespace zem

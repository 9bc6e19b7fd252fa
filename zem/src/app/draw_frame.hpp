#pragma once
// One frame of one surface: full or partial, with damage tracking, drawn in
// software into a shared-memory buffer.

#include <zem/app/scene.hpp>
#include <zem/app/surface.hpp>

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
std::vector<FRect> damage_add(const std::vector<HitRegion>& regions, const IdPair& focus, const IdPair& hover,
                              const IdPair& press, uint32_t W, uint32_t H);

// Compositor damage of a full frame whose layout stayed put; empty = whole
// surface. Never returns a rect of zero or negative size.
std::vector<FRect> damage_merge(const std::vector<HitRegion>& last, const std::vector<HitRegion>& now,
                                const IdPair& focus, const IdPair& hover, const IdPair& press, uint32_t W,
                                uint32_t H);

// The client-side title bar; returns the close button's rect.
FRect draw_title_bar(FrameCanvas& canvas, const std::string& title, uint32_t W, float bar, float s);

struct FrameInputs {
    Scene root;
    RGBA background;
    std::optional<std::vector<FRect>> input_region;
    bool debug_layout = false;
    uint32_t shm_format = 0;
    bool swap_rb = true;
    wl_compositor* compositor = nullptr;
    std::function<void()> request_frame;
};

enum class FrameKind { Skipped, Full, Partial };

// Draws (or skips) one frame of `s`. On success the surface's
// `frame_pending` is set and `relayout` cleared.
FrameKind draw_frame(SurfaceState& s, const FrameInputs& in);

// Lays out and paints a scene offscreen exactly as a full frame would, into
// `canvas` (already W × H); for tests and figures that compare pixels.
void render_offscreen(FrameCanvas& canvas, const Scene& root, RGBA background, const std::string& title,
                      float top_inset, int32_t scale, std::vector<HitRegion>* regions = nullptr);

}  // namespace zem

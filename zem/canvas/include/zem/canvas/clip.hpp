#pragma once
// Small helpers the painters share for drawing inside a narrowed clip.

#include <vector>

#include <zem/canvas/canvas.hpp>
#include <zem/core/length.hpp>

namespace zem {

// `r` pushed out by `d` on every side (pulled in when `d` is negative).
inline Rect grow(const Rect& r, float d) { return Rect{r.x - d, r.y - d, r.w + 2.0f * d, r.h + 2.0f * d}; }

// Narrows the clip to `inner` within the current clip, runs `draw` when
// something is left, and restores the clip that was in force.
template <class F>
void with_clip(Canvas& canvas, const Rect& inner, F draw) {
    const std::vector<Rect> saved = canvas.clip_rects();
    const std::vector<Rect> narrowed = clip_list_intersect(saved, inner);
    if (!narrowed.empty()) {
        canvas.set_clip_rects(narrowed);
        draw();
    }
    if (saved.empty()) {
        canvas.reset_clip();
    } else {
        canvas.set_clip_rects(saved);
    }
}

}  // namespace zem

#pragma once
// What a software frame copies into the buffer it draws to. A buffer the
// compositor held while other frames were drawn missed their changes; it
// keeps the damage of those frames so that only the damaged rectangles, its
// own missed ones and the frame's, are copied from the canvas.

#include <zem/core/geometry.hpp>

#include <optional>
#include <span>
#include <vector>

namespace zem {

struct BufferDamage {
    // False until the buffer holds a whole frame, and after any whole-frame
    // change it missed.
    bool complete = false;
    // Areas changed by frames drawn into other buffers since this one's last.
    std::vector<Rect> stale;
};

// Beyond this many missed rectangles a buffer keeps their bounding box.
inline constexpr std::size_t kMaxStaleRects = 8;

// The rectangles to copy into `taken` for a frame with `damage` (empty: the
// whole frame changed), or nothing when the whole buffer must be copied.
// Marks `taken` current and hands the frame's damage to every buffer in
// `others`.
std::optional<std::vector<Rect>> plan_buffer_copy(BufferDamage& taken, std::span<BufferDamage* const> others,
                                                  const std::vector<Rect>& damage);
// The same into `copy`, whose storage the caller keeps across frames: true
// when `copy` holds the rectangles, false for the whole buffer.
bool plan_buffer_copy(BufferDamage& taken, std::span<BufferDamage* const> others, const std::vector<Rect>& damage,
                      std::vector<Rect>& copy);

}  // namespace zem

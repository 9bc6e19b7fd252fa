#include <zem/shell/buffer_damage.hpp>

#include <algorithm>

namespace zem {

namespace {

Rect bounding_box(const std::vector<Rect>& rects) {
    float x0 = rects.front().x, y0 = rects.front().y;
    float x1 = x0 + rects.front().w, y1 = y0 + rects.front().h;
    for (const Rect& r : rects) {
        x0 = std::min(x0, r.x);
        y0 = std::min(y0, r.y);
        x1 = std::max(x1, r.x + r.w);
        y1 = std::max(y1, r.y + r.h);
    }
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

bool plan_buffer_copy(BufferDamage& taken, std::span<BufferDamage* const> others, const std::vector<Rect>& damage,
                      std::vector<Rect>& copy) {
    for (BufferDamage* other : others) {
        if (other == nullptr || other == &taken || !other->complete) continue;
        if (damage.empty()) {
            other->complete = false;
            other->stale.clear();
            continue;
        }
        other->stale.insert(other->stale.end(), damage.begin(), damage.end());
        if (other->stale.size() > kMaxStaleRects) {
            const Rect box = bounding_box(other->stale);
            other->stale.assign(1, box);
        }
    }
    // Copied, not moved: every list keeps its storage for later frames.
    copy.clear();
    const bool partial = taken.complete && !damage.empty();
    if (partial) {
        copy.assign(taken.stale.begin(), taken.stale.end());
        copy.insert(copy.end(), damage.begin(), damage.end());
    }
    taken.complete = true;
    taken.stale.clear();
    return partial;
}

std::optional<std::vector<Rect>> plan_buffer_copy(BufferDamage& taken, std::span<BufferDamage* const> others,
                                                  const std::vector<Rect>& damage) {
    std::vector<Rect> copy;
    if (!plan_buffer_copy(taken, others, damage, copy)) return std::nullopt;
    return copy;
}

}  // namespace zem

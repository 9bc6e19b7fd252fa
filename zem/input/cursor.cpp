#include <zem/input/cursor.hpp>

namespace zem::cursor {

std::uint32_t protocol_value(CursorShape shape) {
    auto stored = static_cast<std::uint32_t>(shape);
    if (stored >= static_cast<std::uint32_t>(CursorShape::None)) return kDefault;
    return stored + 1;
}

std::uint32_t edge_shape(float x, float y, float w, float h, float margin) {
    bool left = x < margin, right = x > w - margin;
    bool top = y < margin, bottom = y > h - margin;
    if (top && left) return kNwResize;
    if (top && right) return kNeResize;
    if (bottom && left) return kSwResize;
    if (bottom && right) return kSeResize;
    if (top) return kNResize;
    if (bottom) return kSResize;
    if (left) return kWResize;
    if (right) return kEResize;
    return kNoShapeSent;
}

std::uint32_t resize_edge(float x, float y, float w, float h, float margin) {
    // xdg_toplevel.resize_edge: top 1, bottom 2, left 4, right 8, and their sums.
    std::uint32_t e = 0;
    if (y < margin) e = 1;
    else if (y > h - margin) e = 2;
    if (x < margin) e |= 4;
    else if (x > w - margin) e |= 8;
    return e;
}

}  // namespace zem::cursor

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

}  // namespace zem::cursor

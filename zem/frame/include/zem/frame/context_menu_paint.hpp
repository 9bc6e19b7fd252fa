#pragma once
// The text context menu's shape and painting: four rows (Copy, Cut, Paste,
// Delete) in a box of 180 x 176 logical pixels, drawn in buffer pixels (the
// lengths times the surface's buffer scale, like the rest of the frame).

#include <optional>

#include <zem/canvas/canvas.hpp>
#include <zem/core/geometry.hpp>

namespace zem {

inline constexpr float CONTEXT_MENU_WIDTH = 180.0f;
inline constexpr float CONTEXT_MENU_HEIGHT = 176.0f;

enum class MenuEntry { Copy = 0, Cut = 1, Paste = 2, Delete = 3 };

// The menu's box for a press at (x, y) on a surface of logical w x h at
// `scale`: at the press point, kept 4 logical px inside every edge.
Rect context_menu_rect(float x, float y, float w, float h, int scale);

// The row under (x, y), if inside the box.
std::optional<MenuEntry> context_menu_item_at(const Rect& rect, float x, float y);

// Draws the menu; disabled rows in the secondary text colour, the highlight
// on Copy when something is selected, else on Paste.
void context_menu_draw(Canvas& canvas, const Rect& rect, bool has_selection, bool can_paste);

}  // namespace zem

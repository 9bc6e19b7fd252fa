#pragma once
// Children in rows of equal cells.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct WrapGrid {
    std::optional<std::size_t> max_columns;
    std::vector<Element> children;
    std::size_t columns = 1;
    Length column_gap = Length::px(0.0f);
    Length row_gap = Length::px(0.0f);
    Length padding = Length::px(0.0f);
    std::optional<Length> min_cell_width;
    bool center_last_row = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    std::vector<ChildSlot> arrange(const Rect& rect, Canvas& canvas) const;
    // The same slots appended to `slots`, whose storage the caller keeps.
    void arrange_into(const Rect& rect, Canvas& canvas, std::vector<ChildSlot>& slots) const;
};

}  // namespace zem

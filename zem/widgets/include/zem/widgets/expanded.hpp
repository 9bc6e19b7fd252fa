#pragma once
// A child that takes a weighted share of a column's or row's free room.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Expanded {
    Box<Element> child;
    std::uint32_t weight = 1;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

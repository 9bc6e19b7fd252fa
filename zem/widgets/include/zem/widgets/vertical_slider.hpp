#pragma once
// A vertical slider over 0..1, filled from the bottom.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct VerticalSlider {
    ValueCallback on_change;
    ValueCallback on_release;
    const char* track_surface = "surface-slider-track";
    const char* fill_surface = "surface-slider-fill";
    float value = 0.0f;
    Length width = Length::px(0.0f);
    Length height = Length::px(0.0f);

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

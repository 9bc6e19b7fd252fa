#pragma once
// A horizontal slider over 0..1.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

struct Slider {
    std::optional<Paint> track_fill;
    const char* track_surface = "surface-slider-track";
    const char* fill_surface = "surface-slider-fill";
    ValueCallback on_change;
    ValueCallback on_release;
    float value = 0.0f;
    bool large_knob = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
    float intrinsic_width(Canvas& canvas, float available) const;
};

}  // namespace zem

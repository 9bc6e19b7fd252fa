#pragma once
// Shared set-up of the widget tests: a theme whose palette colours are all
// different (so a pixel tells which one was painted), canvases and pixel
// reading.

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <zem/canvas/canvas.hpp>
#include <zem/theme/active.hpp>
#include <zem/theme/theme.hpp>

namespace zem::testing {

inline theme::Mode palette_mode(bool dark) {
    theme::Mode mode;
    auto put = [&](const char* name, Color c) { mode.slots.emplace(name, theme::Slot{c, {}}); };
    if (!dark) {
        put("bg-page", Color{1.0f, 1.0f, 1.0f, 1.0f});
        put("surface", Color{0.9f, 0.9f, 1.0f, 1.0f});
        put("surface-alt", Color{0.8f, 0.8f, 0.8f, 1.0f});
        put("text-primary", Color{0.1f, 0.1f, 0.1f, 1.0f});
        put("text-secondary", Color{0.4f, 0.4f, 0.4f, 1.0f});
        put("accent", Color{0.0f, 0.4f, 0.8f, 1.0f});
        put("divider", Color{0.7f, 0.6f, 0.5f, 1.0f});
        put("icon", Color{0.2f, 0.2f, 0.2f, 1.0f});
    } else {
        put("bg-page", Color{0.05f, 0.05f, 0.07f, 1.0f});
        put("surface", Color{0.15f, 0.15f, 0.2f, 1.0f});
        put("surface-alt", Color{0.25f, 0.25f, 0.3f, 1.0f});
        put("text-primary", Color{0.95f, 0.95f, 0.95f, 1.0f});
        put("text-secondary", Color{0.7f, 0.7f, 0.75f, 1.0f});
        put("accent", Color{0.4f, 0.7f, 1.0f, 1.0f});
        put("divider", Color{0.35f, 0.3f, 0.3f, 1.0f});
        put("icon", Color{0.9f, 0.9f, 0.9f, 1.0f});
    }
    mode.window_controls = WindowControls{
        Color{0.9f, 0.9f, 0.9f, 1.0f}, Color{0.2f, 0.2f, 0.2f, 1.0f}, Color{0.0f, 1.0f, 0.0f, 1.0f},
        Color{0.0f, 0.0f, 1.0f, 1.0f}, Color{1.0f, 0.0f, 0.0f, 1.0f}, Color{1.0f, 1.0f, 0.0f, 1.0f},
        Color{1.0f, 0.0f, 1.0f, 1.0f}};
    return mode;
}

// Installs the test theme in light (or dark) mode.
inline void use_test_theme(bool dark = false) {
    theme::Theme t;
    t.id = "widget-test";
    t.name = "widget test";
    t.light = palette_mode(false);
    t.dark = palette_mode(true);
    theme::set_active(std::move(t));
    theme::set_dark_mode(dark);
}

// A canvas whose 412 px smaller side makes every responsive metric its
// nominal pixel value.
inline Canvas phone_canvas(std::uint32_t w = 412, std::uint32_t h = 915) { return Canvas::new_software(w, h); }

struct Rgba {
    int r = 0;
    int g = 0;
    int b = 0;
    int a = 0;
};

inline Rgba pixel(const Canvas& canvas, float x, float y) {
    const auto p = canvas.software()->pixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    return Rgba{p[0], p[1], p[2], p[3]};
}

// Whether the pixel is the opaque colour c (within rounding).
inline ::testing::AssertionResult is_colour(const Canvas& canvas, float x, float y, Color c, int tolerance = 3) {
    const Rgba p = pixel(canvas, x, y);
    const int want[4] = {static_cast<int>(std::lround(c.r * c.a * 255.0f)), static_cast<int>(std::lround(c.g * c.a * 255.0f)),
                         static_cast<int>(std::lround(c.b * c.a * 255.0f)), static_cast<int>(std::lround(c.a * 255.0f))};
    const int got[4] = {p.r, p.g, p.b, p.a};
    for (int i = 0; i < 4; ++i) {
        if (std::abs(want[i] - got[i]) > tolerance) {
            return ::testing::AssertionFailure()
                   << "pixel (" << x << ", " << y << ") is " << p.r << "," << p.g << "," << p.b << "," << p.a
                   << " not " << want[0] << "," << want[1] << "," << want[2] << "," << want[3];
        }
    }
    return ::testing::AssertionSuccess();
}

inline bool is_transparent(const Canvas& canvas, float x, float y) { return pixel(canvas, x, y).a == 0; }

}  // namespace zem::testing

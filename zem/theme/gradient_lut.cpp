#include <zem/theme/gradient_lut.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace zem {

namespace {

float srgb_decode(float c) { return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f); }

float srgb_encode(float l) {
    return l <= 0.0031308f ? 12.92f * l : 1.055f * std::pow(l, 1.0f / 2.4f) - 0.055f;
}

std::uint8_t to_byte(float v) {
    if (std::isnan(v)) return 0;
    v = std::clamp(v, 0.0f, 1.0f);
    float scaled = v * 255.0f + 0.5f;
    return static_cast<std::uint8_t>(std::min(static_cast<int>(scaled), 255));
}

Color stop_colour(const GradientStop& s) { return Color{s.r, s.g, s.b, s.a}; }

}  // namespace

Color lerp_linear_light(Color a, Color b, float u, float alpha) {
    auto mix = [u](float ca, float cb) {
        const float la = srgb_decode(ca);
        const float lb = srgb_decode(cb);
        return srgb_encode(la + (lb - la) * u);
    };
    return Color{mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b), alpha};
}

Color gradient_colour_at(std::span<const GradientStop> stops, GradientSpace space, float t) {
    if (stops.empty()) return Color{0.0f, 0.0f, 0.0f, 0.0f};
    if (stops.size() == 1) return stop_colour(stops.front());

    std::vector<const GradientStop*> sorted;
    sorted.reserve(stops.size());
    for (const GradientStop& s : stops) sorted.push_back(&s);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const GradientStop* x, const GradientStop* y) { return x->pos < y->pos; });

    const GradientStop* p0 = sorted[0];
    const GradientStop* p1 = sorted[1];
    if (t <= sorted.front()->pos) {
        // first segment
    } else if (t >= sorted.back()->pos) {
        p0 = sorted[sorted.size() - 2];
        p1 = sorted.back();
    } else {
        for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
            if (sorted[i]->pos <= t && t <= sorted[i + 1]->pos) {
                p0 = sorted[i];
                p1 = sorted[i + 1];
                break;
            }
        }
    }

    const float span = p1->pos - p0->pos;
    const float u = std::fabs(span) < 1e-6f ? 0.0f : (t - p0->pos) / span;
    const Color a = stop_colour(*p0);
    const Color b = stop_colour(*p1);
    const float alpha = a.a + u * (b.a - a.a);
    if (space == GradientSpace::Srgb) {
        return Color{a.r + (b.r - a.r) * u, a.g + (b.g - a.g) * u, a.b + (b.b - a.b) * u, alpha};
    }
    // "oklab" is blended in linear light too.
    return lerp_linear_light(a, b, u, alpha);
}

std::array<std::uint8_t, gradient_lut_texels * 4> build_gradient_lut(std::span<const GradientStop> stops,
                                                                      GradientSpace space) {
    std::array<std::uint8_t, gradient_lut_texels * 4> lut{};
    for (std::size_t i = 0; i < gradient_lut_texels; ++i) {
        const float t = static_cast<float>(i) / 511.0f * 5.0f + -2.0f;
        const Color c = gradient_colour_at(stops, space, t);
        lut[4 * i + 0] = to_byte(c.r);
        lut[4 * i + 1] = to_byte(c.g);
        lut[4 * i + 2] = to_byte(c.b);
        lut[4 * i + 3] = to_byte(c.a);
    }
    return lut;
}

}  // namespace zem

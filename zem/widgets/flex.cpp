#include <zem/widgets/flex.hpp>

#include <algorithm>
#include <vector>

#include <zem/canvas/canvas.hpp>

namespace zem {

std::optional<float> spacer_is_fixed(const Spacer& spacer, Canvas& canvas) {
    if (!spacer.height) return std::nullopt;
    return canvas.resolve_length(*spacer.height);
}

std::optional<float> row_spacer_is_fixed(const Spacer& spacer, Canvas& canvas) {
    if (!spacer.width) return std::nullopt;
    return canvas.resolve_length(*spacer.width);
}

float fit_cap(std::span<const float> widths, float available) {
    if (widths.empty()) return available >= 0.0f ? unbounded : 0.0f;
    float sum = 0.0f;
    for (float w : widths) sum += w;
    if (sum <= available) return unbounded;
    std::vector<float> sorted(widths.begin(), widths.end());
    std::sort(sorted.begin(), sorted.end());
    float sum_prev = 0.0f;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const float k = static_cast<float>(sorted.size() - i);
        const float c = (available - sum_prev) / k;
        if (c <= sorted[i]) return std::max(c, 0.0f);
        sum_prev += sorted[i];
    }
    return 0.0f;
}

}  // namespace zem

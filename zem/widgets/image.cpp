// Image: size, painting and what the frame records for it.

#include <zem/widgets/image.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

std::pair<float, float> Image::measure(Canvas& canvas, float available) const {
    const Image& image = *this;
    const SizeF vp = canvas.state().metric_size();
    const float unit = canvas.unit_scale().value_or(UNIT_SCALE);
    auto resolve = [&](const Length& l) { return l.resolve(vp.w, vp.h, 16.0f, unit); };
    const float pw = static_cast<float>(image.image.width);
    const float ph = static_cast<float>(image.image.height);
    if (image.size) {
        const float s = std::max(resolve(*image.size), 0.0f);
        if (image.image.width != 0 && image.image.height != 0) {
            if (vp.w <= vp.h) return {s, s * ph / pw};
            return {s * pw / ph, s};
        }
        return {s, s};
    }
    if (image.width || image.height) {
        // A missing partner takes the other side's size.
        const float w = std::max(resolve(image.width ? *image.width : *image.height), 0.0f);
        const float h = std::max(resolve(image.height ? *image.height : *image.width), 0.0f);
        return {w, h};
    }
    if (image.image.width == 0) return {available, 0.0f};
    return {available, available * ph / pw};
}

void Image::paint(Canvas& canvas, const Rect& rect, const PaintState&) const {
    draw_image(canvas, image, rect, opacity);
}

Traits Image::traits() const {
    Traits t;
    t.node = AccessNodeKind::Image;
    return t;
}

HitAction Image::hit_action() const { return {}; }

std::optional<std::string> Image::access_text() const { return std::nullopt; }

}  // namespace zem

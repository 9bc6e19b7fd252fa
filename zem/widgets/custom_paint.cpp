// CustomPaint: size, painting and what the frame records for it.

#include <zem/widgets/custom_paint.hpp>

#include <algorithm>
#include <cmath>

#include <zem/canvas/canvas.hpp>
#include <zem/canvas/clip.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/controls.hpp>
#include <zem/widgets/hit_action.hpp>

namespace zem {

void CustomPaint::paint(Canvas& canvas, const Rect& r, const PaintState&) const {
    if (const Draw* d = std::get_if<Draw>(&painter)) {
        if (d->callback) (*d->callback)(canvas, r);
        return;
    }
    // Textures come from a GL context; a software canvas has none to give.
    if (canvas.is_software()) return;
    const Texture& t = std::get<Texture>(painter);
    if (!t.callback) return;
    if (GlesCanvas* gl = canvas.gles()) {
        const std::uint32_t texture = (*t.callback)(*gl, r);
        if (texture != 0) gl->draw_texture(texture, r, opacity);
    }
}

std::pair<float, float> CustomPaint::measure(Canvas&, float) const { return {width, height}; }

Traits CustomPaint::traits() const { return {}; }

HitAction CustomPaint::hit_action() const { return {}; }

std::optional<std::string> CustomPaint::access_text() const { return std::nullopt; }

}  // namespace zem

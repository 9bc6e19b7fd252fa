// Spacer: size, painting and what the frame records for it.

#include <zem/widgets/spacer.hpp>

#include <algorithm>

#include <zem/canvas/canvas.hpp>
#include <zem/widgets/element.hpp>

namespace zem {

std::pair<float, float> Spacer::measure(Canvas& canvas, float) const {
    return {width ? canvas.resolve_length(*width) : 0.0f, height ? canvas.resolve_length(*height) : 0.0f};
}

// A spacer asks for no width in a hugging container.
float Spacer::intrinsic_width(Canvas&, float) const { return 0.0f; }

void Spacer::paint(Canvas&, const Rect&, const PaintState&) const {}

Traits Spacer::traits() const { return {}; }

HitAction Spacer::hit_action() const { return {}; }

std::optional<std::string> Spacer::access_text() const { return std::nullopt; }

}  // namespace zem

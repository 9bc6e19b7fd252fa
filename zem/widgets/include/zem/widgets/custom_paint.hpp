#pragma once
// Painting supplied by the application.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zem/widgets/kind.hpp>

namespace zem {

// Painting supplied by the application. The texture form is given the GL
// canvas (whose context it may use) and answers a texture name for the
// rectangle (software canvases draw nothing for it); the draw form paints
// into the canvas itself.
struct CustomPaint {
    using TextureFn = std::function<std::uint32_t(GlesCanvas&, const Rect&)>;
    using DrawFn = std::function<void(Canvas&, const Rect&)>;
    struct Texture {
        std::shared_ptr<const TextureFn> callback;
    };
    struct Draw {
        std::shared_ptr<const DrawFn> callback;
    };
    std::variant<Texture, Draw> painter;
    float width = 0.0f;
    float height = 0.0f;
    float opacity = 1.0f;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    Traits traits() const;
    HitAction hit_action() const;
    std::optional<std::string> access_text() const;
};

}  // namespace zem

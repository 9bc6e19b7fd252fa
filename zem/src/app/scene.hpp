#pragma once
// What the frame drawer needs of the drawing target and of the element tree.
//
// The shell draws through this narrow interface: a `FrameCanvas` (the
// surface's drawing target) and a `Scene` (a tree that can lay itself out
// and paint into a canvas, recording its interactive regions). The toolkit's
// canvas and element tree plug in behind it.

#include <zem/app/message.hpp>
#include <zem/app/types.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zem {

struct FRect {
    float x = 0, y = 0, w = 0, h = 0;
    bool operator==(const FRect&) const = default;
};

struct RGBA {
    float r = 0, g = 0, b = 0, a = 0;
    bool operator==(const RGBA&) const = default;
};

// The drawing target of one surface, in physical pixels.
class FrameCanvas {
public:
    virtual ~FrameCanvas() = default;
    virtual uint32_t width() const = 0;
    virtual uint32_t height() const = 0;
    virtual void resize(uint32_t w, uint32_t h) = 0;
    virtual float scale() const = 0;
    virtual void set_scale(float s) = 0;
    virtual void reset_clip() = 0;
    virtual void set_clip_rects(std::span<const FRect> rects) = 0;
    virtual void clear_color(RGBA c) = 0;
    virtual void clear() = 0;
    virtual void clear_rects(std::span<const FRect> rects) = 0;
    virtual void fill_rounded_rect(FRect r, RGBA c, float radius) = 0;
    virtual void stroke_rounded_rect(FRect r, RGBA c, float radius, float width) = 0;
    virtual void draw_line(float x0, float y0, float x1, float y1, float width, RGBA c) = 0;
    // Text sizes are logical pixels (times the canvas scale); widths come back
    // in physical pixels.
    virtual float measure_text(std::string_view text, float size) = 0;
    virtual void draw_text(std::string_view text, float x, float baseline, float size, RGBA c) = 0;
    // Copies the whole pixmap into a buffer of width × height × 4 bytes in
    // R,G,B,A memory order (B,G,R,A when swap_rb).
    virtual void copy_to_buffer(std::span<uint8_t> out, bool swap_rb) = 0;
    virtual void present() {}
};

// A software canvas on a Cairo image surface.
std::unique_ptr<FrameCanvas> make_software_canvas(uint32_t w, uint32_t h);

// One interactive region of a frame, in buffer pixels.
struct HitRegion {
    enum Action : uint8_t { None = 0, Press = 1, Switch = 2, Checkbox = 3, RadioButton = 4,
                            ListItem = 5, WindowButton = 6, TextEdit = 7, Slider = 8 };
    WidgetId id = 0;
    std::optional<std::string> key;
    FRect rect;
    FRect painted_rect;
    Action action = None;
    OptionalMessage message;  // what a press sends
    uint8_t cursor = 0;

    OptionalMessage action_message() const {
        if (action >= Press && action <= WindowButton) return message;
        return std::nullopt;
    }
};

// What one layout-and-draw pass reads and fills.
struct FrameLayout {
    std::optional<WidgetId> focused, hovered, pressed;
    bool debug = false;
    std::vector<HitRegion> regions;       // filled by the pass
    std::vector<HitRegion> last_regions;  // the previous frame's, for lookups
};

// A tree that lays itself out in `content` and paints into `canvas`.
class SceneNode {
public:
    virtual ~SceneNode() = default;
    virtual void layout_and_draw(FrameCanvas& canvas, FRect content, FrameLayout& layout) const = 0;
};

using Scene = std::shared_ptr<const SceneNode>;

// An empty scene (draws nothing).
Scene empty_scene();

}  // namespace zem

#pragma once
// What every widget kind answers, and the small types those answers use.
//
// Each kind lives in its own header and source file beside this one and
// provides, as members:
//   measure(canvas, available)  the size it wants at most `available` wide
//   paint(canvas, rect, state)  its pixels (containers paint their own
//                               decoration only; the frame places children)
//   traits()                    focusability, cursor, key, painted inset and
//                               whether the frame records a touch region or
//                               an accessibility node for it
//   hit_action()                what activating it does
//   access_text()               its accessible text
// Containers add arrange(rect, canvas), where each child goes. `Element`
// (element.hpp) dispatches to these once per operation, so a kind that
// misses one fails to compile.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zem/core/message.hpp>
#include <zem/core/geometry.hpp>
#include <zem/core/paint.hpp>
#include <zem/core/length.hpp>
#include <zem/theme/picture.hpp>
#include <zem/core/box.hpp>

namespace zem {

class Canvas;
class GlesCanvas;
struct Element;
struct HitAction;

// Number of a widget within one frame, given by the layout-and-draw pass in
// pre-order from 0. Focus, hover, press, carets and scroll offsets key on it.
using LayoutId = std::uint64_t;

// The static text an application may give an element as its key (anchoring,
// hit-region key). Compared byte for byte.
using WidgetKey = std::string_view;

// Pointer shape: its number in the cursor-shape protocol's list minus one
// (34 values). The toolkit names the shapes it picks itself and "none";
// an application may give any other by its number.
enum class CursorShape : std::uint8_t { Default = 0, Pointer = 3, Text = 8, None = 34 };
inline constexpr CursorShape cursor_default = CursorShape::Default;
inline constexpr CursorShape cursor_pointer = CursorShape::Pointer;
inline constexpr CursorShape cursor_text = CursorShape::Text;
inline constexpr CursorShape cursor_none = CursorShape::None;

// Straight-alpha RGBA8 pixels shared by every holder.
struct ImageData {
    std::shared_ptr<const std::vector<std::uint8_t>> pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    static ImageData from(std::vector<std::uint8_t> rgba, std::uint32_t w, std::uint32_t h) {
        return ImageData{std::make_shared<const std::vector<std::uint8_t>>(std::move(rgba)), w, h};
    }
    // Shares the pixels of a rendered theme picture.
    static ImageData from(const PicturePtr& picture) {
        if (!picture) return ImageData{};
        return ImageData{std::shared_ptr<const std::vector<std::uint8_t>>(picture, &picture->rgba), picture->width,
                         picture->height};
    }
    const std::uint8_t* data() const { return pixels ? pixels->data() : nullptr; }
    std::size_t size() const { return pixels ? pixels->size() : 0; }
};

// Shared callbacks: the element holds one reference, its hit region another.
using TextCallback = std::shared_ptr<const std::function<std::optional<Message>(const std::string&)>>;
using ValueCallback = std::shared_ptr<const std::function<std::optional<Message>(float)>>;

template <class F>
TextCallback text_callback(F f) {
    return std::make_shared<const std::function<std::optional<Message>(const std::string&)>>(std::move(f));
}
template <class F>
ValueCallback value_callback(F f) {
    return std::make_shared<const std::function<std::optional<Message>(float)>>(std::move(f));
}

enum class ButtonStyle : std::uint8_t { Filled = 0, Outlined = 1, Plain = 2 };
enum class ScrollAxis : std::uint8_t { Vertical = 0, Horizontal = 1, Both = 2 };
enum class Align : std::uint8_t { Start = 0, Center = 1, End = 2, Stretch = 3 };
// Where a line of text sits in its rectangle.
enum class TextAlign : std::uint8_t { Start = 0, Center = 1, End = 2 };
enum class WindowControl : std::uint8_t { Minimize = 0, Maximize = 1, Restore = 2, Close = 3 };

// The role of a widget the accessibility tree shows without a touch region.
enum class AccessNodeKind : std::uint32_t { Text = 0, Image = 1, Divider = 2, ProgressBar = 3 };

// The frame's state of one widget while it is painted. `caret` and
// `anchor` are byte indices into a text field's value.
struct PaintState {
    bool focused = false;
    bool hovered = false;
    bool pressed = false;
    std::size_t caret = 0;
    std::size_t anchor = 0;
};

// How the frame treats a widget besides painting it.
struct Traits {
    // A touch region is recorded for the widget.
    bool region = false;
    // Else an accessibility node of this role (with `node_value` for a
    // progress bar) is recorded.
    std::optional<AccessNodeKind> node;
    float node_value = 0.0f;
    // The node's changes are announced politely.
    bool live = false;
    bool focusable = false;
    CursorShape cursor = cursor_default;
    std::optional<WidgetKey> key;
    // How far focus rings and shadows reach beyond the widget's rectangle.
    float painted_inset = 0.0f;
    const std::string* tooltip = nullptr;
};

// Where an arrange rule puts one child.
struct ChildSlot {
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
    float h = 0.0f;
    std::size_t index = 0;

    friend bool operator==(const ChildSlot&, const ChildSlot&) = default;
};

}  // namespace zem

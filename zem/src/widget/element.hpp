#pragma once
// The element tree: what an application's `view` returns on every redraw.
//
// A tree is plain data. It owns its children and the application's messages
// (in the type-erased `Message` box), it is measured, arranged and painted by
// the layout-and-draw pass, and then thrown away. Nothing that must outlive a
// frame (scroll offsets, carets, layer canvases) lives in an element.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <zem/app/message.hpp>
#include <zem/draw/geometry.hpp>
#include <zem/draw/paint.hpp>
#include <zem/draw/spinner.hpp>
#include <zem/layout/length.hpp>
#include <zem/system_fonts/font_registry.hpp>
#include <zem/theme/picture.hpp>
#include <zem/widget/box.hpp>

namespace zem {

class Canvas;
class GlesCanvas;
struct Element;
struct ChildSlot;
struct HitAction;

// Number of a widget within one frame, given by the layout-and-draw pass in
// pre-order from 0. Focus, hover, press, carets and scroll offsets key on it.
using LayoutId = std::uint64_t;

// The static text an application may give an element as its key (anchoring,
// hit-region key). Compared byte for byte.
using WidgetKey = std::string_view;

// Pointer shape: its number in the cursor-shape protocol's list minus one.
using CursorShape = std::uint8_t;
inline constexpr CursorShape cursor_default = 0;
inline constexpr CursorShape cursor_pointer = 3;
inline constexpr CursorShape cursor_text = 8;
inline constexpr CursorShape cursor_none = 34;

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
enum class WindowControl : std::uint8_t { Minimize = 0, Maximize = 1, Restore = 2, Close = 3 };

// ---------------------------------------------------------------- leaves

struct Button {
    // The label form holds text, the icon form an image.
    std::variant<std::string, ImageData> content;
    std::optional<std::string> tooltip;
    std::optional<Message> on_press;
    std::optional<Message> on_long_press;
    std::optional<Message> on_drag;
    std::optional<WidgetKey> key;
    std::optional<Length> icon_size;
    std::optional<Length> font_size;
    std::optional<Length> height;
    std::optional<Length> width;
    bool focusable = false;
    bool auto_repeat = false;
    ButtonStyle style = ButtonStyle::Filled;
    std::optional<CursorShape> cursor;

    const std::string* label() const { return std::get_if<std::string>(&content); }
    const ImageData* icon() const { return std::get_if<ImageData>(&content); }
};

// The show/hide control of a password field.
struct Reveal {
    bool revealed = false;
    Message toggle;
};

struct TextEdit {
    std::string placeholder;
    std::string value;
    std::optional<Reveal> reveal;
    std::optional<Message> on_submit;
    TextCallback on_change;
    std::optional<WidgetKey> key;
    std::optional<Length> width;
    std::optional<Length> font_size;
    std::optional<Length> height;
    std::uint32_t rows = 1;
    bool password = false;
    bool multiline = false;
    bool bare = false;
    bool caret_to_end = false;
    bool disabled = false;
    std::uint8_t align = 0;
    std::optional<CursorShape> cursor;

    TextEdit() = default;
    TextEdit(const TextEdit& other) = default;
    TextEdit(TextEdit&& other) noexcept;
    TextEdit& operator=(const TextEdit& other);
    TextEdit& operator=(TextEdit&& other) noexcept;
    // A password field's text is overwritten with zeros when it is released.
    ~TextEdit();

    // Whether the text is shown as bullets.
    bool masked() const { return reveal ? !reveal->revealed : password; }
    // Whether the field is laid out as wrapped lines.
    bool shows_multiline() const { return multiline && !masked(); }
    bool holds_secret() const { return password || reveal.has_value(); }

    // Geometry of the field's text, shared by drawing and hit testing.
    // Horizontal scroll of a single-line field that keeps the caret in view.
    static float scroll_offset(Canvas& canvas, const Rect& rect, std::string_view text, std::size_t caret,
                               bool masked, float font_size);
    // Shift of a single-line field's text for its alignment.
    static float align_offset(Canvas& canvas, const Rect& rect, std::string_view text, bool masked,
                              std::uint8_t align, float font_size);

private:
    void wipe() noexcept;
};

struct Image {
    std::optional<Length> width;
    std::optional<Length> height;
    std::optional<Length> size;
    ImageData image;
    float opacity = 1.0f;
};

struct TextFont {
    std::string family;
    std::uint16_t weight = 400;
    FontStyle style = FontStyle::Normal;
};

struct Text {
    std::string text;
    std::optional<TextFont> font;
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    Length size = Length::px(16.0f);
    float line_height = 1.0f;
    bool wrap = false;
    bool truncate = true;
    std::uint8_t align = 0;

    // Sets the family "sora" with the given weight, upright.
    Text& font_weight(std::uint16_t weight) &;
    Text font_weight(std::uint16_t weight) &&;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void draw(Canvas& canvas, const Rect& r) const;
    // Greedy word wrap of `s` into lines no wider than `max_width` where the
    // words allow it.
    static std::vector<std::string> wrap_lines(const std::string& s, const TextFont* font, float size,
                                               float max_width, Canvas& canvas);
};

struct RichTextLink {
    Message message;
    std::size_t start = 0;
    std::size_t end = 0;
};

struct RichText {
    std::string text;
    std::vector<RichTextLink> links;
    std::optional<std::string> family;
    std::uint16_t weight = 400;
    std::uint8_t style = 0;
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    Color link_color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    Length size = Length::px(16.0f);

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void draw(Canvas& canvas, const Rect& r) const;
};

struct Spacer {
    std::optional<Length> height;
    std::optional<Length> width;
    std::uint32_t weight = 1;
};

struct Slider {
    std::optional<Paint> track_fill;
    const char* track_surface = "surface-slider-track";
    const char* fill_surface = "surface-slider-fill";
    ValueCallback on_change;
    ValueCallback on_release;
    float value = 0.0f;
    bool large_knob = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

struct VerticalSlider {
    ValueCallback on_change;
    ValueCallback on_release;
    const char* track_surface = "surface-slider-track";
    const char* fill_surface = "surface-slider-fill";
    float value = 0.0f;
    Length width = Length::px(0.0f);
    Length height = Length::px(0.0f);
};

struct Switch {
    std::optional<std::string> label;
    std::optional<Message> on_toggle;
    std::optional<WidgetKey> key;
    std::optional<Length> height;
    bool on = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

struct Divider {
    std::optional<Length> thickness;
    std::optional<Length> margin;
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

struct ProgressBar {
    Color color = Color{0.0f, 0.0f, 0.0f, 1.0f};
    float value = 0.0f;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

struct Checkbox {
    std::optional<std::string> label;
    std::optional<Message> on_toggle;
    std::optional<WidgetKey> key;
    bool checked = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

struct RadioButton {
    std::optional<std::string> label;
    std::optional<Message> on_select;
    std::optional<WidgetKey> key;
    std::optional<Length> height;
    bool selected = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

struct ListItem {
    std::string title;
    std::optional<std::string> subtitle;
    std::optional<std::string> trailing_text;
    std::optional<Message> on_tap;
    std::optional<ImageData> trailing_image;
    std::optional<WidgetKey> key;
    std::optional<ImageData> leading_image;
    std::optional<Length> padding;
    std::optional<Length> height;
    std::optional<Length> font_size;
    bool selected = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

struct WindowButton {
    std::optional<Message> on_press;
    std::optional<WidgetKey> key;
    float size = 0.0f;  // 0 or less: responsive 36 px
    WindowControl control = WindowControl::Close;
    bool focusable = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

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

    void paint(Canvas& canvas, const Rect& r, bool focused, bool hovered, bool pressed) const;
};

// ---------------------------------------------------------------- containers

struct Container {
    std::optional<std::string> surface;
    std::optional<Paint> fill = Paint{Color{0.933f, 0.933f, 0.933f, 1.0f}};
    std::optional<std::pair<Color, float>> border;
    std::optional<float> max_width;
    Box<Element> child;
    Radii radii{};
    Length top = Length::px(0.0f);
    Length right = Length::px(0.0f);
    Length bottom = Length::px(0.0f);
    Length left = Length::px(0.0f);
    float opacity = 1.0f;
    bool modal = false;

    Container();
    explicit Container(Element child);
    // All four insets at once.
    Container& insets(Length all) &;
    Container insets(Length all) &&;
};

struct Column {
    std::vector<Element> children;
    Length spacing = Length::px(0.0f);
    Length padding = Length::px(0.0f);
    std::optional<Length> max_width;
    bool center_x = true;
    bool center_y = false;
    bool hug = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    std::vector<ChildSlot> arrange(const Rect& rect, Canvas& canvas) const;
};

struct Row {
    std::vector<Element> children;
    Length spacing = Length::px(0.0f);
    Length padding = Length::px(0.0f);
    bool align_end = false;
    bool align_top = false;
    bool stretch = false;
    bool shrink = true;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    std::vector<ChildSlot> arrange(const Rect& rect, Canvas& canvas) const;
};

struct StackChild;

struct Stack {
    std::vector<StackChild> children;
    bool hug = false;

    Stack& push(Element element, Align h, Align v, float margin) &;
    Stack push(Element element, Align h, Align v, float margin) &&;
    std::pair<float, float> measure(Canvas& canvas, float available) const;
    std::vector<ChildSlot> arrange(const Rect& rect, Canvas& canvas) const;
};

struct WrapGrid {
    std::optional<std::size_t> max_columns;
    std::vector<Element> children;
    std::size_t columns = 1;
    Length column_gap = Length::px(0.0f);
    Length row_gap = Length::px(0.0f);
    Length padding = Length::px(0.0f);
    std::optional<Length> min_cell_width;
    bool center_last_row = false;

    std::pair<float, float> measure(Canvas& canvas, float available) const;
    std::vector<ChildSlot> arrange(const Rect& rect, Canvas& canvas) const;
};

struct Scroll {
    Box<Element> child;
    ScrollAxis axis = ScrollAxis::Vertical;
};

struct Layer {
    std::optional<float> width;
    std::optional<float> height;
    Box<Element> child;
    float fade_bottom = 0.0f;
    bool own_viewport = false;
};

struct GestureArea {
    std::optional<Message> on_tap;
    std::optional<Message> on_long_press;
    std::optional<Message> on_drag;
    std::optional<Message> on_escape;
    std::optional<WidgetKey> key;
    Box<Element> child;
    std::optional<CursorShape> cursor;
    bool capture = false;
};

struct Expanded {
    Box<Element> child;
    std::uint32_t weight = 1;
};

struct Anchored {
    Box<Element> child;
    WidgetKey anchor;
    float gap = 0.0f;
};

struct Carousel {
    std::vector<Element> children;
    float item_fraction = 1.0f;
    float gap = 0.0f;
    float offset = 0.0f;
};

// ---------------------------------------------------------------- the union

enum class ElementKind : std::uint8_t {
    Button = 0,
    Container = 1,
    TextEdit = 2,
    Image = 3,
    Column = 4,
    Row = 5,
    Stack = 6,
    Text = 7,
    RichText = 8,
    Spacer = 9,
    Scroll = 10,
    Layer = 11,
    WrapGrid = 12,
    Slider = 13,
    VerticalSlider = 14,
    Switch = 15,
    Divider = 16,
    ProgressBar = 17,
    Checkbox = 18,
    RadioButton = 19,
    ListItem = 20,
    WindowButton = 21,
    GestureArea = 22,
    Expanded = 23,
    Anchored = 24,
    Spinner = 25,
    CustomPaint = 26,
    Carousel = 27,
};

// The alternatives are in kind-number order: the index is the kind.
using ElementVariant =
    std::variant<Button, Container, TextEdit, Image, Column, Row, Stack, Text, RichText, Spacer, Scroll, Layer,
                 WrapGrid, Slider, VerticalSlider, Switch, Divider, ProgressBar, Checkbox, RadioButton, ListItem,
                 WindowButton, GestureArea, Expanded, Anchored, Spinner, CustomPaint, Carousel>;

template <class K, class V>
inline constexpr bool is_alternative = false;
template <class K, class... Ks>
inline constexpr bool is_alternative<K, std::variant<Ks...>> = (std::is_same_v<K, Ks> || ...);
template <class K>
inline constexpr bool is_element_kind = is_alternative<K, ElementVariant>;

struct Element {
    ElementVariant node;

    Element() : node(Spacer{}) {}
    template <class K>
        requires(is_element_kind<std::decay_t<K>>)
    Element(K&& kind) : node(std::forward<K>(kind)) {}  // NOLINT: implicit on purpose

    ElementKind kind() const { return static_cast<ElementKind>(node.index()); }
    template <class K>
    const K* as() const {
        return std::get_if<K>(&node);
    }
    template <class K>
    K* as() {
        return std::get_if<K>(&node);
    }

    // The size the element wants when given at most `available` width.
    std::pair<float, float> measure(Canvas& canvas, float available) const;

    // What activating the element does: messages cloned, callbacks shared,
    // a field's text copied.
    HitAction hit_action() const;
    // The element's accessible text.
    std::optional<std::string> text() const;
};

struct StackChild {
    Element element;
    std::optional<Rect> placement;
    float margin = 0.0f;
    float offset_x = 0.0f;
    float offset_y = 0.0f;
    Align h_align = Align::Start;
    Align v_align = Align::Start;
    std::optional<Rect> clip;
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

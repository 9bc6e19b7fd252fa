#pragma once
// The element tree: what an application's `view` returns on every redraw.
//
// A tree is plain data. It owns its children and the application's messages
// (in the type-erased `Message` box), it is measured, arranged and painted by
// the layout-and-draw pass, and then thrown away. Nothing that must outlive a
// frame (scroll offsets, carets, layer canvases) lives in an element.
//
// Each kind has its own header and source file; see kind.hpp for what a
// kind provides and this file's `Element` for the one place that dispatches.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <zem/widgets/hit_action.hpp>
#include <zem/widgets/kind.hpp>

#include <zem/widgets/anchored.hpp>
#include <zem/widgets/button.hpp>
#include <zem/widgets/carousel.hpp>
#include <zem/widgets/checkbox.hpp>
#include <zem/widgets/column.hpp>
#include <zem/widgets/container.hpp>
#include <zem/widgets/custom_paint.hpp>
#include <zem/widgets/divider.hpp>
#include <zem/widgets/expanded.hpp>
#include <zem/widgets/gesture_area.hpp>
#include <zem/widgets/image.hpp>
#include <zem/widgets/layer.hpp>
#include <zem/widgets/list_item.hpp>
#include <zem/widgets/progress_bar.hpp>
#include <zem/widgets/radio_button.hpp>
#include <zem/widgets/rich_text.hpp>
#include <zem/widgets/row.hpp>
#include <zem/widgets/scroll.hpp>
#include <zem/widgets/slider.hpp>
#include <zem/widgets/spacer.hpp>
#include <zem/widgets/spinner.hpp>
#include <zem/widgets/stack.hpp>
#include <zem/widgets/switch.hpp>
#include <zem/widgets/text.hpp>
#include <zem/widgets/text_edit.hpp>
#include <zem/widgets/vertical_slider.hpp>
#include <zem/widgets/window_button.hpp>
#include <zem/widgets/wrap_grid.hpp>

namespace zem {

// The kind numbers the wire and the tests use.
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

template <class K, ElementKind N>
inline constexpr bool kind_number_is =
    std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(N), ElementVariant>, K>;
static_assert(std::variant_size_v<ElementVariant> == static_cast<std::size_t>(ElementKind::Carousel) + 1);
static_assert(kind_number_is<Button, ElementKind::Button> && kind_number_is<Container, ElementKind::Container> &&
              kind_number_is<TextEdit, ElementKind::TextEdit> && kind_number_is<Image, ElementKind::Image> &&
              kind_number_is<Column, ElementKind::Column> && kind_number_is<Row, ElementKind::Row> &&
              kind_number_is<Stack, ElementKind::Stack> && kind_number_is<Text, ElementKind::Text> &&
              kind_number_is<RichText, ElementKind::RichText> && kind_number_is<Spacer, ElementKind::Spacer> &&
              kind_number_is<Scroll, ElementKind::Scroll> && kind_number_is<Layer, ElementKind::Layer> &&
              kind_number_is<WrapGrid, ElementKind::WrapGrid> && kind_number_is<Slider, ElementKind::Slider> &&
              kind_number_is<VerticalSlider, ElementKind::VerticalSlider> &&
              kind_number_is<Switch, ElementKind::Switch> && kind_number_is<Divider, ElementKind::Divider> &&
              kind_number_is<ProgressBar, ElementKind::ProgressBar> &&
              kind_number_is<Checkbox, ElementKind::Checkbox> &&
              kind_number_is<RadioButton, ElementKind::RadioButton> &&
              kind_number_is<ListItem, ElementKind::ListItem> &&
              kind_number_is<WindowButton, ElementKind::WindowButton> &&
              kind_number_is<GestureArea, ElementKind::GestureArea> &&
              kind_number_is<Expanded, ElementKind::Expanded> && kind_number_is<Anchored, ElementKind::Anchored> &&
              kind_number_is<Spinner, ElementKind::Spinner> &&
              kind_number_is<CustomPaint, ElementKind::CustomPaint> &&
              kind_number_is<Carousel, ElementKind::Carousel>,
              "the variant's order must match the kind numbers");

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
    // The width a child of a hugging column or stack asks for before the
    // container takes the widest: the kind's own `intrinsic_width` where it
    // has one (flexible kinds answer 0), else its measured width.
    float intrinsic_width(Canvas& canvas, float available) const;
    // Paints the element itself; children are the frame's to place.
    void paint(Canvas& canvas, const Rect& rect, const PaintState& state) const;
    // How the frame treats the element besides painting it.
    Traits traits() const;
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

// The rectangle the element paints, with its focus rings and shadows.
Rect painted_bounds(const Element& element, const Rect& rect);

}  // namespace zem

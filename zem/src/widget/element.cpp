// Element measuring and the life of password text.

#include <zem/widget/element.hpp>

#include <algorithm>
#include <cstring>
#include <string.h>  // explicit_bzero

#include <zem/draw/leaf.hpp>
#include <zem/draw/canvas.hpp>

namespace zem {

// ---------------------------------------------------------------- TextEdit

void TextEdit::wipe() noexcept {
    if (holds_secret() && !value.empty()) explicit_bzero(value.data(), value.size());
}

// Moving a short string copies its bytes out of the small-string buffer and
// leaves them there, so a secret is copied and the source wiped instead.
TextEdit::TextEdit(TextEdit&& other) noexcept
    : placeholder(std::move(other.placeholder)),
      value(other.value),
      reveal(std::move(other.reveal)),
      on_submit(std::move(other.on_submit)),
      on_change(std::move(other.on_change)),
      key(other.key),
      width(other.width),
      font_size(other.font_size),
      height(other.height),
      rows(other.rows),
      password(other.password),
      multiline(other.multiline),
      bare(other.bare),
      caret_to_end(other.caret_to_end),
      disabled(other.disabled),
      align(other.align),
      cursor(other.cursor) {
    if (!other.value.empty()) explicit_bzero(other.value.data(), other.value.size());
    other.value.clear();
}

TextEdit& TextEdit::operator=(const TextEdit& other) {
    if (this == &other) return *this;
    wipe();
    placeholder = other.placeholder;
    value = other.value;
    reveal = other.reveal;
    on_submit = other.on_submit;
    on_change = other.on_change;
    key = other.key;
    width = other.width;
    font_size = other.font_size;
    height = other.height;
    rows = other.rows;
    password = other.password;
    multiline = other.multiline;
    bare = other.bare;
    caret_to_end = other.caret_to_end;
    disabled = other.disabled;
    align = other.align;
    cursor = other.cursor;
    return *this;
}

TextEdit& TextEdit::operator=(TextEdit&& other) noexcept {
    if (this == &other) return *this;
    wipe();
    placeholder = std::move(other.placeholder);
    value.assign(other.value);
    if (!other.value.empty()) explicit_bzero(other.value.data(), other.value.size());
    other.value.clear();
    reveal = std::move(other.reveal);
    on_submit = std::move(other.on_submit);
    on_change = std::move(other.on_change);
    key = other.key;
    width = other.width;
    font_size = other.font_size;
    height = other.height;
    rows = other.rows;
    password = other.password;
    multiline = other.multiline;
    bare = other.bare;
    caret_to_end = other.caret_to_end;
    disabled = other.disabled;
    align = other.align;
    cursor = other.cursor;
    return *this;
}

TextEdit::~TextEdit() { wipe(); }

// ---------------------------------------------------------------- Container

Container::Container() = default;

Container::Container(Element child_element) : child(std::move(child_element)) {}

Container& Container::insets(Length all) & {
    top = right = bottom = left = all;
    return *this;
}

Container Container::insets(Length all) && {
    insets(all);
    return std::move(*this);
}

// ---------------------------------------------------------------- measure

namespace {

// Multi-line fields use a fixed 22.4 px line pitch and 24 px of vertical
// inset, shared with their drawing and hit testing.
constexpr float edit_line_height = 22.4f;
constexpr float edit_vertical_inset = 24.0f;

std::pair<float, float> measure_button(const Button& b, Canvas& canvas, float avail) {
    if (const ImageData* icon = b.icon()) {
        (void)icon;
        const float nominal = b.icon_size ? canvas.resolve_length(*b.icon_size) : canvas.responsive_px(48.0f);
        const float side = std::min(nominal, avail);
        return {side, side};
    }
    float w = 0.0f;
    if (b.width) {
        w = std::min(canvas.resolve_length(*b.width), avail);
    } else {
        const float fs = b.font_size ? canvas.resolve_text_length(*b.font_size) : canvas.responsive_text_px(16.0f);
        w = std::min(canvas.measure_text(*b.label(), fs) + 2.0f * canvas.responsive_px(24.0f), avail);
    }
    const float h = b.height ? canvas.resolve_length(*b.height) : canvas.responsive_px(48.0f);
    return {w, h};
}

std::pair<float, float> measure_container(const Container& c, Canvas& canvas, float avail) {
    const float l = canvas.resolve_length(c.left);
    const float r = canvas.resolve_length(c.right);
    const float t = canvas.resolve_length(c.top);
    const float b = canvas.resolve_length(c.bottom);
    const float outer = c.max_width ? std::min(avail, *c.max_width) : avail;
    const auto [cw, ch] = c.child->measure(canvas, std::max(outer - l - r, 0.0f));
    return {l + r + cw, t + b + ch};
}

std::pair<float, float> measure_text_edit(const TextEdit& t, Canvas& canvas, float avail) {
    if (t.shows_multiline()) {
        return {avail, static_cast<float>(t.rows) * edit_line_height + edit_vertical_inset};
    }
    const float w = t.width ? std::min(canvas.resolve_length(*t.width), avail) : avail;
    const float h = t.height ? canvas.resolve_length(*t.height) : canvas.responsive_px(48.0f);
    return {w, h};
}

}  // namespace

std::pair<float, float> Element::measure(Canvas& canvas, float avail) const {
    switch (kind()) {
    case ElementKind::Button: return measure_button(*as<Button>(), canvas, avail);
    case ElementKind::Container: return measure_container(*as<Container>(), canvas, avail);
    case ElementKind::TextEdit: return measure_text_edit(*as<TextEdit>(), canvas, avail);
    case ElementKind::Image: return image_measure(*as<Image>(), canvas, avail);
    case ElementKind::Column: return as<Column>()->measure(canvas, avail);
    case ElementKind::Row: return as<Row>()->measure(canvas, avail);
    case ElementKind::Stack: return as<Stack>()->measure(canvas, avail);
    case ElementKind::Text: return as<Text>()->measure(canvas, avail);
    case ElementKind::RichText: return as<RichText>()->measure(canvas, avail);
    case ElementKind::Spacer: {
        const Spacer& s = *as<Spacer>();
        return {s.width ? canvas.resolve_length(*s.width) : 0.0f, s.height ? canvas.resolve_length(*s.height) : 0.0f};
    }
    case ElementKind::Scroll: {
        // A vertical or two-way scroll has no natural height, so that a
        // column treats it as flexible.
        const Scroll& s = *as<Scroll>();
        if (s.axis == ScrollAxis::Horizontal) return {avail, s.child->measure(canvas, avail).second};
        return {avail, 0.0f};
    }
    case ElementKind::Layer: {
        const Layer& l = *as<Layer>();
        const float w = l.width.value_or(avail);
        const float h = l.height ? *l.height : l.child->measure(canvas, w).second;
        return {w, h};
    }
    case ElementKind::WrapGrid: return as<WrapGrid>()->measure(canvas, avail);
    case ElementKind::Slider: return as<Slider>()->measure(canvas, avail);
    case ElementKind::VerticalSlider: {
        const VerticalSlider& v = *as<VerticalSlider>();
        return {std::max(canvas.resolve_length(v.width), 2.0f), std::max(canvas.resolve_length(v.height), 2.0f)};
    }
    case ElementKind::Switch: return as<Switch>()->measure(canvas, avail);
    case ElementKind::Divider: return as<Divider>()->measure(canvas, avail);
    case ElementKind::ProgressBar: return as<ProgressBar>()->measure(canvas, avail);
    case ElementKind::Checkbox: return as<Checkbox>()->measure(canvas, avail);
    case ElementKind::RadioButton: return as<RadioButton>()->measure(canvas, avail);
    case ElementKind::ListItem: return as<ListItem>()->measure(canvas, avail);
    case ElementKind::WindowButton: return as<WindowButton>()->measure(canvas, avail);
    case ElementKind::GestureArea: return as<GestureArea>()->child->measure(canvas, avail);
    case ElementKind::Expanded: return {0.0f, as<Expanded>()->child->measure(canvas, avail).second};
    case ElementKind::Anchored: return as<Anchored>()->child->measure(canvas, avail);
    case ElementKind::Spinner: {
        const SizeF s = Spinner::measure(*as<Spinner>(), canvas, avail);
        return {s.w, s.h};
    }
    case ElementKind::CustomPaint: return {as<CustomPaint>()->width, as<CustomPaint>()->height};
    case ElementKind::Carousel: {
        const Carousel& c = *as<Carousel>();
        if (c.children.empty()) return {avail, 0.0f};
        const float item = std::max(avail * c.item_fraction, 1.0f);
        float tallest = 0.0f;
        for (const Element& child : c.children) tallest = std::max(tallest, child.measure(canvas, item).second);
        return {avail, tallest};
    }
    }
    return {0.0f, 0.0f};
}

}  // namespace zem

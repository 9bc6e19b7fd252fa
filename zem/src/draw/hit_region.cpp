#include <zem/draw/hit_region.hpp>

#include <algorithm>

#include <zem/widget/controls.hpp>

namespace zem {

HitAction Element::hit_action() const {
    switch (kind()) {
    case ElementKind::Button: {
        const Button& b = *as<Button>();
        return HitAction{HitAction::Press{b.auto_repeat, b.on_press, b.on_long_press, b.on_drag, std::nullopt}};
    }
    case ElementKind::GestureArea: {
        const GestureArea& g = *as<GestureArea>();
        return HitAction{HitAction::Press{false, g.on_tap, g.on_long_press, g.on_drag, g.on_escape}};
    }
    case ElementKind::Switch: return HitAction{HitAction::Switch{as<Switch>()->on, as<Switch>()->on_toggle}};
    case ElementKind::Checkbox:
        return HitAction{HitAction::Checkbox{as<Checkbox>()->checked, as<Checkbox>()->on_toggle}};
    case ElementKind::RadioButton:
        return HitAction{HitAction::RadioButton{as<RadioButton>()->selected, as<RadioButton>()->on_select}};
    case ElementKind::ListItem: return HitAction{HitAction::ListItem{as<ListItem>()->on_tap}};
    case ElementKind::WindowButton: return HitAction{HitAction::WindowButton{as<WindowButton>()->on_press}};
    case ElementKind::TextEdit: {
        const TextEdit& t = *as<TextEdit>();
        HitAction::TextEdit a;
        a.align = t.align;
        a.password = t.reveal ? true : t.password;
        a.multiline = t.multiline && (t.reveal ? t.reveal->revealed : !t.password);
        a.caret_to_end = t.caret_to_end;
        a.font_size = t.font_size;
        a.on_change = t.on_change;
        a.on_submit = t.on_submit;
        if (t.reveal) a.reveal_toggle = t.reveal->toggle;
        a.text = t.value;
        return HitAction{std::move(a)};
    }
    case ElementKind::Slider: {
        const Slider& s = *as<Slider>();
        return HitAction{HitAction::Slider{false, s.value, 24.0f, s.on_change, s.on_release}};
    }
    case ElementKind::VerticalSlider: {
        const VerticalSlider& s = *as<VerticalSlider>();
        return HitAction{HitAction::Slider{true, s.value, 0.0f, s.on_change, s.on_release}};
    }
    default: return HitAction{HitAction::None{}};
    }
}

std::optional<std::string> Element::text() const {
    auto non_empty = [](const std::string& s) -> std::optional<std::string> {
        if (s.empty()) return std::nullopt;
        return s;
    };
    switch (kind()) {
    case ElementKind::Button: {
        const Button& b = *as<Button>();
        if (const std::string* label = b.label()) return *label;
        return b.tooltip;
    }
    case ElementKind::Text: return non_empty(as<Text>()->text);
    case ElementKind::RichText: return non_empty(as<RichText>()->text);
    case ElementKind::ListItem: return non_empty(as<ListItem>()->title);
    case ElementKind::Switch: return as<Switch>()->label;
    case ElementKind::Checkbox: return as<Checkbox>()->label;
    case ElementKind::RadioButton: return as<RadioButton>()->label;
    default: return std::nullopt;
    }
}

Rect painted_bounds(const Element& element, const Rect& rect) {
    float d = 0.0f;
    switch (element.kind()) {
    case ElementKind::Button: {
        const Button& b = *element.as<Button>();
        if (b.icon() != nullptr) {
            d = 14.5f;
        } else {
            d = b.style == ButtonStyle::Plain ? 4.5f : 7.5f;
        }
        break;
    }
    case ElementKind::TextEdit: d = 2.0f; break;
    case ElementKind::Slider: {
        const Slider& s = *element.as<Slider>();
        d = std::max(s.large_knob ? 3.0f : 2.0f, surface_shadow_reach(s.track_surface));
        break;
    }
    case ElementKind::Switch:
    case ElementKind::Checkbox:
    case ElementKind::RadioButton: d = 7.5f; break;
    case ElementKind::ListItem: d = 2.0f; break;
    case ElementKind::WindowButton: d = 5.0f; break;
    default: break;
    }
    return Rect{rect.x - d, rect.y - d, rect.w + 2.0f * d, rect.h + 2.0f * d};
}

bool element_focusable(const Element& element) {
    switch (element.kind()) {
    case ElementKind::Switch:
    case ElementKind::Checkbox:
    case ElementKind::RadioButton:
    case ElementKind::ListItem:
    case ElementKind::Slider:
    case ElementKind::VerticalSlider: return true;
    case ElementKind::Button: return element.as<Button>()->focusable;
    case ElementKind::WindowButton: return element.as<WindowButton>()->focusable;
    case ElementKind::TextEdit: return !element.as<TextEdit>()->disabled;
    default: return false;
    }
}

CursorShape element_cursor(const Element& element) {
    switch (element.kind()) {
    case ElementKind::Button: return element.as<Button>()->cursor.value_or(cursor_pointer);
    case ElementKind::TextEdit: return element.as<TextEdit>()->cursor.value_or(cursor_text);
    case ElementKind::GestureArea: return element.as<GestureArea>()->cursor.value_or(cursor_pointer);
    case ElementKind::Slider:
    case ElementKind::VerticalSlider:
    case ElementKind::Switch:
    case ElementKind::Checkbox:
    case ElementKind::RadioButton:
    case ElementKind::ListItem:
    case ElementKind::WindowButton: return cursor_pointer;
    default: return cursor_default;
    }
}

std::optional<WidgetKey> element_key(const Element& element) {
    switch (element.kind()) {
    case ElementKind::Button: return element.as<Button>()->key;
    case ElementKind::TextEdit: return element.as<TextEdit>()->key;
    case ElementKind::Switch: return element.as<Switch>()->key;
    case ElementKind::Checkbox: return element.as<Checkbox>()->key;
    case ElementKind::RadioButton: return element.as<RadioButton>()->key;
    case ElementKind::ListItem: return element.as<ListItem>()->key;
    case ElementKind::WindowButton: return element.as<WindowButton>()->key;
    case ElementKind::GestureArea: return element.as<GestureArea>()->key;
    default: return std::nullopt;
    }
}

}  // namespace zem

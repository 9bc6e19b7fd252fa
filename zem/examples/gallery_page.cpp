#include "gallery_page.hpp"

#include <zem/theme/active.hpp>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace zem::gallery {

namespace {

Element text(std::string s, float size, Color color) {
    Text t;
    t.text = std::move(s);
    t.size = Length::px(size);
    t.color = color;
    return t;
}

Element button(const char* label, WidgetKey key) {
    Button b;
    b.content = std::string(label);
    b.on_press = Message(Pressed{label});
    b.key = key;
    b.focusable = true;
    return b;
}

}  // namespace

Element page(bool switch_on, float progress) {
    Column buttons;
    buttons.spacing = Length::px(8);
    buttons.children.push_back(button("Primary", "button.primary"));
    buttons.children.push_back(button("Secondary", "button.secondary"));
    buttons.children.push_back(button("Tertiary", "button.tertiary"));

    Container card{Element(std::move(buttons))};
    card.fill = Paint{theme::palette().surface};
    card.radii = Radii::all(16);
    card.insets(Length::px(16));

    Switch wifi;
    wifi.label = "Wi-Fi";
    wifi.on = switch_on;
    wifi.on_toggle = Message(Pressed{"Wi-Fi"});
    wifi.key = "switch.wifi";

    Divider divider;
    divider.color = theme::palette_divider();

    ProgressBar bar;
    bar.color = theme::palette_accent();
    bar.value = progress;

    Column page;
    page.padding = Length::px(24);
    page.spacing = Length::px(16);
    page.center_x = false;
    page.children.push_back(text("Gallery", 28, theme::palette_text_primary()));
    page.children.push_back(text("Every kind of element the toolkit draws.", 16, theme::palette_text_secondary()));
    page.children.push_back(std::move(card));
    page.children.push_back(std::move(divider));
    page.children.push_back(std::move(wifi));
    page.children.push_back(text("Copying files", 14, theme::palette_text_secondary()));
    page.children.push_back(std::move(bar));
    return page;
}

Element every_kind_page(const GalleryState& state) {
    Row actions;
    actions.spacing = Length::px(8);
    actions.children.push_back(button("Primary", "button.primary"));
    actions.children.push_back(button("Advance", "button.advance"));

    Switch wifi;
    wifi.label = "Wi-Fi";
    wifi.on = state.switch_on;
    wifi.on_toggle = Message(Pressed{"Wi-Fi"});

    Checkbox remember;
    remember.label = "Remember me";
    remember.checked = state.remember;
    remember.on_toggle = Message(Pressed{"Remember me"});

    Row choices;
    choices.spacing = Length::px(8);
    for (const char* mode : {"Light", "Dark"}) {
        RadioButton r;
        r.label = std::string(mode);
        r.selected = (std::string_view(mode) == "Dark") == state.dark;
        r.on_select = Message(Pressed{mode});
        choices.children.push_back(std::move(r));
    }

    Row fields;
    fields.spacing = Length::px(8);
    TextEdit name;
    name.placeholder = "Name";
    name.key = "edit.name";
    name.value = WipingString(state.name);
    name.width = Length::px(240);
    name.on_change = std::make_shared<const std::function<std::optional<Message>(const std::string&)>>(
        [](const std::string& t) -> std::optional<Message> { return Message(Pressed{"name", t}); });
    fields.children.push_back(std::move(name));
    TextEdit password;
    password.placeholder = "Password";
    password.password = true;
    password.value = WipingString(state.password);
    password.width = Length::px(240);
    password.on_change = std::make_shared<const std::function<std::optional<Message>(const std::string&)>>(
        [](const std::string& t) -> std::optional<Message> { return Message(Pressed{"password", t}); });
    fields.children.push_back(std::move(password));

    Slider volume;
    volume.value = state.volume;
    volume.on_change = std::make_shared<const std::function<std::optional<Message>(float)>>(
        [](float v) -> std::optional<Message> { return Message(Pressed{"slider", {}, v}); });

    ProgressBar bar;
    bar.color = theme::palette_accent();
    bar.value = state.progress;

    Divider divider;
    divider.color = theme::palette_divider();

    Image picture;
    picture.size = Length::px(16);
    picture.image = ImageData::from(std::vector<std::uint8_t>(16 * 16 * 4, 0x80), 16, 16);

    GestureArea tap;
    tap.on_tap = Message(Pressed{"Tap area"});
    tap.child = Box<Element>(text("Tap area", 14, theme::palette_text_primary()));

    WindowButton close;
    close.on_press = Message(Pressed{"Close"});

    VerticalSlider level;
    level.value = state.level;
    level.width = Length::px(32);
    level.height = Length::px(72);
    level.on_change = std::make_shared<const std::function<std::optional<Message>(float)>>(
        [](float v) -> std::optional<Message> { return Message(Pressed{"level", {}, v}); });

    Row extras;
    extras.spacing = Length::px(16);
    extras.children.push_back(std::move(picture));
    extras.children.push_back(std::move(tap));
    extras.children.push_back(std::move(close));
    extras.children.push_back(std::move(level));

    Column items;
    for (int i = 1; i <= 40; ++i) {
        ListItem item;
        item.title = "Item " + std::to_string(i);
        item.on_tap = Message(Pressed{item.title});
        items.children.push_back(std::move(item));
    }
    Scroll list;
    list.child = Box<Element>(Element(std::move(items)));

    Column page;
    page.padding = Length::px(12);
    page.spacing = Length::px(6);
    page.center_x = false;
    page.children.push_back(text("Gallery", 22, theme::palette_text_primary()));
    page.children.push_back(text("Every kind of element the toolkit draws.", 14, theme::palette_text_secondary()));
    actions.children.push_back(std::move(wifi));
    page.children.push_back(std::move(actions));
    choices.children.insert(choices.children.begin(), Element(std::move(remember)));
    page.children.push_back(std::move(choices));
    page.children.push_back(std::move(fields));
    page.children.push_back(std::move(volume));
    page.children.push_back(text("Copying files", 14, theme::palette_text_secondary()));
    page.children.push_back(std::move(bar));
    page.children.push_back(std::move(divider));
    page.children.push_back(std::move(extras));
    page.children.push_back(Expanded{Box<Element>(Element(std::move(list)))});
    return page;
}

Element fields_page(const FieldsState& state) {
    Column page;
    page.padding = Length::px(12);
    page.spacing = Length::px(8);
    page.center_x = false;
    for (const auto& [which, value] : {std::pair{"first", &state.first}, std::pair{"second", &state.second}}) {
        TextEdit field;
        field.placeholder = which;
        field.key = std::string("edit.") + which;
        field.value = WipingString(*value);
        field.width = Length::px(400);
        const std::string name = which;
        field.on_change = std::make_shared<const std::function<std::optional<Message>(const std::string&)>>(
            [name](const std::string& t) -> std::optional<Message> { return Message(Pressed{name, t}); });
        page.children.push_back(std::move(field));
    }
    // Somewhere for the focus to go that is not a field.
    page.children.push_back(button("Done", "fields.done"));
    return page;
}

}  // namespace zem::gallery

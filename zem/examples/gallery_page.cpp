#include "gallery_page.hpp"

#include <zem/theme/active.hpp>

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

}  // namespace zem::gallery

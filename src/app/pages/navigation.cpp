#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/artwork.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <algorithm>

namespace app {

std::uint32_t navigation_card_size(std::uint32_t window_width) {
    const std::uint32_t a = window_width > 64 ? window_width - 64 : 0;
    const std::uint32_t b = a / 2;
    const std::uint32_t c = b > 24 ? b - 24 : 0;
    return std::max<std::uint32_t>(std::min<std::uint32_t>(c, 220), 96);
}

zem::Element navigation_card(const std::string& title, const std::string& subtitle, std::string_view svg, bool marked,
                             Msg msg, zem::Color accent, std::uint32_t s) {
    const zem::Palette pal = zem::theme::palette();
    zem::Container frame{parts::svg_or_flex(svg, s)};
    frame.fill = zem::Paint{pal.surface};
    frame.radii = {16, 16, 16, 16};
    frame.insets(zem::Length::px(12));
    frame.max_width.reset();
    frame.surface.reset();
    frame.opacity = 1.0f;
    // Marking shows only in the frame's border.
    frame.border = marked ? std::pair<zem::Color, float>{accent, 2.0f} : std::pair<zem::Color, float>{pal.divider, 1.0f};

    zem::Column col = parts::centring_column(8, 16);
    col.children.push_back(std::move(frame));
    zem::Text t = parts::text(title, 15, pal.text_primary, true, zem::TextAlign::Center);
    t.font_weight(700);
    col.children.push_back(std::move(t));
    col.children.push_back(parts::text(subtitle, 12, pal.text_secondary, true, zem::TextAlign::Center));

    zem::GestureArea card;
    card.on_tap = send(std::move(msg));
    card.child = zem::Element(std::move(col));
    return card;
}

zem::Element navigation_page(const InstallerApp& app) {
    using i18n::translate;
    const zem::Palette pal = zem::theme::palette();
    const std::uint32_t s = navigation_card_size(app.layout_size.first);

    zem::Row cards;
    cards.spacing = zem::Length::px(16);
    cards.padding = zem::Length::px(0);
    auto expand = [](zem::Element e) {
        zem::Expanded x;
        x.weight = 1;
        x.child = std::move(e);
        return x;
    };
    cards.children.push_back(expand(navigation_card(translate("navigation.gestures_title"),
                                                    translate("navigation.gestures_subtitle"), art::GESTURES_NAV,
                                                    app.navigation_style == 0, Msg::SetNavigationStyle{0}, pal.accent, s)));
    cards.children.push_back(expand(navigation_card(translate("navigation.buttons_title"),
                                                    translate("navigation.buttons_subtitle"), art::BUTTONS_NAV,
                                                    app.navigation_style == 1, Msg::SetNavigationStyle{1}, pal.accent, s)));

    zem::Column content = parts::centring_column(24, 16);
    content.children.push_back(page_title(translate("navigation.title"), translate("navigation.subtitle")));
    content.children.push_back(std::move(cards));

    zem::Column page = parts::centring_column(24, 24);
    page.children.push_back(page_header(Page::Navigation, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(content)));
    std::optional<Msg> next;
    if (app.navigation_style != 2) next = Msg::Next{};
    page.children.push_back(primary_button(translate("common.continue"), std::move(next)));
    return page_background(std::move(page));
}

} // namespace app

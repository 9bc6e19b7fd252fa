#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <algorithm>

namespace app {

namespace {

zem::Element card(std::vector<zem::Element> rows) {
    zem::Column col;
    col.spacing = zem::Length::px(12);
    col.padding = zem::Length::px(16);
    col.center_x = true;
    col.children = std::move(rows);
    zem::Container c{zem::Element(std::move(col))};
    c.fill = zem::Paint{zem::theme::palette().surface};
    c.radii = {16, 16, 16, 16};
    c.insets(zem::Length::px(20));
    return c;
}

zem::Element icon_row(std::string_view icon, zem::Text label) {
    zem::Row row;
    row.spacing = zem::Length::px(12);
    row.children.push_back(parts::icon_or_flex(icon, 18));
    zem::Expanded grow;
    grow.weight = 1;
    grow.child = zem::Element(std::move(label));
    row.children.push_back(std::move(grow));
    return row;
}

zem::Text card_text(std::string s) {
    zem::Text t = parts::text(std::move(s), 15, zem::theme::palette().text_primary);
    t.wrap = true;
    return t;
}

} // namespace

zem::Element welcome_bullet(const std::string& label) {
    return icon_row("feedback/ok", card_text(label).font_weight(700));
}

zem::Element welcome_page(const InstallerApp& app) {
    const auto [w, h] = app.layout_size;

    zem::Column page;
    page.spacing = zem::Length::px(24);
    page.padding = zem::Length::px(24);
    page.center_x = true;
    page.children.push_back(page_header(Page::Welcome, 0, true, app.configure));

    zem::Column content;
    content.spacing = zem::Length::px(24);
    content.padding = zem::Length::px(16);
    content.center_x = true;
    content.children.push_back(parts::branding_logo(std::min(w, h) / 4).value_or(parts::flex()));
    content.children.push_back(page_title(i18n::translate("welcome.title"), i18n::translate("welcome.subtitle")));

    zem::Column cards;
    cards.spacing = zem::Length::px(16);
    cards.padding = zem::Length::px(16);
    cards.center_x = true;
    if (w > h) cards.max_width = zem::Length::px(0.4f * static_cast<float>(w));
    std::vector<zem::Element> bullets;
    for (const char* key : {"welcome.bullet_1", "welcome.bullet_2", "welcome.bullet_3", "welcome.bullet_4"})
        bullets.push_back(welcome_bullet(i18n::translate(key)));
    cards.children.push_back(card(std::move(bullets)));
    std::vector<zem::Element> duration;
    duration.push_back(icon_row("features/clock", card_text(i18n::translate("welcome.duration"))));
    cards.children.push_back(card(std::move(duration)));
    content.children.push_back(std::move(cards));

    page.children.push_back(parts::scroll(std::move(content)));
    page.children.push_back(primary_button(i18n::translate("welcome.cta"), Msg::Next{}));
    return page_background(std::move(page));
}

} // namespace app

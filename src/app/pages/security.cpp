#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/pages/page_parts.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <array>

namespace app {

zem::Element security_method_row(const std::string& title, const std::string& subtitle, bool marked,
                                 std::uint8_t value) {
    const zem::Palette pal = zem::theme::palette();
    zem::Column texts = parts::centring_column(2, 16);
    // Both wrap: several languages name a method in more than the row's width.
    texts.children.push_back(parts::text(title, 15, pal.text_primary, true));
    texts.children.push_back(parts::text(subtitle, 12, pal.text_secondary, true));

    zem::RadioButton radio;
    radio.selected = marked;
    radio.on_select = send(Msg::SetSecurityMethod{value});
    radio.height = control_height();

    zem::Row row;
    row.spacing = zem::Length::px(16);
    row.padding = zem::Length::px(0);
    row.children.push_back(std::move(texts));
    row.children.push_back(parts::flex());
    row.children.push_back(std::move(radio));

    zem::Container pad{zem::Element(std::move(row))};
    pad.fill = zem::Paint{marked ? pal.surface : zem::Color{0, 0, 0, 0}};
    pad.border.reset();
    pad.radii = {8, 8, 8, 8};
    pad.opacity = 1.0f;
    pad.top = pad.bottom = zem::Length::percent_height(1.25f).with_min(4).with_max(12);
    pad.left = pad.right = zem::Length::px(12);

    zem::GestureArea press;
    press.on_tap = send(Msg::SetSecurityMethod{value});
    press.child = zem::Element(std::move(pad));
    return press;
}

zem::Element security_page(const InstallerApp& app) {
    using i18n::translate;
    struct Method {
        const char* title;
        const char* sub;
    };
    static constexpr std::array<Method, 4> METHODS = {{
        {"security.pin_title", "security.pin_sub"},
        {"security.fingerprint_title", "security.fingerprint_sub"},
        {"security.face_title", "security.face_sub"},
        {"security.pattern_title", "security.pattern_sub"},
    }};

    zem::Column list = parts::centring_column(0, 16);
    for (std::uint8_t v = 0; v < METHODS.size(); ++v)
        list.children.push_back(security_method_row(translate(METHODS[v].title), translate(METHODS[v].sub),
                                                    app.security_method == v, v));

    zem::Column content = parts::centring_column(24, 16);
    content.children.push_back(page_title(translate("security.title"), translate("security.subtitle")));
    content.children.push_back(std::move(list));
    content.children.push_back(info_card(std::nullopt, {translate("security.card")}));

    zem::Column page = parts::centring_column(24, 24);
    page.children.push_back(page_header(Page::Security, app.tutorial_step, true, app.configure));
    page.children.push_back(parts::scroll(std::move(content)));
    std::optional<Msg> next;
    if (app.security_method != 4) next = Msg::Next{};
    page.children.push_back(primary_button(translate("security.cta"), std::move(next)));
    page.children.push_back(parts::plain_button(translate("common.skip_for_now"), Msg::SkipSecurity{}));
    return page_background(std::move(page));
}

} // namespace app
